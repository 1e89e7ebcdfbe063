// tuvactl series as a technician runs it: the real executable, simulated boards that come and go
// on pseudo-terminals, and the records in a real SQLite file or a PostgreSQL server of the test's
// own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

#include "SeriesStations.h"
#include "files/ConfigFile.h"
#include "image/CapcodeCodec.h"
#include "link/Protocol.h"
#include "records/RecordStore.h"
#include "series/SeriesFirmware.h"
#include "series/SeriesImage.h"
#include "series/SeriesRun.h"
#include "sim/SimListener.h"
#include "sim/SimServer.h"
#include "support/PostgresServer.h"
#include "support/RunProgram.h"

extern char** environ;

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Result;

// Boards are swapped slower than the programmer looks for them (every half second).
constexpr int kSwapMs = 700;

// Waits for `condition` for at most `limit`; false (and the test failed) when it never holds.
bool WaitFor(const std::function<bool()>& condition, const char* what,
             std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "still waiting for " << what;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("tuva-series");
    ASSERT_TRUE(SaveConfigFile(Path("template.tbl"), ConfigImage::StartupImage()).ok());
  }
  void TearDown() override {
    stations_.reset();
    sims_.clear();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A jig on its own pseudo-terminal: `boards` boards, one after another.
  // New boards, erased, unless the options give contents of their own.
  sim::SimServer& Jig(int boards, sim::SimOptions options = {}, int removedMs = kSwapMs) {
    if (options.flashFile.empty() && options.tablePath.empty()) {
      options.contents = sim::SimContents::Erased;
    }
    options.boards = boards;
    options.removedMs = removedMs;
    sims_.push_back(std::make_unique<sim::SimServer>(options));
    sims_.back()->Start();
    return *sims_.back();
  }

  // Starts tuvactl series on the template with `arguments`, the given jigs as --port.
  Station& Start(std::vector<std::string> arguments, const std::vector<sim::SimServer*>& jigs) {
    std::vector<std::string> words = {"series", Path("template.tbl")};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back("--new-records");  // each test's records file starts with its first run
    for (auto* jig : jigs) words.insert(words.end(), {"--port", jig->SlavePath()});
    return Spawn(words);
  }

  // Starts tuvactl with these words, its output (both streams) to a file of its own.
  Station& Spawn(std::vector<std::string> words) {
    return stations_->Spawn(TUVACTL, std::move(words));
  }
  static std::string Output(const Station& run) { return run.Output(); }

  // The capcode of slot 1 on every board whose copy 0 is whole, board by board over all jigs.
  std::vector<std::uint32_t> CapcodesOnBoards() const {
    std::vector<std::uint32_t> capcodes;
    for (const ConfigImage& image : WrittenImages(sims_)) {
      if (const auto value = DecodeCapcodes(image).slots[0].value) capcodes.push_back(*value);
    }
    return capcodes;
  }

  static std::vector<records::Attempt> Attempts(const std::string& where) {
    return records::OpenRecordStore(where, records::OpenMode::ReadOnly)->List({});
  }

  fs::path dir_;
  std::vector<std::unique_ptr<sim::SimServer>> sims_;
  std::unique_ptr<Stations> stations_ = std::make_unique<Stations>(
      [this](std::size_t n) { return Path("out" + std::to_string(n) + ".txt"); });
};

std::vector<std::uint32_t> Sorted(std::vector<std::uint32_t> values) {
  std::sort(values.begin(), values.end());
  return values;
}

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint32_t> values;
  for (std::uint32_t i = 0; i < count; ++i) values.push_back(first + i);
  return values;
}

