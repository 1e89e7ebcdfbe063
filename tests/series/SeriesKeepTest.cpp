// Re-provisioning: boards programmed before get a new template and keep their own capcodes. Real
// tuvactl and series runs against simulated boards on pseudo-terminals, records in real SQLite.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "SeriesStations.h"
#include "features/FieldValues.h"
#include "files/ConfigFile.h"
#include "image/CapcodeCodec.h"
#include "link/Protocol.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "series/JigBoard.h"
#include "series/SeriesImage.h"
#include "series/SeriesRun.h"
#include "sim/SimServer.h"
#include "support/RunProgram.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Result;

constexpr auto kDeadline = std::chrono::seconds(60);

class SeriesKeepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("tuva-series-keep");
    ::setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
    // The new template: the fleet moves to another frequency.
    ASSERT_TRUE(SaveConfigFile(Path("template.tbl"), Board("1234567", "1234560", "465.0000")).ok());
  }
  void TearDown() override {
    sims_.clear();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static ConfigImage Board(const std::string& first, const std::string& second,
                           const std::string& frequency = "462.0000") {
    ConfigImage image = ConfigImage::StartupImage();
    EXPECT_FALSE(ApplyFieldTexts(
        image,
        {{"capcode.1.address", first}, {"capcode.2.address", second}, {"pll.n", frequency}}));
    return image;
  }

  // A jig holding `image` in both copies, or erased boards when there is none.
  sim::SimServer& Jig(const std::optional<ConfigImage>& image) {
    sim::SimOptions options;
    options.contents = sim::SimContents::Erased;
    if (image) {
      options.contents = sim::SimContents::Table;
      options.tablePath = Path("board" + std::to_string(sims_.size()) + ".tbl");
      EXPECT_TRUE(SaveConfigFile(options.tablePath, *image).ok());
    }
    sims_.push_back(std::make_unique<sim::SimServer>(options));
    sims_.back()->Start();
    return *sims_.back();
  }

  static std::vector<std::uint8_t> Copy0(const sim::SimServer& jig) {
    return jig.ReadFlash(kConfigBase, kImageSize);
  }

  static ConfigImage Held(const sim::SimServer& jig) {
    const auto bytes = Copy0(jig);
    ConfigImage image;
    image.Assign(std::span<const std::uint8_t, kImageSize>(bytes.data(), kImageSize));
    return image;
  }

  // Runs `plan` with its boards left on their jigs: the run ends once each has been dealt with,
  // or at the deadline. Each port's result.
  static std::map<std::string, std::string> RunUntilEachBoardIsDealtWith(
      records::RecordStore& store, const series::SeriesPlan& plan) {
    std::mutex mutex;
    std::map<std::string, std::string> results;
    std::atomic<std::size_t> reported{0};
    series::SeriesRun run(store, plan, [&](const series::BoardReport& report) {
      std::lock_guard lock(mutex);
      results[report.port] = report.result;
      reported = results.size();
    });
    std::thread stopper([&] {
      const auto end = std::chrono::steady_clock::now() + kDeadline;
      while (std::chrono::steady_clock::now() < end && reported < plan.ports.size()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      run.Stop();
    });
    run.Run();
    stopper.join();
    return results;
  }

  fs::path dir_;
  std::vector<std::unique_ptr<sim::SimServer>> sims_;
};

// Three boards with capcodes of their own and a template with a new frequency: each board keeps
// its capcodes, takes the frequency, and is recorded as re-provisioned with the image it holds.
TEST_F(SeriesKeepTest, EachBoardKeepsItsCapcodesAndTakesTheNewFrequency) {
  const std::vector<std::pair<std::string, std::string>> capcodes = {
      {"1500001", "1600001"}, {"1500002", "1600002"}, {"1500003", "1600003"}};
  std::vector<std::string> arguments = {
      "series",    Path("template.tbl"),   "--keep",       "capcodes", "--count", "3",
      "--records", Path("records.sqlite"), "--new-records"};
  for (const auto& [first, second] : capcodes) {
    arguments.insert(arguments.end(), {"--port", Jig(Board(first, second)).SlavePath()});
  }
  const ProgramRun run = RunProgram(TUVACTL, arguments, dir_.string());
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("3 of 3 boards programmed (3 re-provisioned), 0 failed\n"),
            std::string::npos)
      << run.out;

  const auto attempts =
      records::OpenRecordStore(Path("records.sqlite"), records::OpenMode::ReadOnly)->List({});
  ASSERT_EQ(attempts.size(), 3u);
  for (std::size_t i = 0; i < capcodes.size(); ++i) {
    SCOPED_TRACE(i);
    const ConfigImage held = Held(*sims_[i]);
    EXPECT_TRUE(PassesSumCheck(Copy0(*sims_[i])));
    EXPECT_EQ(GetFieldText(held, *FindField("capcode.1.address")), capcodes[i].first);
    EXPECT_EQ(GetFieldText(held, *FindField("capcode.2.address")), capcodes[i].second);
    EXPECT_EQ(series::FrequencyText(held), "465.0000");
    EXPECT_NE(run.out.find(sims_[i]->SlavePath() + "  " + capcodes[i].first + "," +
                           capcodes[i].second + "  FLEX 2.41  reprovisioned"),
              std::string::npos)
        << run.out;
    const auto attempt = std::find_if(attempts.begin(), attempts.end(), [&](const auto& a) {
      return a.port == sims_[i]->SlavePath();
    });
    ASSERT_NE(attempt, attempts.end());
    EXPECT_EQ(attempt->result, Result::Programmed);
    EXPECT_EQ(records::ResultText(*attempt), "reprovisioned");
    EXPECT_EQ(attempt->kept, "capcodes");
    EXPECT_TRUE(attempt->taken.empty());
    EXPECT_EQ(attempt->capcodes, series::CapcodeTexts(held));
    EXPECT_EQ(attempt->sha256, records::Sha256Hex(Copy0(*sims_[i]).data(), kImageSize));
  }
}

