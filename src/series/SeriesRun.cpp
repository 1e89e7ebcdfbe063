#include "series/SeriesRun.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "image/Utf8.h"
#include "link/NetworkPort.h"
#include "records/ImageRuns.h"
#include "records/RecordText.h"
#include "records/Sha256.h"
#include "series/SeriesImage.h"

namespace tuva::series {
namespace {

using Clock = std::chrono::steady_clock;

// How often the probe that opens a Write or a Verify is tried. An unanswered probe has sent
// nothing to the board, so trying again is harmless; a contact that flickers, or a board slow to
// answer on a busy computer, is given a second (and fifth) chance before the board is failed.
constexpr int kOpeningTries = 5;
// A port that has had no board this long says so, once.
constexpr auto kLongWait = std::chrono::seconds(5);

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
  return model + " " + line.substr(at + marker.size());
}

// What one port shows: its status, told to the run's follower whenever it changes, and once more
// when the port has waited long for a board.
class PortView {
 public:
  PortView(std::string port, const std::function<void(const PortStatus&)>& sink) : sink_(sink) {
    status_.port = std::move(port);
  }

  void BoardFound() {
    since_ = Clock::now();
    status_.capcodes.clear();
  }
  void Capcodes(std::string capcodes) { status_.capcodes = std::move(capcodes); }

  void Show(PortState state, std::string message = {}) {
    if (told_ && state == status_.state && message == status_.message) return;
    if (Waiting(state) && !(told_ && Waiting(status_.state))) {
      since_ = Clock::now();
      longWaitTold_ = false;
    }
    // A port waiting for a board has none: the last board's capcodes went with it.
    if (Waiting(state)) status_.capcodes.clear();
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

  // Called while the port waits for a board.
  void Waited() {
    if (!Waiting(status_.state) || longWaitTold_ || Clock::now() - since_ < kLongWait) return;
    longWaitTold_ = true;
    Tell();
  }

 private:
  static bool Waiting(PortState state) {
    return state == PortState::NoDevice || state == PortState::Waiting;
  }

  void Tell() {
    told_ = true;
    if (!sink_) return;
    status_.seconds = std::chrono::duration<double>(Clock::now() - since_).count();
    sink_(status_);
  }

  const std::function<void(const PortStatus&)>& sink_;
  PortStatus status_;
  Clock::time_point since_ = Clock::now();
  bool told_ = false;
  bool longWaitTold_ = false;
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
      return "failed: " + status.message + "; " + kFailedAdvice;
    case PortState::Reading:
      return "reading the board";
    case PortState::Firmware:
      return "firmware " + std::to_string(status.percent) + " %";
  }
  return {};
}

std::string CountsText(const SeriesCounts& counts, int wanted) {
  std::string text =
      std::to_string(counts.programmed) + " of " + std::to_string(wanted) + " boards programmed";
  if (counts.reprovisioned > 0) {
    text += " (" + std::to_string(counts.reprovisioned) + " re-provisioned)";
  }
  if (counts.skipped > 0) {
    text += ", " + std::to_string(counts.skipped) + " skipped (already programmed)";
  }
  text += ", " + std::to_string(counts.failed) + " failed";
  return text;
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
                     std::function<void(const PortStatus&)> status, std::stop_source stop)
    : store_(store),
      plan_(std::move(plan)),
      report_(std::move(report)),
      status_(std::move(status)),
      stop_(std::move(stop)),
      keeper_(store, records::DefaultJournalPath(), stop_.get_token(),
              [this](const std::string& unrecorded) { Halt(unrecorded); }) {
  for (const auto& counting : plan_.counting) {
    // The pool reaches one step past the slot's range: the capcode that leaves it is taken, then
    // refused by the capcode editor's own check, with its message, before the board is touched
    // (and goes back to the pool).
    const std::uint64_t past =
        std::uint64_t{SlotMaximum(plan_.templateImage, counting.slot)} + counting.step;
    slots_.push_back({counting.slot, counting.first, counting.step,
                      static_cast<std::uint32_t>(std::min<std::uint64_t>(past, UINT32_MAX))});
  }
  kept_ = KeptFields(plan_.keep);
}

// The board being written, from its reservation to its record.
struct SeriesRun::BoardJob {
  Clock::time_point started;
  std::string device;        // the port's name as given
  std::string firmwareLine;  // as the board sent it
  records::Attempt attempt;
  ConfigImage image;
  BoardIdentity written;   // what a board holding the image answers
  BoardIdentity identity;  // what the board is left holding
  BoardReport report;
  // Re-provisioning: the template with the board's kept fields, the board as read (its own
  // earlier records hold exactly its capcodes), and its claim on its kept capcodes.
  std::optional<ConfigImage> kept;
  BoardAsRead read;
  KeptThisRun::Claim claim;
  std::string firmwareState;  // what the firmware step did, when the plan has firmware
  records::ListRow row;       // the list's row the board takes, when the run has a list
  bool untouched = false;     // the list had no row left for it: nothing was done to the board
};

void SeriesRun::Run() {
  const Heartbeat heartbeat(store_);
  std::vector<std::thread> ports;
  try {
    for (const auto& device : plan_.ports) ports.emplace_back(&SeriesRun::ServePort, this, device);
  } catch (const std::system_error& error) {
    // No thread for the next port: the ports already started finish their boards and stop.
    Halt(std::string("cannot start a thread for every port: ") + error.what());
  }
  for (auto& port : ports) port.join();
  // The results the store has not answered for yet are recorded, or kept in the journal for good,
  // before the run ends (at once once it is stopping).
  keeper_.Drain();
}

void SeriesRun::Stop() {
  stop_.request_stop();
}

SeriesCounts SeriesRun::counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::string SeriesRun::listUsedUp() const {
  std::lock_guard lock(mutex_);
  return listUsedUp_;
}

void SeriesRun::EndOfList(const std::string& why) {
  std::lock_guard lock(mutex_);
  if (listUsedUp_.empty()) listUsedUp_ = why;
  ended_ = true;
  changed_.notify_all();
}

std::string SeriesRun::problem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

void SeriesRun::Halt(const std::string& problem) {
  std::lock_guard lock(mutex_);
  if (problem_.empty()) problem_ = problem;
  ended_ = true;
  changed_.notify_all();
}

bool SeriesRun::Stopping() const {
  std::lock_guard lock(mutex_);
  return ended_ || stop_.stop_requested();
}

bool SeriesRun::Pause(std::chrono::milliseconds interval) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, stop_.get_token(), interval, [this] { return ended_; });
  return !ended_ && !stop_.stop_requested();
}

