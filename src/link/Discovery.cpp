#include "link/Discovery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tuva {
namespace fs = std::filesystem;
namespace {

// The board sits behind an on-board UART (the 8250 family and the SoC UARTs that register
// through it) or behind a Prolific PL2303 adapter; those are the drivers it is known to work with.
bool IsUartDriver(const std::string& driver) {
  static const char* const kNames[] = {"serial8250", "serial",      "dw-apb-uart", "pxa2xx-uart",
                                       "of_serial",  "exar_serial", "lpss_8250",   "mid_8250"};
  if (std::find(std::begin(kNames), std::end(kNames), driver) != std::end(kNames)) return true;
  return driver.rfind("8250", 0) == 0;
}

bool IsSupportedDriver(const std::string& driver) {
  return IsUartDriver(driver) || driver == "pl2303";
}

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// Product and maker from the USB device above the tty, when there is one.
std::string UsbDescription(const fs::path& device) {
  std::error_code error;
  fs::path dir = fs::canonical(device, error);
  if (error) return {};
  for (int level = 0; level < 3 && !dir.empty(); ++level, dir = dir.parent_path()) {
    const std::string product = ReadLine(dir / "product");
    if (product.empty()) continue;
    const std::string maker = ReadLine(dir / "manufacturer");
    if (maker.empty() || product.find(maker) != std::string::npos) return product;
    return maker + " " + product;
  }
  return {};
}

// ttyS2 before ttyS10: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = std::isdigit(static_cast<unsigned char>(a[i]));
    const bool digitB = std::isdigit(static_cast<unsigned char>(b[j]));
    if (digitA && digitB) {
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
      while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
      std::string numA = a.substr(i, endA - i);
      std::string numB = b.substr(j, endB - j);
      numA.erase(0, std::min(numA.find_first_not_of('0'), numA.size()));
      numB.erase(0, std::min(numB.find_first_not_of('0'), numB.size()));
      if (numA.size() != numB.size()) return numA.size() < numB.size();
      if (numA != numB) return numA < numB;
      i = endA;
      j = endB;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;
}

std::string LinkName(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? std::string() : target.filename().string();
}

// The driver of the hardware behind a tty. Newer kernels put the serial core's own "port" and
// "ctrl" devices (bus serial-base) between the tty and the UART; the driver that tells what the
// hardware is sits on the device above them.
std::string DriverOf(const fs::path& device) {
  std::error_code error;
  fs::path dir = fs::canonical(device, error);
  if (error) return LinkName(device / "driver");
  for (int level = 0; level < 4 && !dir.empty(); ++level, dir = dir.parent_path()) {
    if (LinkName(dir / "subsystem") == "serial-base") continue;
    return LinkName(dir / "driver");
  }
  return {};
}

PortInfo Describe(const fs::path& entry, const std::string& name, const std::string& devRoot) {
  PortInfo port;
  port.name = name;
  port.device = devRoot + "/" + name;
  const fs::path device = entry / "device";
  port.driver = DriverOf(device);

  port.description = UsbDescription(device);
  if (port.description.empty()) port.description = port.driver;

  if (port.driver.empty()) {
    port.reason = "no driver is bound to it";
  } else if (!IsSupportedDriver(port.driver)) {
    port.reason = "driver " + port.driver + " is not a supported serial-port driver";
  } else if (IsUartDriver(port.driver) && ReadLine(entry / "type") == "0") {
    // The 8250 driver registers its ports whether or not a chip answers at their address.
    port.reason = "no UART hardware behind it";
  } else {
    port.candidate = true;
  }
  return port;
}

// Waits `ms` in small slices so that the front end stays responsive.
void Pause(Frontend& frontend, int ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < deadline) {
    frontend.ProcessEvents();
    const auto slice =
        std::min<Clock::duration>(std::chrono::milliseconds(20), deadline - Clock::now());
    if (slice > Clock::duration::zero()) std::this_thread::sleep_for(slice);
  }
}

// Clears the probe flag however the probe ends.
struct ProbeFlag {
  explicit ProbeFlag(Protocol& protocol) : protocol_(protocol) { protocol_.probe = true; }
  ~ProbeFlag() { protocol_.probe = false; }
  ProbeFlag(const ProbeFlag&) = delete;
  ProbeFlag& operator=(const ProbeFlag&) = delete;
  Protocol& protocol_;
};

}  // namespace

std::vector<PortInfo> EnumeratePorts(const std::string& sysfsRoot, const std::string& devRoot) {
  std::vector<PortInfo> ports;
  std::error_code error;
  fs::directory_iterator it(sysfsRoot, error);
  if (error) return ports;
  for (const auto& entry : it) {
    std::error_code exists;
    // Virtual consoles and pseudo-terminals have no device behind them; they are not ports.
    if (!fs::exists(entry.path() / "device", exists)) continue;
    ports.push_back(Describe(entry.path(), entry.path().filename().string(), devRoot));
  }
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
    if (a.candidate != b.candidate) return a.candidate;
    return NaturalLess(a.name, b.name);
  });
  return ports;
}

std::vector<std::string> CandidateDevices(const std::vector<PortInfo>& ports) {
  std::vector<std::string> devices;
  for (const auto& port : ports) {
    if (port.candidate) devices.push_back(port.device);
  }
  return devices;
}

bool FindBoard(Protocol& protocol, const std::vector<std::string>& devices,
               std::vector<std::string>* denied) {
  TCommPort& port = protocol.port();
  Frontend& frontend = protocol.frontend();
  for (const auto& device : devices) {
    try {
      port.Reconfigure(19200, device, 1);
    } catch (const ECommError& error) {
      if (denied && (error.SystemError == EACCES || error.SystemError == EPERM)) {
        denied->push_back(device);
      }
      Pause(frontend, 1000);
      continue;
    }
    try {
      port.Purge();
      protocol.linkError = false;
      ProbeFlag probing(protocol);
      protocol.SendCommand(0, 0, kProbe, ArgumentOf(kProbe), 0);
    } catch (const ECommError&) {
      // The port failed under the probe (an adapter pulled out): treat it as a silent port.
      protocol.linkError = true;
    }
    if (!protocol.linkError) return true;
    try {
      port.Close();
    } catch (const ECommError&) {
      // The descriptor is gone either way; the next Reconfigure starts from a closed port.
    }
    Pause(frontend, 1500);
  }
  return false;
}

}  // namespace tuva
