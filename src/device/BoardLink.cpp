#include "device/BoardLink.h"

#include "link/Discovery.h"

namespace tuva {

BoardLink::BoardLink(Frontend& frontend_, const Document& document)
    : frontend(frontend_), protocol(port, frontend_, document.image, document.firmware.bytes) {}

bool BoardLink::FindBoard() {
  deniedPorts.clear();
  busyPorts.clear();
  port.ForgetUnreachable();
  if (!ports.empty()) return tuva::FindBoard(protocol, ports, &deniedPorts, &busyPorts);
  // The search's own candidates: one that cannot be opened (an adapter pulled out while it was
  // listed) is not worth a note of its own; a port the user chose is.
  const bool found = tuva::FindBoard(protocol, CandidateDevices(EnumeratePorts(sysfsRoot, devRoot)),
                                     &deniedPorts, &busyPorts);
  port.ForgetUnreachable();
  return found;
}

}  // namespace tuva