bool SeriesRun::TakeTicket() {
  // A board is taken only while the boards programmed and those being written fall short of the
  // count; a port that finds one more waits to see whether a board being written fails.
  std::unique_lock lock(mutex_);
  changed_.wait(lock, stop_.get_token(),
                [this] { return ended_ || counts_.programmed + inFlight_ < plan_.count; });
  if (ended_ || stop_.stop_requested()) return false;
  ++inFlight_;
  return true;
}

void SeriesRun::ReturnTicket(bool programmed, bool touched) {
  std::lock_guard lock(mutex_);
  --inFlight_;
  if (programmed) ++counts_.programmed;
  if (programmed && !kept_.empty()) ++counts_.reprovisioned;
  if (!programmed && touched) ++counts_.failed;
  if (counts_.programmed >= plan_.count) ended_ = true;
  changed_.notify_all();
}

bool SeriesRun::HeldByProgrammedBoard(std::uint32_t capcode) {
  records::ListFilter filter;
  filter.capcode = capcode;
  bool held = false;
  store_.Each(filter, [&held](const records::Attempt& attempt) {
    held = held || attempt.result == records::Result::Programmed;
  });
  return held;
}

void SeriesRun::Report(const BoardReport& report) {
  if (!report_) return;
  std::lock_guard lock(reportMutex_);
  report_(report);
}

void SeriesRun::ServePort(const std::string& device) {
  PortView view(ValidUtf8(device), status_);
  // Whatever goes wrong in a port's work ends this port and the run, not the process: the other
  // ports finish the boards they are writing.
  try {
    ServeBoards(device, view);
  } catch (const std::exception& error) {
    Halt(ValidUtf8(device) + ": " + error.what());
    view.Show(PortState::Failed, error.what());
  } catch (...) {
    Halt(ValidUtf8(device) + ": an unknown fault");
    view.Show(PortState::Failed, "an unknown fault");
  }
}

void SeriesRun::ServeBoards(const std::string& device, PortView& view) {
  Presence presence(plan_.goneAfter,
                    [this](const BoardLook& board) { return ProgrammedCapcodeOn(board); });
  while (!Stopping()) {
    BoardLook board;
    Sighting sighting;
    if (!WaitForNewBoard(device, view, presence, board, sighting)) return;
    view.BoardFound();
    if (sighting.state == JigState::AlreadyProgrammed) {
      const BoardReport report = SkipBoard(device, view, board, sighting.capcode);
      {
        std::lock_guard lock(mutex_);
        ++counts_.skipped;
      }
      Report(report);
    } else {
      presence.DealtWith(DealWith(device, view, board));
    }
  }
}

