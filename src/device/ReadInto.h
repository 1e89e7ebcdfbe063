// Reading the board's configuration without loading it: the same fetch as Read, copy 1 standing in
// for (and repairing) a copy 0 whose sum is wrong, and the read password asked when the
// configuration holds one, but the data land in an image of the caller's, so that a comparison
// leaves the document's image and the window alone.
#pragma once

#include "device/BoardLink.h"
#include "device/Outcome.h"

namespace tuva {

// Reads the board's data bytes 0..4093 over those of `into`; its sum and check bytes stay as they
// were, as a Read leaves them. No "Read Sucess!" message and no refill of the window; the port is
// closed, Write enabled and the status " Ready" again on every way out. A repair of copy 0 sends
// copy 1 through `document`, the one the link sends from, and gives its image back.
Outcome ReadConfigurationInto(BoardLink& link, Document& document, ConfigImage& into);

}  // namespace tuva
