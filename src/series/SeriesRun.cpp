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
// The transfers' progress bar, when someone follows it, becomes a percentage over the phases
// that move many bytes (a Write has four: each copy written and read back; a Verify has one).
class QuietFrontend : public Frontend {
 public:
  QuietFrontend() = default;
  explicit QuietFrontend(std::function<void(int)> percent) : percent_(std::move(percent)) {}

  // A new operation with `bigPhases` phases begins.
  void Track(int bigPhases) {
    bigPhases_ = bigPhases;
    maximum_ = 0;
    position_ = 0;
    phasesDone_ = 0;
  }

  void SetStatus(const std::string&) override {}
  void SetProgressMax(int maximum) override {
    if (maximum_ >= kBigPhase && position_ >= maximum_) ++phasesDone_;
    maximum_ = maximum;
    position_ = 0;
  }
  void SetProgress(int position) override {
    // A bar set back to 0 mid-phase is a phase given up; only a full bar counts as done.
    position_ = position;
    Follow();
  }
  void StepProgress(int count) override {
    position_ += count;
    Follow();
  }
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

 private:
  static constexpr int kBigPhase = 1000;  // bytes; erases and trailer checks are far smaller

  void Follow() {
    if (!percent_ || maximum_ < kBigPhase || bigPhases_ == 0) return;
    const int within = std::clamp(position_, 0, maximum_) * 100 / maximum_;
    percent_(std::min(100, (phasesDone_ * 100 + within) / bigPhases_));
  }

  int bigPhases_ = 0;
  std::function<void(int)> percent_;
  int maximum_ = 0;
  int position_ = 0;
  int phasesDone_ = 0;
};

bool IsFlex(const std::string& firmwareLine) {
  return ModelOfLine(firmwareLine) == "FLEX  ";
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

// What one port shows: its status, told to the run's follower whenever it changes.
class PortView {
 public:
  PortView(std::string port, const std::function<void(const PortStatus&)>& sink) : sink_(sink) {
    status_.port = std::move(port);
  }

  void BoardFound() {
    found_ = Clock::now();
    status_.capcodes.clear();
  }
  void Capcodes(std::string capcodes) { status_.capcodes = std::move(capcodes); }

  void Show(PortState state, std::string message = {}) {
    if (state == status_.state && message == status_.message && !shown_) return;
    status_.state = state;
    status_.message = std::move(message);
    status_.percent = 0;
    Tell();
  }

  // Only rises, and is told at most once per percent.
  void Percent(int percent) {
    if (percent <= status_.percent) return;
    status_.percent = percent;
    Tell();
  }

 private:
  void Tell() {
    shown_ = false;
    if (!sink_) return;
    status_.seconds = std::chrono::duration<double>(Clock::now() - found_).count();
    sink_(status_);
  }

  const std::function<void(const PortStatus&)>& sink_;
  PortStatus status_;
  Clock::time_point found_ = Clock::now();
  bool shown_ = true;  // nothing told yet: the first Show is told whatever it says
};

std::string StatusText(const PortStatus& status) {
  switch (status.state) {
    case PortState::NoDevice:
      return "no such device yet";
    case PortState::Waiting:
      return "waiting for a board";
    case PortState::Writing:
      return "writing " + std::to_string(status.percent) + " %";
    case PortState::Verifying:
      return "verifying";
    case PortState::Programmed:
      return "programmed " + status.capcodes + " \u2014 remove the board";
    case PortState::AlreadyProgrammed:
      return "already programmed (" + status.capcodes + ")";
    case PortState::Failed:
      return "failed: " + status.message;
  }
  return {};
}

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
                     std::function<void(const BoardReport&)> report,
                     std::function<void(const PortStatus&)> status)
    : store_(store),
      plan_(std::move(plan)),
      report_(std::move(report)),
      status_(std::move(status)) {
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
  std::vector<std::thread> ports;
  for (const auto& device : plan_.ports) ports.emplace_back(&SeriesRun::ServePort, this, device);
  for (auto& port : ports) port.join();
}

void SeriesRun::Stop() {
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
  std::lock_guard lock(storeMutex_);
  return store_.Reserve(start, slots_);
}

void SeriesRun::MarkErased(std::int64_t id) {
  std::lock_guard lock(storeMutex_);
  store_.MarkErased(id);
}

void SeriesRun::Finish(const records::Attempt& attempt) {
  std::lock_guard lock(storeMutex_);
  store_.Finish(attempt);
}

void SeriesRun::ServePort(const std::string& device) {
  PortView view(device, status_);
  while (!Stopping()) {
    std::string firmwareLine;
    if (!WaitForBoard(device, view, firmwareLine)) return;
    if (!TakeTicket()) return;
    view.BoardFound();
    const BoardReport report = ProgramBoard(device, view, firmwareLine);
    ReturnTicket(report.programmed);
    if (report_) {
      std::lock_guard lock(reportMutex_);
      report_(report);
    }
    WaitUntilGone(device);
  }
}