bool SeriesRun::WaitForNewBoard(const std::string& device, PortView& view, Presence& presence,
                                BoardLook& board, Sighting& sighting) {
  while (!Stopping()) {
    if (!DeviceExists(device)) {
      // A device node that is missing is an adapter not plugged in (yet): no board.
      presence.NoDevice();
      view.Show(PortState::NoDevice);
    } else {
      board = LookAtBoard(device);
      sighting = presence.Look(board, Clock::now());
      if (sighting.state == JigState::New || sighting.state == JigState::AlreadyProgrammed) {
        return true;
      }
      if (sighting.state != JigState::Same) {
        view.Show(PortState::Waiting, board.inUse ? PortInUseText(device) : "");
      }
    }
    view.Waited();
    if (!Pause(plan_.probeInterval)) return false;
  }
  return false;
}

BoardIdentity SeriesRun::DealWith(const std::string& device, PortView& view,
                                  const BoardLook& board) {
  if (board.firmwareLine.empty()) {
    // Only the probe was answered: no capcode is taken for a board that never said what it runs,
    // and it is no failed board of the count; the port says what it found and waits for the board
    // to answer in full (a contact that closes late) or to go.
    view.Show(PortState::Failed, "the board answers its probe but not the reads after it");
    return board.identity;
  }
  if (!TakeTicket()) return board.identity;
  BoardJob job;
  job.started = Clock::now();
  job.device = device;
  job.firmwareLine = board.firmwareLine;
  job.report.port = ValidUtf8(device);
  job.report.firmware = ValidUtf8(ShortFirmware(board.firmwareLine));
  job.attempt.station = ValidUtf8(plan_.station);
  job.attempt.port = job.report.port;
  job.attempt.firmware = ValidUtf8(board.firmwareLine);
  job.identity = board.identity;
  BoardReport report;
  try {
    report = ProgramBoard(job, view);
  } catch (...) {
    ReturnTicket(false);
    throw;
  }
  ReturnTicket(report.programmed, !job.untouched);
  if (job.untouched) {
    view.Show(PortState::Waiting);
  } else {
    Report(report);
  }
  return job.identity;
}

std::optional<std::uint32_t> SeriesRun::ProgrammedCapcodeOn(const BoardLook& board) {
  // Every board of a re-provisioning was programmed before: none is skipped for it.
  if (plan_.reprogram || !kept_.empty() || board.answer != BoardLook::Answer::Full) {
    return std::nullopt;
  }
  std::vector<int> slots;
  for (const auto& counting : plan_.counting) slots.push_back(counting.slot);
  if (plan_.list) {
    for (const int slot : ListSlots(*plan_.list)) slots.push_back(slot);
  }
  for (const int slot : slots) {
    const auto capcode = CapcodeHeld(board.identity, plan_.templateImage, slot);
    if (capcode && HeldByProgrammedBoard(*capcode)) return capcode;
  }
  return std::nullopt;
}

BoardReport SeriesRun::SkipBoard(const std::string& device, PortView& view, const BoardLook& board,
                                 std::uint32_t capcode) {
  const auto started = Clock::now();
  const std::string said = "already programmed (" + std::to_string(capcode) + ")";
  BoardReport report;
  report.port = ValidUtf8(device);
  report.capcodes = std::to_string(capcode);
  report.firmware = ValidUtf8(ShortFirmware(board.firmwareLine));
  report.result = said;
  report.skipped = true;
  view.Capcodes(report.capcodes);
  view.Show(PortState::AlreadyProgrammed);
  records::Attempt attempt;
  attempt.station = ValidUtf8(plan_.station);
  attempt.port = report.port;
  attempt.firmware = ValidUtf8(board.firmwareLine);
  try {
    // An attempt that takes no capcode: the board keeps what it holds.
    attempt = store_.Reserve(attempt, {});
    attempt.result = records::Result::Skipped;
    attempt.message = said;
    attempt.seconds = SecondsSince(started);
    const std::string unrecorded = keeper_.Record(attempt);
    if (!unrecorded.empty()) {
      report.recorded = false;
      report.result += "; NOT RECORDED: " + unrecorded;
    }
  } catch (const records::RecordsError& error) {
    Halt(error.what());
  }
  report.seconds = SecondsSince(started);
  return report;
}

