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
#include "link/Protocol.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
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

// Boards that must not be written: one keeping a capcode another programmed board holds, and one
// whose copies are both bad. A board whose capcodes are exactly an earlier record's is that
// record's board and is written.
TEST_F(SeriesKeepTest, ABoardIsStoppedWhenItsCapcodeIsAnotherBoardsOrItCannotBeRead) {
  auto store = records::OpenRecordStore(Path("records.sqlite"), records::OpenMode::Create);
  records::Attempt start;
  start.port = "bench";
  records::Attempt other = store->Reserve(start, {});
  other.capcodes = series::CapcodeTexts(Board("1500001", "1600009"));
  other.result = Result::Programmed;
  store->Finish(other);

  struct Case {
    std::optional<ConfigImage> board;
    std::string result;  // the start of the board's line's result
  };
  const std::vector<Case> cases = {
      {Board("1500001", "1600001"),
       "failed: capcode 1500001 is held by another board: attempt #1 (programmed, bench"},
      {std::nullopt, "failed: cannot read the board to keep its fields: Read Error!"},
      {Board("1500001", "1600009"), "reprovisioned"},
  };
  series::SeriesPlan plan;
  plan.templateImage = Board("1234567", "1234560", "465.0000");
  plan.keep = {"capcodes"};
  plan.count = 3;
  for (const Case& test : cases) plan.ports.push_back(Jig(test.board).SlavePath());
  std::mutex mutex;
  std::map<std::string, std::string> results;
  std::atomic<std::size_t> reported{0};
  series::SeriesRun run(*store, plan, [&](const series::BoardReport& report) {
    std::lock_guard lock(mutex);
    results[report.port] = report.result;
    reported = results.size();
  });
  // The boards stay on their jigs: the run ends once each has been dealt with, or at the deadline.
  std::thread stopper([&] {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (std::chrono::steady_clock::now() < end && reported < cases.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.Stop();
  });
  run.Run();
  stopper.join();
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

}  // namespace
}  // namespace tuva::testing