TEST_F(SeriesTest, BadInputStopsTheRunBeforeAnythingIsSent) {
  fs::create_directories(Path("folder.sqlite"));
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string message;
  };
  const std::string db = Path("records.sqlite");
  const Case cases[] = {
      {{"--capcode", "17=1500000", "--count", "1"}, 2, "capcode slot 17 is outside 1 to 16"},
      {{"--capcode", "1=1500000:0", "--count", "1"}, 2, "capcode slot 1: the step must be 1"},
      {{"--capcode", "1=3000000", "--count", "1"}, 2, "Please insert a number between"},
      {{"--capcode", "1=2031615", "--count", "1"}, 2, "2031615 has no form the board can store"},
      {{"--capcode", "1=2031614", "--count", "3"}, 2, "capcode 2031616 of board 3: Please insert"},
      {{"--capcode", "16=1500000", "--count", "1"},
       2,
       "capcode slot 16 is disabled in " + Path("template.tbl") + ": enable it with `tuvactl set " +
           Path("template.tbl") + " capcode.16.enabled=on`, or count another slot"},
      {{"--capcode", "1=1500000", "--count", "1", "--port", "socket://127.0.0.1"},
       2,
       "socket://127.0.0.1: no port: give HOST:PORT"},
      {{"--capcode", "1=1500000", "--count", "1", "--records", Path("folder.sqlite")},
       2,
       "folder.sqlite"},
      {{"--capcode", "1=1500000", "--count", "1", "--labels", Path("labels"), "--label-size",
        "62x29"},
       2,
       "the label size \"62x29\" is not WIDTHxHEIGHTmm"},
      {{"--capcode", "1=1500000", "--count", "1", "--labels", Path("template.tbl") + "/labels"},
       2,
       "template.tbl/labels cannot be made"},
  };
  auto& jig = Jig(1);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.message);
    std::vector<std::string> arguments = test.arguments;
    if (std::find(arguments.begin(), arguments.end(), "--records") == arguments.end()) {
      arguments.insert(arguments.end(), {"--records", db});
    }
    Station& run = Start(arguments, {&jig});
    EXPECT_EQ(run.Wait(), test.status);
    EXPECT_NE(Output(run).find(test.message), std::string::npos) << Output(run);
  }
  fs::remove(Path("template.tbl"));
  Station& missing = Start({"--capcode", "1=1500000", "--count", "1", "--records", db}, {&jig});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_NE(Output(missing).find("template.tbl does not open"), std::string::npos);
  EXPECT_TRUE(jig.Requests().empty());
}

// Each refusal of a plan names the input it concerns, so that a window can give that field the
// focus: the first capcode or the step of a counting slot, the count, the kept fields, a port,
// the list or the firmware. Each case changes one input of a good plan.
TEST(SeriesPlanTest, EachRefusalNamesTheInputItConcerns) {
  using series::PlanInput;
  struct Case {
    std::function<void(series::SeriesPlan&)> change;
    PlanInput input;
    int index;
    std::string message;
  };
  const auto count = [](int slot, std::uint32_t first, std::uint32_t step = 1) {
    return [=](series::SeriesPlan& plan) { plan.counting.push_back({slot, first, step}); };
  };
  const auto list = [](std::vector<std::string> header, std::vector<std::string> row) {
    return [=](series::SeriesPlan& plan) {
      plan.list = series::CapcodeList{"boards.csv", "", header, {{2, row}}};
    };
  };
  const Case cases[] = {
      {[](series::SeriesPlan& plan) { plan.counting.clear(); }, PlanInput::First, 0,
       "no capcode slot counts up"},
      {count(17, 1500000), PlanInput::First, 17, "capcode slot 17 is outside 1 to 16"},
      {count(1, 1600000), PlanInput::First, 1, "capcode slot 1 is given twice"},
      {count(3, 1600000, 0), PlanInput::Step, 3, "capcode slot 3: the step must be 1 or more"},
      {count(16, 1600000), PlanInput::First, 16, "capcode slot 16 is disabled in stepping.tbl"},
      {count(2, 3000000), PlanInput::First, 2, "capcode slot 2: Please insert a number between"},
      {count(2, 2031614, 2), PlanInput::First, 2, "capcode slot 2: capcode 2031616 of board 2"},
      {count(2, 1500001), PlanInput::First, 2,
       "capcode slots 1 and 2 would both hand out capcode 1500001"},
      {[](series::SeriesPlan& plan) { plan.count = 0; }, PlanInput::Count, 0,
       "the count must be 1 or more"},
      {[](series::SeriesPlan& plan) { plan.keep = {"capcodes"}; }, PlanInput::Keep, 0,
       "capcode slot 1"},
      {[](series::SeriesPlan& plan) { plan.ports.push_back("socket://127.0.0.1"); },
       PlanInput::Ports, 1, "socket://127.0.0.1: no port: give HOST:PORT"},
      {list({"no.such.field"}, {"1"}), PlanInput::List, 0, "no.such.field"},
      {list({"capcode.2.address"}, {"1500001"}), PlanInput::First, 1,
       "capcode slot 1 would hand out capcode 1500001, which line 2 of the list boards.csv"},
      {[](series::SeriesPlan& plan) {
         auto firmware = std::make_shared<series::SeriesFirmware>();
         firmware->buffer.fileName = "flex.s19";
         firmware->buffer.refusal = "line 3: not an S-record";
         plan.firmware = firmware;
       },
       PlanInput::Firmware, 0, "flex.s19: line 3: not an S-record"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.message);
    series::SeriesPlan plan;
    plan.counting = {{1, 1500000, 1}};
    plan.count = 2;
    plan.ports = {"/dev/ttyUSB0"};
    ASSERT_FALSE(series::CheckPlan(plan, "stepping.tbl"));
    test.change(plan);
    const auto refusal = series::CheckPlan(plan, "stepping.tbl");
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->input, test.input);
    EXPECT_EQ(refusal->index, test.index);
    EXPECT_NE(refusal->message.find(test.message), std::string::npos) << refusal->message;
  }
}

