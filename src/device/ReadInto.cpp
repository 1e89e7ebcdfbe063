#include "device/ReadInto.h"

#include <span>

#include "device/OperationSupport.h"

namespace tuva {

bool ReadConfigurationInto(Session& session, ConfigImage& into) {
  try {
    std::array<std::uint8_t, kImageSize> work{};
    if (!FetchConfiguration(session, work)) return false;
    into.AssignData(std::span<const std::uint8_t, kImageDataSize>(work.data(), kImageDataSize));
    ClosePort(session);
    session.frontend.SetWriteEnabled(true);
    session.frontend.SetStatus(kStatusReady);
    session.frontend.SetProgress(0);
    return true;
  } catch (const ECommError& error) {
    ReportLinkLost(session, error);
    return false;
  }
}

}  // namespace tuva