// Boards that must not be written: one keeping a capcode another board holds, and one whose
// copies are both bad. A board whose capcodes are exactly an earlier record's is that record's
// board and is written; a capcode every board is given alike is nobody's.
TEST_F(SeriesKeepTest, ABoardIsStoppedWhenItsCapcodeIsAnotherBoardsOrItCannotBeRead) {
  auto store = records::OpenRecordStore(Path("records.sqlite"), records::OpenMode::Create);
  // An attempt of the records: slot 1's capcode `pool` from the pool (none when 0), ending as
  // `result` (erased first when `erased`), with `board`'s capcodes, and kept fields `kept` with
  // the SHA-256 `sha256`.
  auto record = [&](std::uint32_t pool, const ConfigImage& board, std::optional<Result> result,
                    bool erased = false, const std::string& kept = {},
                    const std::string& sha256 = {}) {
    records::Attempt start;
    start.port = "bench";
    std::vector<records::CountingSlot> slots;
    if (pool != 0) slots.push_back({1, pool, 1, kShortCapcodeMaximum});
    records::Attempt attempt = store->Reserve(start, slots);
    if (erased) store->MarkErased(attempt.id);
    if (!result) return;
    attempt.capcodes = series::CapcodeTexts(board);
    attempt.result = *result;
    attempt.kept = kept;
    attempt.sha256 = sha256;
    store->Finish(attempt);
  };
  auto sealedSha = [](ConfigImage image) {
    image.Seal();
    return records::Sha256Hex(image.bytes().data(), kImageSize);
  };
  record(1500001, Board("1500001", "1600009"), Result::Programmed);              // #1
  record(0, Board("1500005", "1234560"), Result::Programmed);                    // #2
  record(1500007, Board("1500007", "1777777"), Result::Programmed);              // #3
  record(1500020, Board("1500020", "1600020"), Result::Failed, true);            // #4
  record(1500030, {}, std::nullopt, true);                                       // #5, open
  record(0, Board("1500040", "1600040"), Result::Programmed, false, "capcodes",  // #6
         sealedSha(Board("1500040", "1600040", "465.0000")));
  record(0, Board("1500041", "1600041"), Result::Programmed, false, "capcodes",  // #7
         sealedSha(Board("1500041", "1600041")));
  record(0, Board("1500050", "1600050"), Result::Skipped);       // #8
  record(1500060, Board("1500060", "1600060"), Result::Failed);  // #9, never erased

  struct Case {
    std::optional<ConfigImage> board;
    std::string result;  // the start of the board's line's result
  };
  const std::vector<Case> cases = {
      {Board("1500001", "1600001"),
       "failed: capcode 1500001 is held by another board: attempt #1 (programmed, bench"},
      {std::nullopt, "failed: cannot read the board to keep its fields: Read Error!"},
      {Board("1500001", "1600009"), "reprovisioned"},
      // 1234560 is the template's; 1777777 no board took from the pool (#3 took 1500007):
      // given alike.
      {Board("1500006", "1234560"), "reprovisioned"},
      {Board("1500008", "1777777"), "reprovisioned"},
      {Board("1234567", "1234560"), "failed: the board keeps no capcode of its own"},
      // A board erased by a failed or unfinished Write may hold its capcodes.
      {Board("1500020", "1600021"),
       "failed: capcode 1500020 is held by another board: attempt #4 (failed, bench"},
      {Board("1500030", "1600030"),
       "failed: capcode 1500030 is held by another board: attempt #5 (erased, bench"},
      // Re-provisioned before: the board must hold what that attempt wrote, or it is a copy.
      {Board("1500040", "1600040"),
       "failed: capcode 1500040 is held by another board: attempt #6 (reprovisioned, bench"},
      {Board("1500041", "1600041"), "reprovisioned"},
      // Neither a board left alone nor a failure that never erased its board put a capcode on it.
      {Board("1500050", "1600051"), "reprovisioned"},
      {Board("1500060", "1600061"), "reprovisioned"},
  };
  series::SeriesPlan plan;
  plan.templateImage = Board("1234567", "1234560", "465.0000");
  plan.keep = {"capcodes"};
  plan.count = static_cast<int>(cases.size());
  for (const Case& test : cases) plan.ports.push_back(Jig(test.board).SlavePath());
  auto results = RunUntilEachBoardIsDealtWith(*store, plan);
  ASSERT_EQ(results.size(), cases.size()) << "not every board was dealt with in time";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].result);
    EXPECT_EQ(results[plan.ports[i]].rfind(cases[i].result, 0), 0u) << results[plan.ports[i]];
    const bool written = cases[i].result == "reprovisioned";
    EXPECT_EQ(series::FrequencyText(Held(*sims_[i])) == "465.0000", written);
    if (cases[i].board) {
      EXPECT_EQ(series::CapcodeTexts(Held(*sims_[i])), series::CapcodeTexts(*cases[i].board));
    }
  }
  // The board that could not be read was left erased: not given the template's capcodes.
  const auto erased = Copy0(*sims_[1]);
  EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

