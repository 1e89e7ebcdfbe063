#include "link/Discovery.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

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

// One port of the board search: a line of its own, the probe's sequence number and the
// acknowledgement as it arrives.
struct Candidate {
  enum class State { Failed, Waiting, Acknowledged };
  TCommPort port;
  std::uint8_t sequence = 0;
  std::vector<std::uint8_t> ack;
  State state = State::Failed;
  // Like the one-port exchange, a byte is waited for over kFruitlessPollLimit polls of the probe
  // interval, and at least that long.
  int fruitless = 0;
  std::chrono::steady_clock::time_point deadline{};
};

constexpr std::size_t kAckSize = 4;
constexpr std::uint8_t kAccepted = 0x06;

void CloseQuietly(TCommPort& port) {
  try {
    port.Close();
  } catch (const ECommError&) {
    // The descriptor is gone either way.
  }
}

// Opens `device` and sends it a probe; the candidate stays Failed when either cannot be done.
void StartProbe(Protocol& protocol, const std::string& device, Candidate& candidate,
                std::vector<std::string>* denied, std::vector<std::string>* busy,
                std::chrono::milliseconds patience) {
  try {
    candidate.port.Reconfigure(19200, device, 1);
  } catch (const ECommError& error) {
    if (denied && (error.SystemError == EACCES || error.SystemError == EPERM)) {
      denied->push_back(device);
    }
    if (busy && error.SystemError == EBUSY) busy->push_back(device);
    return;
  }
  try {
    candidate.port.Purge();
    candidate.sequence = protocol.NextSequence();
    const auto wire =
        StuffFrame(BuildFrame(candidate.sequence, kProbe, ArgumentOf(kProbe), 0, 0, {}));
    candidate.port.Write(wire.data(), static_cast<std::uint32_t>(wire.size()));
    if (protocol.trace) protocol.trace(true, wire);
    candidate.state = Candidate::State::Waiting;
    candidate.deadline = std::chrono::steady_clock::now() + patience;
  } catch (const ECommError&) {
    // The port failed under the probe (an adapter pulled out): a silent port.
    CloseQuietly(candidate.port);
  }
}

// Takes what has arrived on a waiting candidate; each byte renews its patience, as the one-port
// exchange waits that long for every byte of an acknowledgement.
void TakeInput(Candidate& candidate, short events, std::chrono::milliseconds patience) {
  const auto now = std::chrono::steady_clock::now();
  try {
    std::uint32_t queued = candidate.port.InQueue();
    if (queued == 0 && (events & (POLLHUP | POLLERR))) {
      candidate.state = Candidate::State::Failed;
      return;
    }
    if (queued == 0) ++candidate.fruitless;
    for (; queued > 0 && candidate.ack.size() < kAckSize; --queued) {
      candidate.ack.push_back(candidate.port.ReadByte());
      candidate.deadline = now + patience;
      candidate.fruitless = 0;
    }
  } catch (const ECommError&) {
    candidate.state = Candidate::State::Failed;
    return;
  }
  if (candidate.ack.size() == kAckSize) {
    candidate.state =
        candidate.ack[1] == kAccepted ? Candidate::State::Acknowledged : Candidate::State::Failed;
  } else if (candidate.fruitless > kFruitlessPollLimit && now >= candidate.deadline) {
    candidate.state = Candidate::State::Failed;
  }
}

// The first candidate in order that acknowledged once every one before it has failed; -1 while
// that is not yet known, and candidates.size() when all failed.
std::ptrdiff_t Decided(const std::vector<std::unique_ptr<Candidate>>& candidates) {
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (candidates[i]->state == Candidate::State::Waiting) return -1;
    if (candidates[i]->state == Candidate::State::Acknowledged)
      return static_cast<std::ptrdiff_t>(i);
  }
  return static_cast<std::ptrdiff_t>(candidates.size());
}

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
               std::vector<std::string>* denied, std::vector<std::string>* busy) {
  if (devices.empty()) return false;
  TCommPort& port = protocol.port();
  Frontend& frontend = protocol.frontend();
  CloseQuietly(port);
  // Every candidate is probed at once; a silent port costs its time-out only once, whatever the
  // number of ports.
  const auto patience = protocol.probePollInterval() * kFruitlessPollLimit;
  std::vector<std::unique_ptr<Candidate>> candidates;
  bool probed = false;
  for (const auto& device : devices) {
    candidates.push_back(std::make_unique<Candidate>());
    StartProbe(protocol, device, *candidates.back(), denied, busy, patience);
    probed = probed || candidates.back()->state == Candidate::State::Waiting;
  }

  std::ptrdiff_t chosen = Decided(candidates);
  std::vector<pollfd> waiters;
  std::vector<Candidate*> waiting;
  while (chosen < 0) {
    waiters.clear();
    waiting.clear();
    for (auto& candidate : candidates) {
      if (candidate->state != Candidate::State::Waiting) continue;
      waiters.push_back({candidate->port.Descriptor(), POLLIN, 0});
      waiting.push_back(candidate.get());
    }
    ::poll(waiters.data(), waiters.size(),
           static_cast<int>(std::max<long long>(1, protocol.probePollInterval().count())));
    frontend.ProcessEvents();
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      TakeInput(*waiting[i], waiters[i].revents, patience);
    }
    chosen = Decided(candidates);
  }
  // A network port that could not be reached is named in the search's report.
  for (const auto& candidate : candidates) port.KeepUnreachable(candidate->port);

  if (static_cast<std::size_t>(chosen) == candidates.size()) {
    if (probed) protocol.linkError = true;
    return false;
  }
  Candidate& winner = *candidates[static_cast<std::size_t>(chosen)];
  port.TakeOver(winner.port);
  protocol.SetSequence(winner.sequence);
  protocol.linkError = false;
  if (protocol.trace) protocol.trace(false, winner.ack);
  return true;
}

}  // namespace tuva
