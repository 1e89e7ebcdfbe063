#include "link/Frontend.h"

namespace tuva {

const char* StatusText(Status status) {
  // In the order of Status.
  static constexpr const char* kTexts[] = {" Ready",        " Read ......",   " Write ......",
                                           " Erase ......", " Verify ......", " Waiting ......",
                                           " Error",        " Ready ......"};
  return kTexts[static_cast<int>(status)];
}

}  // namespace tuva