// Two copies of one board (the same image) are re-provisioned once: in one run the second is
// stopped by the first, and in a later run the copy left behind is stopped by the first's record,
// while the board re-provisioned comes back and is re-provisioned again.
TEST_F(SeriesKeepTest, TwoCopiesOfABoardAreReprovisionedOnce) {
  auto store = records::OpenRecordStore(Path("records.sqlite"), records::OpenMode::Create);
  series::SeriesPlan plan;
  plan.templateImage = Board("1234567", "1234560", "465.0000");
  plan.keep = {"capcodes"};
  plan.count = 2;
  for (int i = 0; i < 2; ++i) plan.ports.push_back(Jig(Board("1500050", "1600050")).SlavePath());
  const std::string copy = "failed: capcode 1500050 is held by another board";
  for (const char* run : {"one run", "a later run"}) {
    SCOPED_TRACE(run);
    auto results = RunUntilEachBoardIsDealtWith(*store, plan);
    ASSERT_EQ(results.size(), 2u) << "not every board was dealt with in time";
    std::vector<std::string> outcomes;
    for (const auto& port : plan.ports) outcomes.push_back(results[port].substr(0, copy.size()));
    std::sort(outcomes.begin(), outcomes.end());
    EXPECT_EQ(outcomes, (std::vector<std::string>{copy, "reprovisioned"}))
        << results[plan.ports[0]];
  }
  // The copy still holds the old frequency; the board re-provisioned twice, the new one.
  std::vector<std::string> frequencies = {series::FrequencyText(Held(*sims_[0])),
                                          series::FrequencyText(Held(*sims_[1]))};
  std::sort(frequencies.begin(), frequencies.end());
  EXPECT_EQ(frequencies, (std::vector<std::string>{"462.0000", "465.0000"}));
}