// Spring contacts that miss a probe now and then, and a technician who swaps boards faster than
// the probe comes round.
TEST_F(SeriesTest, NineBoardsOnThreeJigsGetNineCapcodesAndASecondRunGoesOn) {
  const std::string db = Path("records.sqlite");
  auto& a = Jig(3, {.flickerEvery = 4});
  auto& b = Jig(3, {.flickerEvery = 3});
  auto& c = Jig(3, {.flickerEvery = 5}, 150);
  Station& first = Start({"--capcode", "1=1500000", "--count", "9", "--records", db}, {&a, &b, &c});
  ASSERT_EQ(first.Wait(), 0) << Output(first);
  EXPECT_EQ(Sorted(CapcodesOnBoards()), Range(1500000, 9));
  const std::string output = Output(first);
  EXPECT_NE(output.find(a.SlavePath() + "  150000"), std::string::npos) << output;
  EXPECT_NE(output.find("  FLEX 2.41  programmed  "), std::string::npos) << output;
  const std::string fresh = "tuvactl: capcode slot 1: a new series from 1500000 in " + db +
                            " (none of its capcodes handed out before)\n";
  EXPECT_NE(output.find(fresh), std::string::npos) << output;

  auto attempts = Attempts(db);
  ASSERT_EQ(attempts.size(), 9u);
  std::vector<std::uint32_t> recorded;
  for (const auto& attempt : attempts) {
    EXPECT_EQ(attempt.result, Result::Programmed);
    ASSERT_EQ(attempt.taken.size(), 1u);
    recorded.push_back(attempt.taken[0].capcode);
    EXPECT_EQ(attempt.capcodes.at(0), std::to_string(attempt.taken[0].capcode));
    EXPECT_EQ(attempt.sha256.size(), 64u);
  }
  EXPECT_EQ(Sorted(recorded), Range(1500000, 9));

  auto& d = Jig(2);
  Station& second = Start({"--capcode", "1=1500000", "--count", "2", "--records", db}, {&d});
  ASSERT_EQ(second.Wait(), 0) << Output(second);
  EXPECT_EQ(Output(second).find("a new series"), std::string::npos) << Output(second);
  EXPECT_EQ(Sorted(CapcodesOnBoards()), Range(1500000, 11));
}

// A label per programmed board, named by its capcode, with the capcode in its text.
TEST_F(SeriesTest, LabelsOnePerProgrammedBoard) {
  auto& a = Jig(2);
  auto& b = Jig(2);
  Station& run = Start({"--capcode", "1=1500000", "--count", "4", "--records",
                        Path("records.sqlite"), "--station", "bench", "--labels", Path("labels")},
                       {&a, &b});
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(Path("labels"))) {
    const std::string name = entry.path().filename().string();
    const std::string capcode = name.substr(0, name.find('-'));
    names.insert(capcode);
    EXPECT_EQ(name.substr(capcode.size(), 7), "-bench-") << name;
    EXPECT_EQ(entry.path().extension(), ".pdf") << name;
    const auto text = RunProgram(PDFTOTEXT, {entry.path().string(), "-"}, dir_.string());
    for (const std::string& expected :
         {capcode, std::string("462.0000 MHz"), std::string("bench")}) {
      EXPECT_NE(text.out.find(expected), std::string::npos) << name << ": " << text.out << text.err;
    }
  }
  EXPECT_EQ(names, (std::set<std::string>{"1500000", "1500001", "1500002", "1500003"}));
}

// Two benches behind serial servers (raw sockets) and one jig on a local port share one series.
TEST_F(SeriesTest, NetworkBenchesAndALocalJigShareOneSeries) {
  const std::string db = Path("records.sqlite");
  auto& local = Jig(2);
  std::vector<std::unique_ptr<sim::SimListener>> servers;
  std::vector<std::string> arguments = {"--capcode", "1=1500000", "--count", "6", "--records", db};
  for (int bench = 0; bench < 2; ++bench) {
    servers.push_back(std::make_unique<sim::SimListener>(Jig(2).SlavePath(), 0));
    servers.back()->Start();
    arguments.push_back("--port");
    arguments.push_back("socket://127.0.0.1:" + std::to_string(servers.back()->Port()));
  }
  Station& run = Start(arguments, {&local});
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  EXPECT_EQ(Sorted(CapcodesOnBoards()), Range(1500000, 6));
  for (const auto& jig : sims_) {
    for (const auto& flash : jig->BoardFlashes()) {
      EXPECT_TRUE(PassesSumCheck(flash.Read(kConfigBase, kImageSize))) << Output(run);
    }
  }
  const std::string output = Output(run);
  for (const auto& server : servers) {
    EXPECT_NE(output.find("socket://127.0.0.1:" + std::to_string(server->Port()) + "  150000"),
              std::string::npos)
        << output;
  }
}

