#include "series/SeriesRun.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "image/CapcodeCodec.h"
#include "link/NetworkPort.h"
#include "records/Sha256.h"
#include "series/SeriesImage.h"

namespace tuva::series {
namespace {

using Clock = std::chrono::steady_clock;

// A port's front end: nothing is shown, the last message is kept for the record, and the
// overwrite question for a board whose two copies are both bad is answered Yes (a new board).
class QuietFrontend : public Frontend {
 public:
  void SetStatus(const std::string&) override {}
  void SetProgressMax(int) override {}
  void SetProgress(int) override {}
  void StepProgress(int) override {}
  void ShowMessage(const std::string& text) override { message = text; }
  void ShowMessageBox(const std::string&, const std::string& text, MessageIcon) override {
    message = text;
  }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  std::optional<std::string> AskText(const std::string&, const std::string&,
                                     const std::string&) override {
    return std::nullopt;
  }
  void SetWriteEnabled(bool) override {}
  void ProcessEvents() override {}

  std::string message;
};

bool IsFlex(const std::string& firmwareLine) {
  return ModelOfLine(firmwareLine) == "FLEX  ";
}

// "Model : FLEX    Version = 2.41" as "FLEX 2.41"; other texts as they are.
std::string ShortFirmware(const std::string& line) {
  const std::string marker = "Version = ";
  const auto at = line.find(marker);
  if (line.rfind("Model : ", 0) != 0 || at == std::string::npos) return line;
  std::string model = ModelOfLine(line);
  while (!model.empty() && model.back() == ' ') model.pop_back();
  std::string text = model;
  text += " ";
  text += line.substr(at + marker.size());
  return text;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A local adapter that is unplugged has no device node; a bench behind a serial server has none
// to look at, and only its probe tells whether a board is there.
bool DeviceExists(const std::string& device) {
  if (IsNetworkPortName(device)) return true;
  std::error_code error;
  return std::filesystem::exists(device, error);
}

}  // namespace

std::string BoardReport::Line() const {
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1f", seconds);
  std::string line = port;
  for (const std::string* column : {&capcodes, &firmware, &result}) {
    line += "  ";
    line += column->empty() ? "-" : *column;
  }
  line += "  ";
  line += duration;
  return line;
}

SeriesRun::SeriesRun(records::RecordStore& store, SeriesPlan plan,
                     std::function<void(const BoardReport&)> report)
    : store_(store),
      plan_(std::move(plan)),
      report_(std::move(report)),
      keeper_(store, records::DefaultJournalPath()) {
  for (const auto& counting : plan_.counting) {
    // The pool reaches one step past the slot's range: the capcode that leaves it is taken, then
    // refused by the capcode editor's own check, with its message, before the board is touched
    // (and goes back to the pool).
    const std::uint64_t past =
        std::uint64_t{SlotMaximum(plan_.templateImage, counting.slot)} + counting.step;
    slots_.push_back({counting.slot, counting.first, counting.step,
                      static_cast<std::uint32_t>(std::min<std::uint64_t>(past, UINT32_MAX))});
  }
}

void SeriesRun::Run() {
  const Heartbeat heartbeat(store_);
  std::vector<std::thread> ports;
  for (const auto& device : plan_.ports) ports.emplace_back(&SeriesRun::ServePort, this, device);
  for (auto& port : ports) port.join();
}

void SeriesRun::Stop() {
  store_.StopWaiting();  // a database that is away is not waited for: results go to the journal
  std::lock_guard lock(mutex_);
  stop_ = true;
  changed_.notify_all();
}

int SeriesRun::programmed() const {
  std::lock_guard lock(mutex_);
  return programmed_;
}

std::string SeriesRun::problem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

void SeriesRun::Halt(const std::string& problem) {
  std::lock_guard lock(mutex_);
  if (problem_.empty()) problem_ = problem;
  stop_ = true;
  changed_.notify_all();
}

bool SeriesRun::Stopping() const {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool SeriesRun::Pause(std::chrono::milliseconds interval) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, interval, [this] { return stop_; });
  return !stop_;
}

bool SeriesRun::TakeTicket() {
  // A board is taken only while the boards programmed and those being written fall short of the
  // count; a port that finds one more waits to see whether a board being written fails.
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stop_ || programmed_ + inFlight_ < plan_.count; });
  if (stop_) return false;
  ++inFlight_;
  return true;
}

void SeriesRun::ReturnTicket(bool programmed) {
  std::lock_guard lock(mutex_);
  --inFlight_;
  if (programmed) ++programmed_;
  if (programmed_ >= plan_.count) stop_ = true;
  changed_.notify_all();
}

