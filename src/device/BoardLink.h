// What a device operation works on: the document (the configuration image and the firmware
// buffer a front end edits and loads) and the link to the board (the serial port, the protocol
// over it and where the board is looked for). A front end owns one of each.
#pragma once

#include <string>
#include <vector>

#include "image/ConfigImage.h"
#include "image/FirmwareBuffer.h"
#include "link/CommPort.h"
#include "link/Frontend.h"
#include "link/Protocol.h"

namespace tuva {

struct Document {
  ConfigImage image = ConfigImage::StartupImage();
  FirmwareBuffer firmware;
};

class BoardLink {
 public:
  // The frames of a Write carry their payload from `document`: an operation that writes is given
  // this same document.
  BoardLink(Frontend& frontend, const Document& document);

  Frontend& frontend;
  TCommPort port;
  Protocol protocol;

  // Where the board is looked for: explicit devices (--port, --demo) replace the enumeration.
  std::vector<std::string> ports;
  std::string sysfsRoot = "/sys/class/tty";
  std::string devRoot = "/dev";
  // Devices that the last search could not open for lack of permission, and those another
  // program held.
  std::vector<std::string> deniedPorts;
  std::vector<std::string> busyPorts;

  // The board search over `ports` or the enumeration; true with the port open on the board.
  bool FindBoard();
};

}  // namespace tuva
