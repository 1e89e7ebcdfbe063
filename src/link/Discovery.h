// Finding the board: list the serial ports the system has, keep the candidates, and probe each at
// 19200 baud 8N1 until one acknowledges.
#pragma once

#include <string>
#include <vector>

#include "link/Protocol.h"

namespace tuva {

struct PortInfo {
  std::string name;         // tty name, e.g. ttyUSB0
  std::string device;       // /dev/ttyUSB0
  std::string driver;       // kernel driver, e.g. pl2303, serial8250, ftdi_sio
  std::string description;  // product or driver text for people
  bool candidate = false;   // tried by the board search
  std::string reason;       // why not, when not a candidate
};

// Every tty under `sysfsRoot` (normally /sys/class/tty) that has a device, candidates first in
// natural name order (ttyS2 before ttyS10). `devRoot` prefixes the device paths (normally /dev).
std::vector<PortInfo> EnumeratePorts(const std::string& sysfsRoot = "/sys/class/tty",
                                     const std::string& devRoot = "/dev");

// Device paths of the candidates, in the order they are tried.
std::vector<std::string> CandidateDevices(const std::vector<PortInfo>& ports);

// Probes every device at once and keeps the first in order that acknowledges (once every one
// before it has failed); the others are closed. True: the port is open on the board. False: the
// port is closed.
// `denied`, when given, receives the devices that could not be opened for lack of permission;
// `busy` those that another program holds (they are skipped, never probed).
bool FindBoard(Protocol& protocol, const std::vector<std::string>& devices,
               std::vector<std::string>* denied = nullptr,
               std::vector<std::string>* busy = nullptr);

}  // namespace tuva