records::Attempt SeriesRun::Reserve(const records::Attempt& start) {
  return store_.Reserve(start, slots_);
}

void SeriesRun::MarkErased(std::int64_t id) {
  store_.MarkErased(id);
}

void SeriesRun::ServePort(const std::string& device) {
  while (!Stopping()) {
    std::string firmwareLine;
    if (!WaitForBoard(device, firmwareLine)) return;
    if (!TakeTicket()) return;
    const BoardReport report = ProgramBoard(device, firmwareLine);
    {
      std::lock_guard lock(mutex_);
      if (report_) report_(report);
    }
    ReturnTicket(report.programmed);
    WaitUntilGone(device);
  }
}

bool SeriesRun::WaitForBoard(const std::string& device, std::string& firmwareLine) {
  for (;;) {
    if (Stopping()) return false;
    // A device node that is missing is an adapter not plugged in (yet): no board.
    if (DeviceExists(device)) {
      QuietFrontend frontend;
      Session session(frontend);
      session.ports = {device};
      if (session.FindBoard()) {
        try {
          firmwareLine = IdentifyFirmware(session);
        } catch (const ECommError&) {
          // Gone again at once: the Write finds no board and says so.
        }
        ClosePort(session);
        return true;
      }
    }
    if (!Pause(plan_.probeInterval)) return false;
  }
}

void SeriesRun::WaitUntilGone(const std::string& device) {
  while (Pause(plan_.probeInterval)) {
    if (!DeviceExists(device)) return;
    QuietFrontend frontend;
    Session session(frontend);
    session.ports = {device};
    if (!session.FindBoard()) return;
    ClosePort(session);
  }
}

BoardReport SeriesRun::ProgramBoard(const std::string& device, const std::string& firmwareLine) {
  const auto started = Clock::now();
  BoardReport report;
  report.port = device;
  report.firmware = ShortFirmware(firmwareLine);
  records::Attempt attempt;
  attempt.station = plan_.station;
  attempt.port = device;
  attempt.firmware = firmwareLine;
  try {
    attempt = Reserve(attempt);
  } catch (const records::RecordsError& error) {
    Halt(error.what());
    report.result = std::string("failed: ") + error.what();
    report.seconds = SecondsSince(started);
    return report;
  }
  for (const auto& taken : attempt.taken) {
    if (!report.capcodes.empty()) report.capcodes += ",";
    report.capcodes += std::to_string(taken.capcode);
  }

  auto finish = [&](bool programmed, const std::string& message) {
    attempt.result = programmed ? records::Result::Programmed : records::Result::Failed;
    attempt.message = message;
    attempt.seconds = SecondsSince(started);
    const std::string unrecorded = keeper_.Record(attempt);
    if (!unrecorded.empty()) Halt(unrecorded);
    report.programmed = programmed;
    report.recorded = unrecorded.empty();
    report.result = programmed ? "programmed" : "failed: " + message;
    if (!report.recorded)
      report.result += (programmed ? ", NOT RECORDED: " : "; NOT RECORDED: ") + unrecorded;
    report.seconds = attempt.seconds;
    return report;
  };

  ConfigImage image = plan_.templateImage;
  std::vector<std::pair<int, std::uint32_t>> capcodes;
  for (const auto& taken : attempt.taken) capcodes.emplace_back(taken.slot, taken.capcode);
  if (auto refused = SetCapcodes(image, capcodes)) {
    // The count has left the slot's range: the run stops before this board.
    Halt(*refused);
    return finish(false, *refused);
  }
  attempt.capcodes = CapcodeTexts(image);
  attempt.frequency = FrequencyText(image);
  ConfigImage sealed = image;
  sealed.Seal();
  attempt.sha256 = records::Sha256Hex(sealed.bytes().data(), kImageSize);

  if (firmwareLine.empty()) return finish(false, "The target board is not found !");
  if (!IsFlex(firmwareLine)) return finish(false, kNotFlex);

  QuietFrontend frontend;
  Session session(frontend);
  session.ports = {device};
  session.image = image;
  bool erased = false;
  session.beforeErase = [&] {
    // Once an erase goes out the board may hold these capcodes, whatever happens next.
    if (!erased) MarkErased(attempt.id);
    erased = true;
  };
  bool programmed = false;
  try {
    programmed = WriteConfiguration(session) && VerifyConfiguration(session);
  } catch (const records::RecordsError& error) {
    // The mark could not be recorded, so nothing was erased: the board is left as it was.
    ClosePort(session);
    Halt(error.what());
    return finish(false, error.what());
  }
  if (programmed) return finish(true, frontend.message);
  return finish(false, frontend.message.empty() ? "Transmit Error!" : frontend.message);
}

}  // namespace tuva::series
