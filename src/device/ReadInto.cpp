#include "device/ReadInto.h"

#include <span>

#include "device/OperationSupport.h"

namespace tuva {

Outcome ReadConfigurationInto(Session& session, ConfigImage& into) {
  return Reported(session, [&session, &into] {
    std::array<std::uint8_t, kImageSize> work{};
    const Outcome fetched = FetchConfiguration(session, work);
    if (!fetched.Done()) return fetched;
    into.AssignData(std::span<const std::uint8_t, kImageDataSize>(work.data(), kImageDataSize));
    ClosePort(session);
    session.frontend.SetWriteEnabled(true);
    session.frontend.SetStatus(Status::Ready);
    session.protocol.progress.Restart();
    return fetched;
  });
}

}  // namespace tuva