// A board that fails before its first erase gives its capcode back; one that fails after an
// erase keeps it out of circulation.
TEST_F(SeriesTest, AFailedBoardIsRecordedAndItsCapcodeFollowsTheErase) {
  struct Case {
    const char* name;
    sim::SimOptions options;
    const char* message;
    bool held;
  };
  const Case cases[] = {
      {"write refused", {.refuseWrite = true}, "Transmit Error!", true},
      {"POCSAG firmware", {.pocsagFirmware = true}, "The firmware is not FLEX ! ", false},
      {"byte stored wrong",
       {.corruptWrite = sim::CorruptWrite{1, 300}},
       "Verify Error! Htag =",
       true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string db = Path(std::string(test.name) + ".sqlite");
    sims_.clear();
    auto& bad = Jig(1, test.options);
    auto& good = Jig(2);
    Station& run =
        Start({"--capcode", "1=1500000", "--count", "2", "--records", db}, {&bad, &good});
    ASSERT_EQ(run.Wait(), 0) << Output(run);
    std::map<Result, std::vector<records::Attempt>> byResult;
    for (auto& attempt : Attempts(db)) byResult[attempt.result].push_back(attempt);
    ASSERT_EQ(byResult[Result::Failed].size(), 1u) << Output(run);
    ASSERT_EQ(byResult[Result::Programmed].size(), 2u);
    const auto& failed = byResult[Result::Failed][0];
    EXPECT_EQ(failed.message.rfind(test.message, 0), 0u) << failed.message;
    EXPECT_EQ(failed.port, bad.SlavePath());
    ASSERT_EQ(failed.taken.size(), 1u);
    EXPECT_EQ(failed.taken[0].held, test.held);
    // A capcode back in the pool goes to the next board; a held one to none.
    const auto onBoards = CapcodesOnBoards();
    EXPECT_EQ(std::count(onBoards.begin(), onBoards.end(), failed.taken[0].capcode),
              test.held ? 0 : 1);
    EXPECT_NE(Output(run).find(bad.SlavePath() + "  15000"), std::string::npos) << Output(run);
    EXPECT_NE(Output(run).find("2 of 2 boards programmed, 1 failed\n"), std::string::npos)
        << Output(run);
  }
}

// A board slow to wake answers its first probes but not the reads after them: no capcode is taken
// for it and it is no failed board; once it answers in full it is programmed.
TEST_F(SeriesTest, ABoardThatAnswersOnlyItsProbeIsNotAFailedBoard) {
  const std::string db = Path("records.sqlite");
  auto& slow = Jig(1, {.deafAfterProbes = 3});
  Station& run = Start({"--capcode", "1=1500000", "--count", "1", "--records", db}, {&slow});
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  EXPECT_NE(Output(run).find("1 of 1 boards programmed, 0 failed\n"), std::string::npos)
      << Output(run);
  const auto attempts = Attempts(db);
  ASSERT_EQ(attempts.size(), 1u) << Output(run);
  EXPECT_EQ(attempts[0].result, Result::Programmed);
  EXPECT_EQ(CapcodesOnBoards(), std::vector<std::uint32_t>{1500000});
}

TEST_F(SeriesTest, AnAdapterPluggedInLaterIsFound) {
  auto& jig = Jig(1);
  const std::string adapter = Path("ttyUSB7");  // no such device yet
  std::vector<std::string> arguments = {"--capcode", "1=1500000", "--count",
                                        "1",         "--records", Path("records.sqlite"),
                                        "--port",    adapter};
  Station& run = Start(arguments, {});
  ASSERT_TRUE(WaitFor(
      [&] {
        return Output(run).find("waiting for a board on " + adapter + " (no such device yet)") !=
               std::string::npos;
      },
      "the port to say it has no device"));
  fs::create_symlink(jig.SlavePath(), adapter);
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  EXPECT_EQ(CapcodesOnBoards(), std::vector<std::uint32_t>{1500000});
}

// Waits until the jig's board has received a command of this kind.
bool WaitForRequest(const sim::SimServer& jig, const std::string& command) {
  return WaitFor(
      [&] {
        const auto requests = jig.Requests();
        return std::any_of(requests.begin(), requests.end(),
                           [&](const auto& request) { return request.command == command; });
      },
      command.c_str());
}

TEST_F(SeriesTest, ABoardPulledOutMidWriteFailsAndTheSeriesGoesOn) {
  const std::string db = Path("records.sqlite");
  auto& pulled = Jig(1, {.paced = true});
  auto& good = Jig(2);
  Station& run =
      Start({"--capcode", "1=1500000", "--count", "2", "--records", db}, {&pulled, &good});
  ASSERT_TRUE(WaitForRequest(pulled, "WriteBlock"));
  pulled.Stop();
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  int failed = 0;
  for (const auto& attempt : Attempts(db)) {
    if (attempt.result != Result::Failed) continue;
    ++failed;
    EXPECT_EQ(attempt.port, pulled.SlavePath());
    EXPECT_TRUE(attempt.taken.at(0).held);  // erased: the board may hold it
  }
  EXPECT_EQ(failed, 1);
}

// A second program on a port that one is writing through is refused at once and disturbs nothing.
TEST_F(SeriesTest, ASecondProgramOnAPortInUseIsRefused) {
  // A board with a configuration: the Write asks no question.
  auto& jig = Jig(
      0, {.contents = sim::SimContents::Table, .tablePath = Path("template.tbl"), .paced = true});
  Station& writer = Spawn({"write", Path("template.tbl"), "--port", jig.SlavePath()});
  ASSERT_TRUE(WaitForRequest(jig, "EraseBlock"));
  Station& second = Spawn({"firmware", "--port", jig.SlavePath()});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(Output(second).find(jig.SlavePath() + " is in use by another program"),
            std::string::npos)
      << Output(second);
  EXPECT_EQ(writer.Wait(), 0) << Output(writer);
  EXPECT_TRUE(PassesSumCheck(jig.ReadFlash(kConfigBase, kImageSize)));
  for (const auto& request : jig.Requests()) {
    EXPECT_EQ(request.result.find("refused"), std::string::npos) << request.Line();
  }
}

// A store that fails the way no records error does (a bad conversion, memory) when the third
// board is about to be erased: the two before it are being written or done.
class FailingStore : public records::RecordStore {
 public:
  explicit FailingStore(std::unique_ptr<RecordStore> store) : store_(std::move(store)) {}
  records::Attempt Reserve(const records::Attempt& start,
                           const std::vector<records::CountingSlot>& slots) override {
    return store_->Reserve(start, slots);
  }
  void MarkErased(std::int64_t id) override {
    if (++erases_ == 3) throw std::invalid_argument("stoll");
    store_->MarkErased(id);
  }
  void Finish(const records::Attempt& attempt) override { store_->Finish(attempt); }
  std::string Name() const override { return store_->Name(); }
  std::string Identity() override { return store_->Identity(); }
  void Beat() override { store_->Beat(); }
  void Each(const records::ListFilter& filter,
            const std::function<void(const records::Attempt&)>& row) override {
    store_->Each(filter, row);
  }
  records::ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    return store_->Release(slot, capcode, force);
  }

 private:
  std::unique_ptr<RecordStore> store_;
  std::atomic<int> erases_{0};
};

