#include "device/Session.h"

#include "link/Discovery.h"

namespace tuva {

Session::Session(Frontend& frontend_)
    : frontend(frontend_), protocol(port, frontend_, image, firmware.bytes) {}

bool Session::FindBoard() {
  deniedPorts.clear();
  busyPorts.clear();
  port.ForgetUnreachable();
  std::vector<std::string> devices = ports;
  if (devices.empty()) devices = CandidateDevices(EnumeratePorts(sysfsRoot, devRoot));
  return tuva::FindBoard(protocol, devices, &deniedPorts, &busyPorts);
}

}  // namespace tuva
