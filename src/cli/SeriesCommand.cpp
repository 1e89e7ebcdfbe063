// tuvactl series: boards one after another from one template, a capcode counting up from board
// to board, on every port at once, each board recorded.
#include <unistd.h>

#include <iostream>
#include <mutex>
#include <set>
#include <stop_token>

#include "cli/Commands.h"
#include "cli/SeriesLabels.h"
#include "cli/Signals.h"
#include "records/RecordStore.h"
#include "series/Plan.h"
#include "series/SeriesRun.h"

namespace tuva::cli {

series::PlanInputs SeriesPlanInputs(const Options& options) {
  series::PlanInputs inputs;
  inputs.templatePath = options.file;
  for (const auto& text : options.capcodes) {
    const auto counting = series::ParseCounting(text);  // "SLOT=FIRST[:STEP]"
    if (!counting) {
      throw UsageError("--capcode " + text + ": expected SLOT=FIRST or SLOT=FIRST:STEP");
    }
    inputs.counting.push_back(*counting);
  }
  if (options.capcodesFile.empty() && options.capcodes.empty() && options.keep.empty()) {
    throw UsageError("--capcode is required (or --capcodes FILE.csv, or --keep capcodes)");
  }
  if (options.capcodesFile.empty() && !options.countGiven) throw UsageError("--count is required");
  inputs.count = options.countGiven ? options.count : 0;
  inputs.keep = options.keep;
  inputs.listPath = options.capcodesFile;
  if (options.firmware.empty() && !options.firmwareCheck.empty()) {
    throw UsageError("--firmware-check needs --firmware FILE");
  }
  if (!options.firmwareCheck.empty() && options.firmwareCheck != "full") {
    throw UsageError("--firmware-check " + options.firmwareCheck + ": the only check is full");
  }
  inputs.firmwarePath = options.firmware;
  inputs.firmwareFullCheck = options.firmwareCheck == "full";
  inputs.ports = options.ports;
  inputs.verify = options.verifyPass;
  if (options.passwordGiven) inputs.password = options.password;
  inputs.station = options.station;
  inputs.reprogram = options.reprogram;
  return inputs;
}

namespace {

series::SeriesPlan PlanOf(const Options& options) {
  auto built = series::BuildPlan(SeriesPlanInputs(options));
  if (auto* plan = std::get_if<series::SeriesPlan>(&built)) return std::move(*plan);
  const auto& refusal = std::get<series::PlanRefusal>(built);
  // A template that does not open is named: no field shows it, as the window's does.
  if (refusal.input == series::PlanInput::Template) {
    throw UsageError("the template " + options.file + " does not open: " + refusal.message);
  }
  throw UsageError(refusal.message);
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

// The records of the run, made ready: the default database is made on first use, one named by
// hand only with --new-records. What an earlier run left behind is finished or named once, on
// stderr. Null when a signal stopped the opening (said on stderr).
std::shared_ptr<records::RecordStore> PrepareSeriesRecords(const Options& options,
                                                           series::SeriesPlan& plan,
                                                           std::stop_token stop) {
  std::variant<series::Prepared, series::NotPrepared> prepared;
  try {
    prepared = series::Prepare(options.records, options.newRecords, options.adoptJournal, plan,
                               std::move(stop));
  } catch (const records::DiskFullError&) {
    throw;  // a failure of the station, not of the command line
  } catch (const records::RecordsError& error) {
    throw UsageError(error.what());
  }
  const auto say = [](const std::vector<std::string>& notes) {
    for (const std::string& line : notes) std::cerr << "tuvactl: " << line << std::endl;
  };
  if (const auto* not_ = std::get_if<series::NotPrepared>(&prepared)) {
    switch (not_->why) {
      case series::NotPrepared::Why::MissingDatabase:
        throw UsageError(not_->message + "; give --new-records to start one");
      case series::NotPrepared::Why::ForeignJournal:
        throw UsageError(not_->message);
      case series::NotPrepared::Why::Stopped:
        break;
    }
    say(not_->notes);
    if (!not_->message.empty()) {
      std::cerr << "tuvactl: stopped before the first board: " << not_->message << std::endl;
    }
    return nullptr;
  }
  auto& ready = std::get<series::Prepared>(prepared);
  say(ready.notes);
  if (ready.refusal) throw UsageError(ready.refusal->message);
  // No question on the command line: a counting slot that starts afresh in this database is said
  // once, so that a run pointed at the wrong database (lost, or a mistyped --records) shows at its
  // start, before its capcodes are on boards.
  for (const auto& counting : ready.newProgressions) {
    std::cerr << "tuvactl: capcode slot " << counting.slot << ": a new series from "
              << counting.first << " in " << ready.store->Name()
              << " (none of its capcodes handed out before)" << std::endl;
  }
  return ready.store;
}

}  // namespace

int SeriesCommand(const Options& options) {
  series::SeriesPlan plan = PlanOf(options);
  // A label folder that cannot be written stops the run before any board, and before the records.
  const auto labels = OpenSeriesLabels(options, plan);
  StopOnSignals stopper;
  const auto store = PrepareSeriesRecords(options, plan, stopper.stop());
  if (!store) return kExitFailed;
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