// A fault inside one port's work ends the run with its text; the process lives on, that board is
// recorded as failed with the text, and the other ports' boards are finished and recorded.
TEST_F(SeriesTest, AFaultInOnePortHaltsTheRunButNotTheProcess) {
  const std::string db = Path("records.sqlite");
  series::SeriesPlan plan;
  plan.counting = {{1, 1500000, 1}};
  plan.count = 3;
  for (int jig = 0; jig < 3; ++jig) plan.ports.push_back(Jig(1).SlavePath());
  FailingStore store(records::OpenRecordStore(db, records::OpenMode::Create));
  series::SeriesRun run(store, plan, {});
  run.Run();
  EXPECT_NE(run.problem().find("stoll"), std::string::npos) << run.problem();
  std::map<Result, std::vector<std::string>> messages;
  for (const auto& attempt : Attempts(db)) messages[attempt.result].push_back(attempt.message);
  EXPECT_EQ(messages[Result::Failed], std::vector<std::string>{"stoll"});
  EXPECT_EQ(messages[Result::Programmed].size(), 2u);
}

// Ctrl+C, a shutdown's SIGTERM and a closed terminal's SIGHUP all let the board being written
// finish and be recorded, and the summary is printed; in a PostgreSQL database too, though the
// stop no longer waits for a database that does not answer.
TEST_F(SeriesTest, AStopSignalFinishesTheBoardBeingWrittenAndRecordsIt) {
  PostgresServer postgres;
  const std::string url = postgres.Running() ? postgres.CreateDatabase("stopped") : "";
  if (url.empty()) std::cout << "PostgreSQL case skipped: " << postgres.Problem() << std::endl;
  const std::pair<int, std::string> cases[] = {{SIGINT, Path("records-int.sqlite")},
                                               {SIGTERM, Path("records-term.sqlite")},
                                               {SIGHUP, Path("records-hup.sqlite")},
                                               {SIGINT, url}};
  for (const auto& [signal, db] : cases) {
    if (db.empty()) continue;
    SCOPED_TRACE(db);
    sims_.clear();
    auto& jig = Jig(3, {.paced = true});
    Station& run = Start({"--capcode", "1=1500000", "--count", "3", "--records", db}, {&jig});
    ASSERT_TRUE(WaitForRequest(jig, "EraseBlock"));
    ::kill(run.pid, signal);
    EXPECT_EQ(run.Wait(), 1);
    const auto attempts = Attempts(db);
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0].result, Result::Programmed);
    EXPECT_EQ(CapcodesOnBoards(), std::vector<std::uint32_t>{1500000});
    EXPECT_NE(Output(run).find("1 of 3 boards programmed"), std::string::npos) << Output(run);
  }
}

