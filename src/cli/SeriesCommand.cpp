// tuvactl series: boards one after another from one template, a capcode counting up from board
// to board, on every port at once, each board recorded.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <thread>

#include "cli/Commands.h"
#include "cli/SeriesLabels.h"
#include "files/ConfigFile.h"
#include "link/Discovery.h"
#include "records/RecordStore.h"
#include "series/SeriesImage.h"
#include "series/SeriesRun.h"

namespace tuva::cli {
namespace {

// "SLOT=FIRST[:STEP]"
series::CountingCapcode ParseCounting(const std::string& text) {
  const auto counting = series::ParseCounting(text);
  if (!counting) throw UsageError("--capcode " + text + ": expected SLOT=FIRST or SLOT=FIRST:STEP");
  return *counting;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

series::SeriesPlan PlanOf(const Options& options) {
  series::SeriesPlan plan;
  const FileResult opened = OpenConfigFile(options.file, plan.templateImage);
  if (!opened.ok()) {
    throw UsageError("the template " + options.file + " does not open: " + opened.message);
  }
  for (const auto& text : options.capcodes) plan.counting.push_back(ParseCounting(text));
  plan.count = options.count;
  if (auto fault = series::CheckPlan(plan)) throw UsageError(*fault);
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
  plan.station = options.station.empty() ? HostName() : options.station;
  return plan;
}

// Ctrl+C and SIGTERM end the run gently: the boards being written are finished and recorded.
// The signals are taken by a thread of their own (sigwait), so the ports' threads never see them.
class StopOnSignals {
 public:
  explicit StopOnSignals(series::SeriesRun& run) {
    sigemptyset(&signals_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals_, signal);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    waiter_ = std::thread([this, &run] {
      for (;;) {
        int signal = 0;
        if (sigwait(&signals_, &signal) != 0 || signal == SIGUSR1) return;
        std::cerr << "tuvactl: stopping; the boards being written are finished first" << std::endl;
        run.Stop();
      }
    });
  }
  ~StopOnSignals() {
    pthread_kill(waiter_.native_handle(), SIGUSR1);
    waiter_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  sigset_t signals_{};
  sigset_t previous_{};
  std::thread waiter_;
};

}  // namespace

int SeriesCommand(const Options& options) {
  series::SeriesPlan plan = PlanOf(options);
  std::unique_ptr<records::RecordStore> store;
  try {
    store = records::OpenRecordStore(options.records.empty() ? records::DefaultRecordsPath()
                                                             : options.records);
  } catch (const records::RecordsError& error) {
    throw UsageError(error.what());
  }
  const int count = plan.count;
  const auto labels = OpenSeriesLabels(options, plan);  // before any board: a bad folder stops here
  series::SeriesRun run(*store, std::move(plan), [&labels](const series::BoardReport& report) {
    std::cout << report.Line() << std::endl;
    WriteSeriesLabel(labels.get(), report);
  });
  {
    StopOnSignals stopper(run);
    run.Run();
  }
  const int programmed = run.programmed();
  std::cout << programmed << " of " << count << " boards programmed" << std::endl;
  if (!run.problem().empty()) std::cerr << "tuvactl: " << run.problem() << std::endl;
  return programmed >= count ? kExitSuccess : kExitFailed;
}

}  // namespace tuva::cli
