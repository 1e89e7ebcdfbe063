// tuvactl series: boards one after another from one template, a capcode counting up from board
// to board, on every port at once, each board recorded.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <mutex>
#include <set>
#include <stop_token>

#include "cli/Commands.h"
#include "cli/SeriesLabels.h"
#include "cli/Signals.h"
#include "files/ConfigFile.h"
#include "link/Discovery.h"
#include "records/RecordStore.h"
#include "series/NewProgressions.h"
#include "series/SeriesImage.h"
#include "series/SeriesList.h"
#include "series/SeriesRecords.h"
#include "series/SeriesRun.h"

namespace tuva::cli {
namespace {

// "SLOT=FIRST[:STEP]"
series::CountingCapcode ParseCounting(const std::string& text) {
  const auto counting = series::ParseCounting(text);
  if (!counting) throw UsageError("--capcode " + text + ": expected SLOT=FIRST or SLOT=FIRST:STEP");
  return *counting;
}

// The firmware file, read once: the boards get these bytes and the records their SHA-256. Its
// checks as firmware are CheckPlan's.
std::shared_ptr<const series::SeriesFirmware> FirmwareOf(const Options& options) {
  if (options.firmware.empty()) {
    if (!options.firmwareCheck.empty()) throw UsageError("--firmware-check needs --firmware FILE");
    return nullptr;
  }
  if (!options.firmwareCheck.empty() && options.firmwareCheck != "full") {
    throw UsageError("--firmware-check " + options.firmwareCheck + ": the only check is full");
  }
  auto firmware = std::make_shared<series::SeriesFirmware>();
  if (auto problem = series::LoadSeriesFirmware(options.firmware, *firmware)) {
    throw UsageError(*problem);
  }
  firmware->fullCheck = options.firmwareCheck == "full";
  return firmware;
}

series::SeriesPlan PlanOf(const Options& options) {
  series::SeriesPlan plan;
  const FileResult opened = OpenConfigFile(options.file, plan.templateImage);
  if (!opened.ok()) {
    throw UsageError("the template " + options.file + " does not open: " + opened.message);
  }
  for (const auto& text : options.capcodes) plan.counting.push_back(ParseCounting(text));
  plan.count = options.count;
  plan.keep = options.keep;
  if (options.passwordGiven) plan.readPassword = options.password;
  if (!options.capcodesFile.empty()) {
    try {
      plan.list = series::ReadCapcodeList(options.capcodesFile);
    } catch (const series::ListError& error) {
      throw UsageError(error.what());
    }
    // Until the records say how many rows are left, the list's length bounds the count.
    plan.countFromList = !options.countGiven;
    if (plan.countFromList) plan.count = static_cast<int>(plan.list->rows.size());
  } else if (options.capcodes.empty() && options.keep.empty()) {
    throw UsageError("--capcode is required (or --capcodes FILE.csv, or --keep capcodes)");
  } else if (!options.countGiven) {
    throw UsageError("--count is required");
  }
  // A port named twice would have two sessions fighting over one line.
  for (const auto& port : options.ports) {
    if (std::find(plan.ports.begin(), plan.ports.end(), port) == plan.ports.end()) {
      plan.ports.push_back(port);
    }
  }
  if (plan.ports.empty()) plan.ports = CandidateDevices(EnumeratePorts());
  if (plan.ports.empty()) {
    throw UsageError("no serial port to look for boards on; name the adapters with --port DEV");
  }
  plan.verify = options.verifyPass;
  plan.firmware = FirmwareOf(options);
  if (auto refusal = series::CheckPlan(plan, options.file)) throw UsageError(refusal->message);
  plan.station = options.station.empty() ? records::DefaultStation() : options.station;
  plan.reprogram = options.reprogram;
  return plan;
}

// Ctrl+C, SIGTERM and SIGHUP end the program gently from its start on. Each requests the one stop
// that the records (opened with its token) and the run (given it) share: while the records are
// opened and prepared, their waits end at once; during the run, the boards being written are
// finished and recorded.
class StopOnSignals {
 public:
  StopOnSignals() = default;
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // Requested by the first signal.
  const std::stop_source& source() const { return signals_.stop(); }
  std::stop_token stop() const { return source().get_token(); }

  // Runs `run`, made with source(): a signal stops it (at once when one came already).
  void Serve(series::SeriesRun& run) {
    SetState(State::Running);
    try {
      run.Run();
    } catch (...) {
      SetState(State::Before);
      throw;
    }
    SetState(State::Done);
  }

 private:
  enum class State { Before, Running, Done };

  void SetState(State state) {
    std::lock_guard lock(mutex_);
    state_ = state;
  }
  // On the signal thread, the stop already requested: says what it stops.
  void Said() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Done) return;  // the run is over: the program is ending anyway
    std::cerr << (state_ == State::Running
                      ? "tuvactl: stopping; the boards being written are finished first"
                      : "tuvactl: stopping before the first board")
              << std::endl;
  }