// One board from its reservation to its record. Every step after the reservation ends in its
// record, so the attempt never stays open; a fault in any step is that board's failure.
BoardReport SeriesRun::ProgramBoard(BoardJob& job, PortView& view) {
  if (!ReserveCapcodes(job)) return job.report;
  view.Capcodes(job.report.capcodes);
  try {
    if (!kept_.empty() && !KeepFromBoard(job, view)) {
      return FinishBoard(job, view, false, job.attempt.message);
    }
    if (!PrepareImage(job)) return FinishBoard(job, view, false, job.attempt.message);
    if (!kept_.empty()) {
      const auto held = ClaimKept(job);
      view.Capcodes(job.report.capcodes);
      if (held) return FinishBoard(job, view, false, *held);
    }
    std::string message;
    if (plan_.firmware && !FirmwareStep(job, view, message)) {
      return FinishBoard(job, view, false, message);
    }
    if (!IsFlex(job.firmwareLine)) return FinishBoard(job, view, false, kNotFlex);
    const bool programmed = WriteAndVerify(job, view, message);
    // A board that fails after its firmware step says what became of both steps.
    if (!programmed && plan_.firmware) message = job.firmwareState + "; configuration: " + message;
    return FinishBoard(job, view, programmed, message);
  } catch (const std::exception& error) {
    Halt(job.report.port + ": " + error.what());
    return FinishBoard(job, view, false, error.what());
  }
}

bool SeriesRun::ReserveCapcodes(BoardJob& job) {
  try {
    job.attempt = plan_.list ? store_.ReserveRow(job.attempt, slots_, plan_.listId, job.row)
                             : store_.Reserve(job.attempt, slots_);
  } catch (const records::ListUsedUpError& error) {
    // Other stations took the last rows: the run is done, and this board was never touched.
    EndOfList(error.what());
    job.untouched = true;
    return false;
  } catch (const records::RecordsError& error) {
    Halt(error.what());
    job.report.result = std::string("failed: ") + error.what();
    job.report.seconds = SecondsSince(job.started);
    return false;
  }
  for (const auto& taken : job.attempt.taken) {
    records::AppendListed(job.report.capcodes, std::to_string(taken.capcode));
  }
  return true;
}

bool SeriesRun::PrepareImage(BoardJob& job) {
  job.image = job.kept ? *job.kept : plan_.templateImage;
  if (plan_.list) {
    if (auto refused = ApplyListRow(job.image, *plan_.list, job.row)) {
      Halt(*refused);
      job.attempt.message = *refused;
      return false;
    }
  }
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
  // The records keep the template once and what this board's image changed of it.
  records::KeepImage(job.attempt, plan_.templateImage.bytes(), sealed.bytes());
  job.attempt.verification = plan_.verify ? "verify" : "read-back";
  job.written = IdentityOf(sealed);
  return true;
}

bool SeriesRun::WriteAndVerify(BoardJob& job, PortView& view, std::string& message) {
  view.Show(PortState::Writing);
  bool erased = false;
  const auto erasing = [&] {
    // Once an erase goes out the board may hold these capcodes, whatever happens next.
    if (!erased) store_.MarkErased(job.attempt.id);
    erased = true;
  };
  QuietFrontend frontend([&view](int percent) { view.Percent(percent); }, erasing);
  Document document{job.image, {}};
  BoardLink link(frontend, document);
  link.ports = {job.device};
  // A probe that opens the Write or the Verify and goes unanswered has sent nothing to the board:
  // that step is tried again.
  auto attempt = [&](Outcome (*operation)(BoardLink&, Document&), int bigPhases) {
    return WithOpeningTries(kOpeningTries,
                            [&] {
                              frontend.message.clear();
                              frontend.Track(bigPhases);
                              return operation(link, document);
                            })
        .Done();
  };
  bool programmed = false;
  try {
    programmed = attempt(WriteConfiguration, 4);
    if (programmed && plan_.verify) {
      view.Show(PortState::Verifying);
      programmed = attempt(VerifyConfiguration, 1);
    }
  } catch (const records::RecordsError& error) {
    // The mark could not be recorded, so nothing was erased: the board is left as it was.
    ClosePort(link);
    Halt(error.what());
    message = error.what();
    return false;
  }
  message = frontend.message;
  if (!programmed && message.empty()) message = "Transmit Error!";
  // What the board holds now: the image when it verified, otherwise whatever it says.
  if (programmed) {
    job.identity = job.written;
  } else {
    job.identity = LookAtBoard(job.device).identity;
  }
  return programmed;
}

