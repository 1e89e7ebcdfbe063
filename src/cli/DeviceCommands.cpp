// The tuvactl commands that talk to a board: each runs one device operation of the programmer on
// a link whose front end is the terminal.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Signals.h"
#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "device/ReadInto.h"
#include "files/ConfigFile.h"
#include "image/Utf8.h"
#include "link/Discovery.h"
#include "link/NetworkPort.h"
#include "service/FirmwareProgramming.h"

namespace tuva::cli {
namespace {

constexpr const char* kDialoutFix =
    "add the user to the dialout group (sudo usermod -aG dialout $USER), then log in again";

FrontendSettings SettingsOf(const Options& options) {
  FrontendSettings settings;
  settings.yes = options.yes;
  if (options.passwordGiven) settings.password = options.password;
  settings.quiet = options.quiet;
  return settings;
}

std::string TraceLine(bool sent, std::span<const std::uint8_t> bytes) {
  std::ostringstream line;
  line << (sent ? "-> " : "<- ") << bytes.size() << ":" << std::hex << std::uppercase
       << std::setfill('0');
  for (const std::uint8_t byte : bytes) line << ' ' << std::setw(2) << unsigned{byte};
  return line.str();
}

// The terminal front end, the document and a link on them, with the command line's ports and
// trace.
class CliSession {
 public:
  explicit CliSession(const Options& options)
      : frontend(SettingsOf(options)), link(frontend, document), signals([this](int signal) {
          // What a signal would leave wrong: the terminal's echo, when the password prompt turned
          // it off, and the serial line's exclusive use, which a pseudo-terminal (the simulated
          // board) would keep after the program is gone, refusing the next program that opens it.
          frontend.RestoreTerminal();
          if (const int fd = link.port.Descriptor(); fd >= 0) ioctl(fd, TIOCNXCL);
          SignalStop::EndAs(signal);
        }) {
    link.ports = options.ports;
    if (options.trace) {
      link.protocol.trace = [this](bool sent, std::span<const std::uint8_t> bytes) {
        frontend.Note(TraceLine(sent, bytes));
      };
    }
  }

  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  CliFrontend frontend;
  Document document;
  BoardLink link;
  SignalStop signals;  // from its start to its end, a signal puts the above right first
};

// A regular file, a folder or a character device without a terminal's line settings (/dev/null)
// is no serial port. A device this user may not open is left to the board search, which names
// the fix.
bool IsSerialPort(const std::string& device) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return true;
  if (!S_ISCHR(info.st_mode)) return false;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  struct termios settings {};
  const bool terminal = ::tcgetattr(fd, &settings) == 0;
  ::close(fd);
  return terminal;
}

// A device named by --port must exist; one that exists but may not be opened is reported by the
// board search with the fix. A network port must be a well-formed URL; whether its server answers
// is the board search's to find out.
void RequireDevices(const Options& options) {
  for (const std::string& device : options.ports) {
    if (auto problem = PortNameProblem(device)) throw UsageError(*problem);
    if (IsNetworkPortName(device)) continue;
    std::error_code error;
    if (!std::filesystem::exists(device, error)) {
      throw UsageError(device + ": no such device");
    }
    if (!IsSerialPort(device)) throw UsageError(device + " is not a serial port");
  }
}

int Result(const Outcome& outcome) {
  return outcome.Done() ? kExitSuccess : kExitFailed;
}

// Write and Verify: the board against the configuration file.
int RunConfigurationCommand(const Options& options, Outcome (*operation)(BoardLink&, Document&)) {
  RequireDevices(options);
  CliSession cli(options);
  cli.document.image = OpenConfigImage(options.file);
  return Result(operation(cli.link, cli.document));
}

int RunFirmwareCommand(const Options& options, Outcome (*operation)(BoardLink&, const Document&)) {
  RequireReadableFile(options.file);
  RequireDevices(options);
  CliSession cli(options);
  if (!LoadFirmwareFile(cli.frontend, cli.document.firmware, options.file)) return kExitUsage;
  // Comparing a board with a file that is no firmware proves nothing; programming it would
  // erase the board for garbage.
  if (!cli.document.firmware.refusal.empty()) {
    throw UsageError(options.file + ": " + cli.document.firmware.refusal);
  }
  return Result(operation(cli.link, cli.document));
}

}  // namespace