  std::mutex mutex_;
  State state_ = State::Before;
  SignalStop signals_{[this](int) { Said(); }};  // last: made once the rest is
};

// The records of the run: the default database is made on first use, one named by hand only with
// --new-records. What an earlier run left behind is finished or named once, on stderr. Null when
// a signal stopped the opening (said on stderr).
std::unique_ptr<records::RecordStore> OpenSeriesRecords(const Options& options,
                                                        std::stop_token stop) {
  try {
    auto store = records::OpenRecordStore(
        options.records, records::SeriesOpenMode(options.records, options.newRecords),
        std::chrono::milliseconds(10000), stop);
    for (const std::string& line :
         series::PrepareRecords(*store, records::DefaultJournalPath(), options.adoptJournal)) {
      std::cerr << "tuvactl: " << line << std::endl;
    }
    return store;
  } catch (const records::MissingDatabase& missing) {
    throw UsageError(std::string(missing.what()) + "; give --new-records to start one");
  } catch (const records::DiskFullError&) {
    throw;  // a failure of the station, not of the command line
  } catch (const records::RecordsError& error) {
    if (!stop.stop_requested()) throw UsageError(error.what());
    std::cerr << "tuvactl: stopped before the first board: " << error.what() << std::endl;
    return nullptr;
  }
}

// The list is imported (or found again) before the first board; what it refuses is a bad input.
// False when a signal stopped the import (said on stderr).
bool PrepareList(records::RecordStore& store, series::SeriesPlan& plan, std::stop_token stop) {
  std::optional<series::PlanRefusal> refusal;
  try {
    refusal = series::PrepareSeriesList(store, plan);
  } catch (const records::DiskFullError&) {
    throw;
  } catch (const records::RecordsError& error) {
    if (!stop.stop_requested()) throw UsageError(error.what());
    std::cerr << "tuvactl: stopped before the first board: " << error.what() << std::endl;
    return false;
  }
  if (refusal) throw UsageError(refusal->message);
  return true;
}

}  // namespace

int SeriesCommand(const Options& options) {
  series::SeriesPlan plan = PlanOf(options);
  // A label folder that cannot be written stops the run before any board, and before the records.
  const auto labels = OpenSeriesLabels(options, plan);
  StopOnSignals stopper;
  const std::unique_ptr<records::RecordStore> store = OpenSeriesRecords(options, stopper.stop());
  if (!store || !PrepareList(*store, plan, stopper.stop())) return kExitFailed;
  // No question on the command line: a counting slot that starts afresh in this database is said
  // once, so that a run pointed at the wrong database (lost, or a mistyped --records) shows at its
  // start, before its capcodes are on boards.
  for (const auto& counting : series::NewProgressions(*store, plan)) {
    std::cerr << "tuvactl: capcode slot " << counting.slot << ": a new series from "
              << counting.first << " in " << store->Name()
              << " (none of its capcodes handed out before)" << std::endl;
  }
  const int count = plan.count;
  // A port that has had no board for a while says so once, so that a mistyped or unplugged port
  // is not a silent wait.
  std::mutex said;
  std::set<std::string> waitedOn;
  series::SeriesRun run(
      *store, std::move(plan),
      [&labels](const series::BoardReport& report) {
        std::cout << report.Line() << std::endl;
        WriteSeriesLabel(labels.get(), report);
      },
      [&](const series::PortStatus& status) {
        const bool noDevice = status.state == series::PortState::NoDevice;
        if ((!noDevice && status.state != series::PortState::Waiting) || status.seconds < 5) {
          return;
        }
        std::lock_guard lock(said);
        if (!waitedOn.insert(status.port).second) return;
        const std::string why = noDevice ? "no such device yet" : status.message;
        std::cerr << "waiting for a board on " << status.port
                  << (why.empty() ? "" : " (" + why + ")") << std::endl;
      },
      stopper.source());
  stopper.Serve(run);
  const int programmed = run.programmed();
  const auto unrecorded = run.records().unrecorded();
  const std::string usedUp = run.listUsedUp();
  // "N of M boards programmed" first, as scripts read it; then the boards counted apart.
  std::cout << series::CountsText(run.counts(), count);
  if (!unrecorded.empty()) std::cout << ", " << unrecorded.size() << " of them NOT RECORDED";
  if (!usedUp.empty()) std::cout << "; done: " << usedUp;
  std::cout << std::endl;
  if (!run.problem().empty()) std::cerr << "tuvactl: " << run.problem() << std::endl;
  if (!unrecorded.empty()) {
    std::cerr << "tuvactl: " << series::UnrecordedMessage(unrecorded, run.records().journalPath())
              << std::endl;
    return kExitFailed;
  }
  // A list that other stations used up ends the run as done when every board it took was
  // programmed.
  const bool done = !usedUp.empty() && run.failed() == 0 && run.problem().empty();
  return programmed >= count || done ? kExitSuccess : kExitFailed;
}

}  // namespace tuva::cli