bool SeriesRun::FirmwareStep(BoardJob& job, PortView& view, std::string& message) {
  view.Show(PortState::Firmware);
  job.attempt.firmwareFile = plan_.firmware->sha256;
  const FirmwareOutcome outcome =
      PutFirmware(job.device, *plan_.firmware, [&view](int percent) { view.Percent(percent); });
  job.firmwareState = outcome.state;
  job.attempt.firmwareProgrammed = outcome.programmed;
  if (!outcome.ok) {
    message = outcome.state + "; configuration not written";
    return false;
  }
  // From here on the board runs the file's firmware; its line shows the change.
  job.firmwareLine = FirmwareLineOf(plan_.firmware->buffer);
  if (outcome.programmed) {
    job.report.firmware += " -> " + ValidUtf8(ShortFirmware(job.firmwareLine));
    job.attempt.firmware = ValidUtf8(job.firmwareLine);  // the record says what the board runs
  }
  return true;
}

BoardReport SeriesRun::FinishBoard(BoardJob& job, PortView& view, bool programmed,
                                   const std::string& message) {
  job.attempt.result = programmed ? records::Result::Programmed : records::Result::Failed;
  job.attempt.message = ValidUtf8(message);
  job.attempt.seconds = SecondsSince(job.started);
  // A board written and verified stays programmed whatever happens to its record: a record that
  // cannot be finished (or not yet, the store silent) is kept in the journal and said on the
  // board's line; one that fails for good stops the run (the keeper halts it).
  const std::string unrecorded = keeper_.Record(job.attempt);
  job.report.programmed = programmed;
  if (programmed) job.claim.Keep();  // the board holds its kept capcodes for the rest of the run
  job.report.recorded = unrecorded.empty();
  job.report.result =
      programmed ? records::ResultText(job.attempt) : "failed: " + job.attempt.message;
  if (!job.report.recorded) {
    job.report.result += (programmed ? ", NOT RECORDED: " : "; NOT RECORDED: ") + unrecorded;
  }
  job.report.seconds = job.attempt.seconds;
  if (programmed) {
    view.Show(PortState::Programmed);
  } else {
    view.Show(PortState::Failed, job.attempt.message);
  }
  return job.report;
}

bool SeriesRun::KeepFromBoard(BoardJob& job, PortView& view) {
  std::string kept;
  for (const std::string& name : plan_.keep) records::AppendListed(kept, name);
  job.attempt.kept = kept;
  view.Show(PortState::Reading);
  ConfigImage board = plan_.templateImage;  // its data bytes are replaced by the board's
  std::string message;
  const bool read = ReadBoard(job.device, plan_.readPassword, board, message);
  // A Read that repaired copy 0 from copy 1 changed what the board answers: it is still this
  // board, and a board left unwritten must not be taken for a new one.
  const BoardLook after = LookAtBoard(job.device);
  if (after.answer == BoardLook::Answer::Full) job.identity = after.identity;
  if (!read) {
    // Never the template's capcodes in place of the board's own: the board is left alone.
    job.attempt.message = "cannot read the board to keep its fields: " + message;
    return false;
  }
  job.read.attempt = job.attempt.id;
  job.read.capcodes = CapcodeTexts(board);
  ConfigImage sealed = board;
  sealed.Seal();
  job.read.sha256 = records::Sha256Hex(sealed.bytes().data(), kImageSize);
  ConfigImage image = plan_.templateImage;
  if (auto refused = TakeFromBoard(image, board, kept_)) {
    job.attempt.message = *refused;
    return false;
  }
  job.kept = image;
  return true;
}

std::optional<std::string> SeriesRun::ClaimKept(BoardJob& job) {
  const std::vector<std::uint32_t> capcodes = KeptCapcodes(job.image, kept_);
  // The line shows the kept capcodes, then the counted ones.
  std::string shown;
  for (const std::uint32_t capcode : capcodes) {
    records::AppendListed(shown, std::to_string(capcode));
  }
  if (!shown.empty() && !job.report.capcodes.empty()) shown += ',';
  job.report.capcodes = shown + job.report.capcodes;
  // The records first, then this run's other boards, which the records may not show yet.
  std::vector<std::uint32_t> own;
  if (auto held = HeldByAnotherBoard(store_, capcodes, job.read, plan_.templateImage, own)) {
    return held;
  }
  if (own.empty() && job.attempt.taken.empty()) {
    return std::string(
        "the board keeps no capcode of its own, only those every board is given "
        "alike: count a slot or give it a list's row");
  }
  return keptThisRun_.Take(own, job.report.port, job.claim);
}

}  // namespace tuva::series