// A programmed board left on the jig whose contact misses two probes in a row is never written a
// second time (the rules for misses, slow looks and boards that answer only the probe are in the
// presence table).
TEST_F(SeriesTest, AProgrammedBoardThatMissesProbesIsNotWrittenAgain) {
  const std::string db = Path("records.sqlite");
  auto& jig = Jig(0, {.flickerEvery = 4, .flickerRun = 2});  // the board stays on the jig
  Station& run = Start({"--capcode", "1=1500000", "--count", "2", "--records", db}, {&jig});
  // Eight probes after the Write: the missed pattern has come round twice.
  const bool looked = WaitFor(
      [&] {
        const auto requests = jig.Requests();
        const auto lastWrite =
            std::find_if(requests.rbegin(), requests.rend(),
                         [](const auto& request) { return request.command == "WriteBlock"; });
        return lastWrite != requests.rend() &&
               std::count_if(requests.rbegin(), lastWrite,
                             [](const auto& request) { return request.command == "Probe"; }) >= 8;
      },
      "eight probes after the Write");
  ::kill(run.pid, SIGINT);
  EXPECT_EQ(run.Wait(), 1);
  if (!looked) return;
  EXPECT_EQ(CapcodesOnBoards(), std::vector<std::uint32_t>{1500000});
  const auto requests = jig.Requests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const auto& request) { return request.command == "EraseBlock"; }),
            4);
  const auto attempts = Attempts(db);
  ASSERT_EQ(attempts.size(), 1u) << Output(run);
  EXPECT_EQ(attempts[0].result, Result::Programmed);
}

// A finished board put back on a jig is reported and recorded, not written; --reprogram writes it.
TEST_F(SeriesTest, ABoardPutBackOnTheJigIsNotProgrammedAgain) {
  const std::string db = Path("records.sqlite");
  auto& first = Jig(1);
  ASSERT_EQ(Start({"--capcode", "1=1500000", "--count", "1", "--records", db}, {&first}).Wait(), 0);
  first.SaveFlash(Path("finished.flash.1"));

  auto& putBack = Jig(1, {.flashFile = Path("finished.flash")});
  auto& fresh = Jig(1);
  Station& run =
      Start({"--capcode", "1=1500000", "--count", "1", "--records", db}, {&putBack, &fresh});
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  EXPECT_NE(
      Output(run).find(putBack.SlavePath() + "  1500000  FLEX 2.41  already programmed (1500000)"),
      std::string::npos)
      << Output(run);
  for (const auto& request : putBack.Requests()) EXPECT_NE(request.command, "EraseBlock");
  std::map<Result, int> results;
  for (const auto& attempt : Attempts(db)) ++results[attempt.result];
  EXPECT_EQ(results, (std::map<Result, int>{{Result::Programmed, 2}, {Result::Skipped, 1}}));
  // Skipped, not failed.
  EXPECT_NE(
      Output(run).find("1 of 1 boards programmed, 1 skipped (already programmed), 0 failed\n"),
      std::string::npos)
      << Output(run);

  Station& again =
      Start({"--capcode", "1=1500000", "--count", "1", "--records", db, "--reprogram"}, {&putBack});
  ASSERT_EQ(again.Wait(), 0) << Output(again);
  EXPECT_NE(Output(again).find(putBack.SlavePath() + "  1500002  FLEX 2.41  programmed"),
            std::string::npos)
      << Output(again);
}