bool SeriesRun::WaitForBoard(const std::string& device, PortView& view, std::string& firmwareLine) {
  for (;;) {
    if (Stopping()) return false;
    // A device node that is missing is an adapter not plugged in (yet): no board.
    const bool exists = DeviceExists(device);
    view.Show(exists ? PortState::Waiting : PortState::NoDevice);
    if (exists) {
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

// One board from its reservation to its record. Every step after the reservation ends in Finish,
// so the attempt never stays open.
BoardReport SeriesRun::ProgramBoard(const std::string& device, PortView& view,
                                    const std::string& firmwareLine) {
  BoardJob job;
  job.started = Clock::now();
  job.report.port = device;
  job.report.firmware = ShortFirmware(firmwareLine);
  job.attempt.station = plan_.station;
  job.attempt.port = device;
  job.attempt.firmware = firmwareLine;
  if (!ReserveCapcodes(job)) return job.report;
  view.Capcodes(job.report.capcodes);

  if (!PrepareImage(job)) return FinishBoard(job, view, false, job.attempt.message);
  if (firmwareLine.empty()) return FinishBoard(job, view, false, "The target board is not found !");
  if (!IsFlex(firmwareLine)) return FinishBoard(job, view, false, kNotFlex);
  std::string message;
  const bool programmed = WriteAndVerify(job, view, message);
  return FinishBoard(job, view, programmed, message);
}

bool SeriesRun::ReserveCapcodes(BoardJob& job) {
  try {
    job.attempt = Reserve(job.attempt);
  } catch (const records::RecordsError& error) {
    Halt(error.what());
    job.report.result = std::string("failed: ") + error.what();
    job.report.seconds = SecondsSince(job.started);
    return false;
  }
  for (const auto& taken : job.attempt.taken) {
    if (!job.report.capcodes.empty()) job.report.capcodes += ",";
    job.report.capcodes += std::to_string(taken.capcode);
  }
  return true;
}

bool SeriesRun::PrepareImage(BoardJob& job) {
  job.image = plan_.templateImage;
  std::vector<std::pair<int, std::uint32_t>> capcodes;
  for (const auto& taken : job.attempt.taken) capcodes.emplace_back(taken.slot, taken.capcode);
  if (auto refused = SetCapcodes(job.image, capcodes)) {
    // The count has left the slot's range: the run stops before this board.
    Halt(*refused);
    job.attempt.message = *refused;
    return false;
  }
  job.attempt.capcodes = CapcodeTexts(job.image);
  job.attempt.frequency = FrequencyText(job.image);
  ConfigImage sealed = job.image;
  sealed.Seal();
  job.attempt.sha256 = records::Sha256Hex(sealed.bytes().data(), kImageSize);
  return true;
}

bool SeriesRun::WriteAndVerify(BoardJob& job, PortView& view, std::string& message) {
  view.Show(PortState::Writing);
  QuietFrontend frontend([&view](int percent) { view.Percent(percent); });
  frontend.Track(4);
  Session session(frontend);
  session.ports = {job.report.port};
  session.image = job.image;
  bool erased = false;
  session.beforeErase = [&] {
    // Once an erase goes out the board may hold these capcodes, whatever happens next.
    if (!erased) MarkErased(job.attempt.id);
    erased = true;
  };
  bool programmed = false;
  try {
    programmed = WriteConfiguration(session);
    if (programmed) {
      view.Show(PortState::Verifying);
      frontend.Track(1);
      programmed = VerifyConfiguration(session);
    }
  } catch (const records::RecordsError& error) {
    // The mark could not be recorded, so nothing was erased: the board is left as it was.
    ClosePort(session);
    Halt(error.what());
    message = error.what();
    return false;
  }
  message = frontend.message;
  if (!programmed && message.empty()) message = "Transmit Error!";
  return programmed;
}

BoardReport SeriesRun::FinishBoard(BoardJob& job, PortView& view, bool programmed,
                                   const std::string& message) {
  job.attempt.result = programmed ? records::Result::Programmed : records::Result::Failed;
  job.attempt.message = message;
  job.attempt.seconds = SecondsSince(job.started);
  try {
    Finish(job.attempt);
  } catch (const records::RecordsError& error) {
    Halt(error.what());
    programmed = false;
  }
  job.report.programmed = programmed;
  job.report.result = programmed ? "programmed" : "failed: " + message;
  job.report.seconds = job.attempt.seconds;
  if (programmed) {
    view.Show(PortState::Programmed);
  } else {
    view.Show(PortState::Failed, message);
  }
  return job.report;
}

}  // namespace tuva::series