int PortsCommand(const Options&) {
  const std::vector<PortInfo> ports = EnumeratePorts();
  if (ports.empty()) {
    std::cerr << "tuvactl: no serial ports found" << std::endl;
    return kExitSuccess;
  }
  std::cout << std::left << std::setw(16) << "DEVICE" << std::setw(14) << "DRIVER" << std::setw(11)
            << "CANDIDATE"
            << "DESCRIPTION\n";
  for (const PortInfo& port : ports) {
    std::string note = port.candidate ? "yes" : "no";
    std::string description = port.description;
    if (!port.candidate && !port.reason.empty()) description += " (" + port.reason + ")";
    if (access(port.device.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
      description += " [no permission: " + std::string(kDialoutFix) + "]";
    }
    std::cout << std::setw(16) << port.device << std::setw(14)
              << (port.driver.empty() ? "-" : port.driver) << std::setw(11) << note << description
              << '\n';
  }
  return kExitSuccess;
}

int ProbeCommand(const Options& options) {
  RequireDevices(options);
  CliSession cli(options);
  if (!cli.link.FindBoard()) {
    ReportBoardNotFound(cli.link);
    return kExitFailed;
  }
  std::cout << cli.link.port.PortName() << std::endl;
  ClosePort(cli.link);
  return kExitSuccess;
}

int FirmwareCommand(const Options& options) {
  RequireDevices(options);
  CliSession cli(options);
  // The identification line is the command's output, on stdout; what went wrong goes to stderr.
  cli.frontend.StartCapture();
  const Outcome outcome = CheckFirmware(cli.link);
  const std::vector<std::string> messages = cli.frontend.StopCapture();
  if (outcome.Done()) {
    std::cout << ValidUtf8(outcome.firmwareLine) << std::endl;
  } else {
    for (const std::string& message : messages) cli.frontend.Note(message);
  }
  return Result(outcome);
}

int ReadCommand(const Options& options) {
  RequireWritableFile(options.file);
  RequireDevices(options);
  CliSession cli(options);
  // The read's messages are held back until the file is saved; its success tells of the file.
  cli.frontend.StartCapture();
  const Outcome outcome = ReadConfigurationInto(cli.link, cli.document, cli.document.image);
  const bool read = outcome.Done();
  const std::vector<std::string> messages = cli.frontend.StopCapture();
  const FileResult saved = read ? SaveConfigFile(options.file, cli.document.image) : FileResult{};
  for (const std::string& message : messages) cli.frontend.Note(message);
  if (!read) return kExitFailed;
  if (saved.ok()) cli.frontend.Note(kReadSuccess);
  if (outcome.copyZeroUnrepaired) cli.frontend.Note(kCopyZeroUnrepaired);
  if (!saved.ok()) {
    cli.frontend.Note("tuvactl: " + options.file + ": " +
                      (saved.caption.empty() ? "" : saved.caption + ": ") + saved.message);
    return kExitFailed;
  }
  if (!HasFileTag(cli.document.image.bytes())) {
    cli.frontend.Note(
        "tuvactl: warning: the board's configuration carries no \"FLEX  \" text at "
        "0x84B; " +
        options.file + " is saved, but the programmer will not open it.");
  }
  return kExitSuccess;
}

int WriteCommand(const Options& options) {
  return RunConfigurationCommand(options, WriteConfiguration);
}

int VerifyCommand(const Options& options) {
  return RunConfigurationCommand(options, VerifyConfiguration);
}

int FirmwareVerifyCommand(const Options& options) {
  return RunFirmwareCommand(options, VerifyFirmware);
}

int FirmwareProgramCommand(const Options& options) {
  return RunFirmwareCommand(options, ProgramFirmware);
}

bool RunOnBoard(const Options& options,
                const std::function<bool(BoardLink&, Document&)>& operation) {
  RequireDevices(options);
  CliSession cli(options);
  return operation(cli.link, cli.document);
}

void RequireReadableFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw UsageError(path + ": no such file");
  if (std::filesystem::is_directory(path, error)) throw UsageError(path + ": is a directory");
  if (access(path.c_str(), R_OK) != 0) {
    throw UsageError(path + ": cannot be read (" + std::strerror(errno) + ")");
  }
}

void RequireWritableFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(path, error)) {
    if (fs::is_directory(path, error)) throw UsageError(path + ": is a directory");
    if (access(path.c_str(), W_OK) != 0) {
      throw UsageError(path + ": cannot be written (" + std::strerror(errno) + ")");
    }
    return;
  }
  fs::path directory = fs::path(path).parent_path();
  if (directory.empty()) directory = ".";
  if (!fs::is_directory(directory, error)) {
    throw UsageError(path + ": the folder " + directory.string() + " does not exist");
  }
  if (access(directory.c_str(), W_OK) != 0) {
    throw UsageError(path + ": cannot be created (" + std::strerror(errno) + ")");
  }
}

}  // namespace tuva::cli