// The count is a ceiling: three jigs each holding a board, two boards wanted, two written.
TEST_F(SeriesTest, NoMoreBoardsThanTheCountAreProgrammed) {
  auto& a = Jig(1);
  auto& b = Jig(1);
  auto& c = Jig(1);
  Station& run =
      Start({"--capcode", "1=1500000", "--count", "2", "--records", Path("records.sqlite")},
            {&a, &b, &c});
  ASSERT_EQ(run.Wait(), 0) << Output(run);
  EXPECT_EQ(Sorted(CapcodesOnBoards()), Range(1500000, 2));
  EXPECT_EQ(Attempts(Path("records.sqlite")).size(), 2u);
}

// Bytes that are not UTF-8, from a board's firmware text or a file's name, are stored and shown
// escaped, in both stores and every output, and nothing fails on them.
TEST_F(SeriesTest, TextFromOutsideIsStoredAndShownAsValidUtf8) {
  PostgresServer postgres;
  std::vector<std::pair<std::string, std::string>> stores = {{"SQLite", Path("records.sqlite")}};
  if (postgres.Installed() && postgres.Running()) {
    stores.emplace_back("PostgreSQL", postgres.CreateDatabase("utf8"));
  } else {
    ADD_FAILURE() << "PostgreSQL: " << postgres.Problem();
  }
  for (const auto& [name, where] : stores) {
    SCOPED_TRACE(name);
    auto& jig = Jig(1, {.identification = "FLEX  V0\x80\xFF"
                                          "41"});
    ASSERT_EQ(Start({"--capcode", "1=1500000", "--count", "1", "--records", where}, {&jig}).Wait(),
              0);
    EXPECT_EQ(Attempts(where).at(0).firmware, "Model : FLEX    Version = \\x80\\xFF41");
    // Text and CSV show the escape as it is; JSON escapes its backslash once more.
    const std::pair<std::vector<std::string>, std::string> outputs[] = {
        {{}, "\\x80\\xFF41"}, {{"--csv"}, "\\x80\\xFF41"}, {{"--json"}, "\\\\x80\\\\xFF41"}};
    for (const auto& [format, wanted] : outputs) {
      std::vector<std::string> words = {"records", "--records", where};
      words.insert(words.end(), format.begin(), format.end());
      Station& records = Spawn(words);
      EXPECT_EQ(records.Wait(), 0) << Output(records);
      EXPECT_NE(Output(records).find(wanted), std::string::npos) << Output(records);
    }
  }
  const std::string odd = Path("caf\xE9.tbl");
  fs::copy_file(Path("template.tbl"), odd);
  Station& dump = Spawn({"dump", odd, "--json"});
  EXPECT_EQ(dump.Wait(), 0) << Output(dump);
  EXPECT_NE(Output(dump).find("caf\\\\xE9.tbl"), std::string::npos) << Output(dump);
}

// Every board's image comes back from the records byte for byte (0..4093, what the board keeps
// of it), in both stores; each board put back on a jig checks as programmed, and one given
// another frequency by hand (read, set, write) is named with both frequencies.
TEST_F(SeriesTest, EachBoardsImageComesBackFromTheRecordsAndChecksAsProgrammed) {
  PostgresServer postgres;
  std::vector<std::pair<std::string, std::string>> stores = {{"SQLite", Path("records.sqlite")}};
  if (postgres.Installed() && postgres.Running()) {
    stores.emplace_back("PostgreSQL", postgres.CreateDatabase("images"));
  } else {
    ADD_FAILURE() << "PostgreSQL: " << postgres.Problem();
  }
  // Bytes 0..4093 of an image, as text (compared and ordered as a whole).
  auto data = [](const ConfigImage& image) {
    return std::string(reinterpret_cast<const char*>(image.bytes().data()), kImageDataSize);
  };
  for (const auto& [name, where] : stores) {
    SCOPED_TRACE(name);
    sims_.clear();
    auto& a = Jig(3);
    auto& b = Jig(2);
    Station& run = Start(
        {"--capcode", "1=1500000", "--capcode", "2=1700000:5", "--count", "5", "--records", where},
        {&a, &b});
    ASSERT_EQ(run.Wait(), 0) << Output(run);
    std::multiset<std::string> onBoards;
    for (const ConfigImage& image : WrittenImages(sims_)) onBoards.insert(data(image));
    std::multiset<std::string> rebuilt;
    for (const records::Attempt& attempt : Attempts(where)) {
      const std::string file = Path(name + std::to_string(attempt.id) + ".tbl");
      Station& image =
          Spawn({"records", "--records", where, "--image", std::to_string(attempt.id), "-o", file});
      ASSERT_EQ(image.Wait(), 0) << Output(image);
      ConfigImage opened;
      ASSERT_TRUE(OpenConfigFile(file, opened).ok());
      rebuilt.insert(data(opened));
    }
    EXPECT_EQ(onBoards.size(), 5u);
    EXPECT_EQ(rebuilt, onBoards);

    std::set<std::string> named;
    const std::vector<ConfigImage> boards = WrittenImages(sims_);
    for (std::size_t k = 0; k < boards.size(); ++k) {
      const std::string file = Path(name + "-board" + std::to_string(k) + ".tbl");
      ASSERT_TRUE(SaveConfigFile(file, boards[k]).ok());
      const std::string port =
          Jig(0, {.contents = sim::SimContents::Table, .tablePath = file}).SlavePath();
      Station& check = Spawn({"check", "--port", port, "--records", where});
      EXPECT_EQ(check.Wait(), 0) << Output(check);
      EXPECT_TRUE(Output(check).starts_with("as programmed: attempt #")) << Output(check);
      named.insert(Output(check).substr(0, Output(check).find(',')));
    }
    EXPECT_EQ(named.size(), boards.size());
    const std::string port = sims_.back()->SlavePath();
    const std::string changed = Path(name + "-changed.tbl");
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"read", changed, "--port", port},
          {"set", changed, "pll.n=463.0125"},
          {"write", changed, "--port", port}}) {
      Station& step = Spawn(words);
      ASSERT_EQ(step.Wait(), 0) << Output(step);
    }
    Station& check = Spawn({"check", "--port", port, "--records", where});
    EXPECT_EQ(check.Wait(), 1) << Output(check);
    EXPECT_TRUE(Output(check).starts_with("changed since programmed: attempt #")) << Output(check);
    EXPECT_NE(Output(check).find("pll.n"), std::string::npos) << Output(check);
    EXPECT_NE(Output(check).find("(462.0000 MHz)  ->  00450080 (463.0125 MHz)"), std::string::npos)
        << Output(check);
  }
}

