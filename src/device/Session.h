// One programming session: the image, the firmware buffer, the serial port, the link state and the
// flags. A front end creates exactly one and runs every device operation on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "image/ConfigImage.h"
#include "image/FirmwareBuffer.h"
#include "link/CommPort.h"
#include "link/Frontend.h"
#include "link/Protocol.h"

namespace tuva {

class Session {
 public:
  explicit Session(Frontend& frontend);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Frontend& frontend;
  ConfigImage image = ConfigImage::StartupImage();
  FirmwareBuffer firmware;
  TCommPort port;
  Protocol protocol;
  RefillGuards guards;

  bool serviceMode = false;  // the window is the firmware-download view
  bool waiting = false;      // the copy writer shows " Waiting ......" (second copy, repair)

  // Where the board is looked for: explicit devices (--port, --demo) replace the enumeration.
  std::vector<std::string> ports;
  std::string sysfsRoot = "/sys/class/tty";
  std::string devRoot = "/dev";
  // Devices that the last search could not open for lack of permission, and those another
  // program held.
  std::vector<std::string> deniedPorts;
  std::vector<std::string> busyPorts;

  // Stores the capcode string editors into the image before Write, Verify and Save; the GUI sets
  // it.
  std::function<void()> collectCapcodeStrings;
  // Refills every editor from the image after a successful Read; the GUI sets it.
  std::function<void()> refreshAll;
  // Runs just before each erase command of a configuration Write is sent: from then on the board
  // may hold the new image (a series marks its capcodes as possibly on the board).
  std::function<void()> beforeErase;

  // The board search over `ports` or the enumeration; true with the port open on the board.
  bool FindBoard();
};

}  // namespace tuva
