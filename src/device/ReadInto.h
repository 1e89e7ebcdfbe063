// Reading the board's configuration without loading it: the same fetch as Read, copy 1 standing in
// for (and repairing) a copy 0 whose sum is wrong, and the read password asked when the
// configuration holds one, but the data land in an image of the caller's, so that a comparison
// leaves the session's image and the window alone.
#pragma once

#include <array>
#include <cstdint>

#include "device/Outcome.h"
#include "device/Session.h"

namespace tuva {

// Finds the board and reads its configuration into `work` (4100 bytes, data and trailer as read).
// Anything but Done ended the read early: everything is reported and the port is closed. On
// success the port is still open.
Outcome FetchConfiguration(Session& session, std::array<std::uint8_t, kImageSize>& work);

// Reads the board's data bytes 0..4093 over those of `into`; its sum and check bytes stay as they
// were, as a Read leaves them. No "Read Sucess!" message and no refill of the window; the port is
// closed, Write enabled and the status " Ready" again on every way out.
Outcome ReadConfigurationInto(Session& session, ConfigImage& into);

}  // namespace tuva