TEST_F(SeriesTest, TwoStationsOnOneStoreNeverShareACapcode) {
  PostgresServer postgres;
  std::vector<std::pair<std::string, std::string>> stores = {{"SQLite", Path("shared.sqlite")}};
  if (postgres.Installed() && postgres.Running()) {
    stores.emplace_back("PostgreSQL", postgres.CreateDatabase("series"));
  } else {
    TUVA_REQUIRE_POSTGRES(postgres);
  }
  for (const auto& [name, where] : stores) {
    SCOPED_TRACE(name);
    sims_.clear();
    std::vector<Station*> stations;
    for (const char* station : {"left", "right"}) {
      auto& a = Jig(2);
      auto& b = Jig(2);
      stations.push_back(&Start(
          {"--capcode", "1=1500000", "--count", "4", "--records", where, "--station", station},
          {&a, &b}));
    }
    for (Station* station : stations) EXPECT_EQ(station->Wait(), 0) << Output(*station);
    EXPECT_EQ(Sorted(CapcodesOnBoards()), Range(1500000, 8));
    std::set<std::string> names;
    for (const auto& attempt : Attempts(where)) names.insert(attempt.station);
    EXPECT_EQ(names, (std::set<std::string>{"left", "right"}));
  }
}

// tuvactl series killed at random moments: what the records say and what the boards hold agree.
TEST_F(SeriesTest, KilledAtAnyMomentTheRecordsAndTheBoardsAgree) {
  const std::string db = Path("killed.sqlite");
  auto& a = Jig(100);
  auto& b = Jig(100);
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> moment(0, 1500);
  for (int round = 0; round < 20; ++round) {
    Station& run = Start({"--capcode", "1=1500000", "--count", "100", "--records", db}, {&a, &b});
    std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
    ::kill(run.pid, SIGKILL);
    run.Wait();
    // The technician restarts it after a moment: a board finished just before the kill has been
    // taken off the jig by then.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }

  const auto onBoards = CapcodesOnBoards();
  const std::set<std::uint32_t> distinct(onBoards.begin(), onBoards.end());
  EXPECT_EQ(distinct.size(), onBoards.size()) << "a capcode is on two boards";
  std::set<std::uint32_t> held;
  int programmed = 0;
  for (const auto& attempt : Attempts(db)) {
    for (const auto& taken : attempt.taken) {
      if (taken.held) held.insert(taken.capcode);
      if (attempt.result != Result::Programmed) continue;
      ++programmed;
      EXPECT_TRUE(distinct.count(taken.capcode)) << taken.capcode << " recorded but on no board";
    }
  }
  for (const std::uint32_t capcode : distinct) {
    EXPECT_TRUE(held.count(capcode)) << capcode << " on a board but free in the records";
  }
  EXPECT_GT(programmed, 0);
}

}  // namespace
}  // namespace tuva::testing