// Names that are not fields, and a counting slot whose capcode is kept, stop the run before any
// board is touched.
TEST_F(SeriesKeepTest, BadKeptFieldsAreRefusedBeforeAnyBoard) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--keep", "capcode.1.adress"},
       "unknown field capcode.1.adress (did you mean capcode.1.address"},
      {{"--keep", "capcodes", "--capcode", "2=1700000"},
       "capcode slot 2 counts up, and its capcode is kept from the board too"},
  };
  auto& jig = Jig(Board("1500001", "1600001"));
  for (const auto& [words, message] : cases) {
    SCOPED_TRACE(message);
    std::vector<std::string> arguments = {
        "series",       Path("template.tbl"),   "--count",       "1",
        "--records",    Path("records.sqlite"), "--new-records", "--port",
        jig.SlavePath()};
    arguments.insert(arguments.end(), words.begin(), words.end());
    const ProgramRun run = RunProgram(TUVACTL, arguments, dir_.string());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  EXPECT_TRUE(jig.Requests().empty());
}

// Every series step that opens with a probe (Write, Verify, the Read of a board to re-provision,
// the firmware) tries again only while the probe went unanswered: then nothing reached the board.
TEST(OpeningTries, OnlyAnUnansweredProbeIsTriedAgainAndOnlyUpToTheLimit) {
  const struct {
    OutcomeKind kind;
    int tries;
    bool again;
  } rows[] = {
      {OutcomeKind::BoardNotFound, 1, true},  {OutcomeKind::BoardNotFound, 4, true},
      {OutcomeKind::BoardNotFound, 5, false}, {OutcomeKind::Done, 1, false},
      {OutcomeKind::TransmitError, 1, false}, {OutcomeKind::LinkLost, 1, false},
      {OutcomeKind::NotFlex, 1, false},       {OutcomeKind::BlockDiffers, 1, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(series::TryAgain(row.kind, row.tries, 5), row.again)
        << static_cast<int>(row.kind) << " after try " << row.tries;
  }
  int calls = 0;
  const Outcome last = series::WithOpeningTries(3, [&calls] {
    return ++calls < 3 ? Outcome(OutcomeKind::BoardNotFound) : Outcome(OutcomeKind::Done);
  });
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(last.Done());
}

// A port's per cent comes from the phases that move a copy: a Write's four (each copy written and
// read back) in turn; the probe, the checks and the erases do not count, nor a phase given up.
TEST(JigPercent, TheBigPhasesOfAWriteCountAQuarterEach) {
  std::vector<int> shown;
  series::QuietFrontend frontend([&shown](int percent) { shown.push_back(percent); });
  ProgressMeter meter(frontend);
  frontend.Track(4);
  const auto phase = [&meter](Phase phase, long total, long done) {
    meter.Begin(phase, total);
    if (done > 0) meter.Step(done);
  };
  phase(Phase::Probe, 27, 27);
  phase(Phase::Check, 12, 12);
  phase(Phase::Erase, 27, 27);
  phase(Phase::Write, 4100, 4100);
  phase(Phase::ReadBack, 4094, 4094);
  phase(Phase::Erase, 27, 27);
  phase(Phase::Write, 4100, 2050);
  meter.Restart();  // given up half way
  phase(Phase::ReadBack, 4094, 4094);
  EXPECT_EQ(shown, (std::vector<int>{0, 25, 25, 50, 50, 50 + 12, 50, 50, 75}));
  frontend.Track(1);
  phase(Phase::FirmwareRead, 0, 10);  // nothing to move: no per cent to tell
  EXPECT_EQ(shown.size(), 9u);
}

}  // namespace
}  // namespace tuva::testing
