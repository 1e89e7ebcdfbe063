// tuvactl series with each board's values from the operator's CSV list: the real executable,
// simulated boards on pseudo-terminals, the records in a real SQLite file or PostgreSQL server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "SeriesStations.h"
#include "features/FieldTable.h"
#include "features/FieldValues.h"
#include "files/ConfigFile.h"
#include "image/CapcodeCodec.h"
#include "link/Protocol.h"
#include "records/RecordStore.h"
#include "sim/SimServer.h"
#include "support/PostgresServer.h"

extern char** environ;

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;

class SeriesListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("tuva-series-list");
    ASSERT_TRUE(SaveConfigFile(Path("template.tbl"), ConfigImage::StartupImage()).ok());
    ::setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
  }
  void TearDown() override {
    stations_.reset();
    sims_.clear();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
    return Path(name);
  }

  // Prompt 1 of the list's row on `line` (ending in `suffix`): a comma in one row, a leading space
  // in the next, both kept by the quotes all the way to the board.
  static std::string Prompt(int line, const std::string& suffix) {
    return (line % 2 == 0 ? "Row, " : " Row ") + std::to_string(line) + suffix;
  }

  // A list of `rows` boards: slot 1 counts from `first`, prompt 1 names the row.
  std::string List(const std::string& name, std::uint32_t first, int rows,
                   const std::string& suffix = "") const {
    std::string text = "capcode.1.address,prompt.1\n";
    for (int i = 0; i < rows; ++i) {
      text += std::to_string(first + i) + ", \"" + Prompt(i + 2, suffix) + "\"\n";
    }
    return Write(name, text);
  }

  sim::SimServer& Jig(int boards, const std::string& flashFile = {}) {
    sim::SimOptions options;
    options.flashFile = flashFile;
    options.contents = sim::SimContents::Erased;
    options.boards = boards;
    options.removedMs = 700;
    sims_.push_back(std::make_unique<sim::SimServer>(options));
    sims_.back()->Start();
    return *sims_.back();
  }

  Station& Spawn(std::vector<std::string> words) {
    return stations_->Spawn(TUVACTL, std::move(words));
  }

  Station& Series(std::vector<std::string> arguments, const std::vector<sim::SimServer*>& jigs) {
    std::vector<std::string> words = {"series", Path("template.tbl"), "--new-records"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    for (auto* jig : jigs) words.insert(words.end(), {"--port", jig->SlavePath()});
    return Spawn(words);
  }

  static int Wait(Station& run) { return run.Wait(); }
  static std::string Output(const Station& run) { return run.Output(); }

  // "capcode prompt" of every written board over all jigs, sorted.
  std::vector<std::string> Boards() const {
    std::vector<std::string> boards;
    for (const ConfigImage& image : WrittenImages(sims_)) {
      boards.push_back(GetFieldText(image, *FindField("capcode.1.address")) + " " +
                       GetFieldText(image, *FindField("prompt.1")));
    }
    std::sort(boards.begin(), boards.end());
    return boards;
  }

  // What the list of `rows` rows from `first` puts on the boards of lines `from` to `to`.
  static std::vector<std::string> Rows(std::uint32_t first, int from, int to,
                                       const std::string& suffix = "") {
    std::vector<std::string> rows;
    for (int line = from; line <= to; ++line) {
      ConfigImage image = ConfigImage::StartupImage();
      EXPECT_FALSE(ApplyFieldTexts(image, {{"prompt.1", Prompt(line, suffix)}}));
      rows.push_back(std::to_string(first + line - 2) + " " +
                     GetFieldText(image, *FindField("prompt.1")));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  fs::path dir_;
  std::vector<std::unique_ptr<sim::SimServer>> sims_;
  std::unique_ptr<Stations> stations_ = std::make_unique<Stations>(
      [this](std::size_t n) { return Path("out" + std::to_string(n) + ".txt"); });
};

// The list's values reach the boards row by row, each row once; a second run goes on where the
// first stopped, and a third finds the list used up.
TEST_F(SeriesListTest, TenRowsOverTwoJigsAreUsedOnceAcrossRuns) {
  const std::string db = Path("records.sqlite");
  const std::string list = List("list.csv", 1500000, 10);
  auto& a = Jig(3);
  auto& b = Jig(3);
  Station& first = Series({"--capcodes", list, "--count", "6", "--records", db}, {&a, &b});
  ASSERT_EQ(Wait(first), 0) << Output(first);
  EXPECT_EQ(Boards(), Rows(1500000, 2, 7));
  a.SaveFlash(Path("finished.flash.1"));

  // A finished board put back among new ones is told by its list capcode and left alone.
  auto& putBack = Jig(1, Path("finished.flash"));
  auto& c = Jig(2);
  auto& d = Jig(2);
  Station& second = Series({"--capcodes", list, "--records", db}, {&putBack, &c, &d});
  ASSERT_EQ(Wait(second), 0) << Output(second);
  EXPECT_NE(Output(second).find("4 of 4 boards programmed"), std::string::npos) << Output(second);
  EXPECT_NE(Output(second).find(putBack.SlavePath() + "  15000"), std::string::npos);
  EXPECT_NE(Output(second).find("already programmed (15000"), std::string::npos) << Output(second);
  for (const auto& request : putBack.Requests()) EXPECT_NE(request.command, "EraseBlock");
  auto boards = Boards();  // the board put back is there twice
  EXPECT_EQ(boards.size(), 11u);
  boards.erase(std::unique(boards.begin(), boards.end()), boards.end());
  EXPECT_EQ(boards, Rows(1500000, 2, 11));

  const auto attempts = records::OpenRecordStore(db, records::OpenMode::ReadOnly)->List({});
  ASSERT_EQ(attempts.size(), 11u);
  for (const auto& attempt : attempts) {
    if (attempt.result == records::Result::Skipped) continue;
    EXPECT_EQ(attempt.result, records::Result::Programmed);
    ASSERT_EQ(attempt.taken.size(), 1u);
    EXPECT_EQ(attempt.taken[0].slot, 1);
  }
  Station& state = Spawn({"records", "--list", list, "--records", db});
  EXPECT_EQ(Wait(state), 0);
  EXPECT_EQ(Output(state), list + ": 10 rows: 10 used, 0 free, 0 failed\n");

  auto& e = Jig(1);
  Station& third = Series({"--capcodes", list, "--records", db}, {&e});
  EXPECT_EQ(Wait(third), 2);
  EXPECT_NE(Output(third).find("the list " + list + " is used up: 10 rows: 10 used"),
            std::string::npos)
      << Output(third);
  // A new list that hands out a capcode a programmed board has: two receivers would share it.
  Station& shared = Series({"--capcodes", List("other.csv", 1500009, 2), "--records", db}, {&e});
  EXPECT_EQ(Wait(shared), 2);
  EXPECT_NE(Output(shared).find("other.csv line 2: capcode 1500009 is already held"),
            std::string::npos)
      << Output(shared);
  Station& bytes = Series(
      {"--capcodes", Write("bytes.csv", "capcode.1.address\nbytes:17 63 69\n"), "--records", db},
      {&e});
  EXPECT_EQ(Wait(bytes), 2);
  EXPECT_NE(Output(bytes).find("bytes.csv line 2: capcode 1500009 is already held"),
            std::string::npos)
      << Output(bytes);
  EXPECT_TRUE(e.Requests().empty());
}

TEST_F(SeriesListTest, BadListsAreRefusedBeforeAnyBoard) {
  struct Case {
    std::string list;
    std::vector<std::string> more;
    std::string message;
  };
  const Case cases[] = {
      {"capcode.1.adress\n1500000\n", {}, "line 1: unknown field capcode.1.adress (did you mean"},
      {"capcode.1.address,prompt.1\n1500000,A\n3000000,B\n",
       {},
       "line 3: capcode.1.address: Please insert a number between"},
      {"capcode.1.address\n1500000\n\n1500001\n1500000\n",
       {},
       "line 5: capcode 1500000 is given "
       "twice (also on line 2)"},
      {"capcode.1.address\n", {}, "is empty: it has no row under its header"},
      {"", {}, "is empty"},
      {"capcode.1.address\n1500000\n",
       {"--capcode", "1=1600000"},
       "capcode slot 1 is counted and also given by the list"},
      // Values as a spreadsheet writes them; the reader says what it takes.
      {"capcode.1.address,prompt.1\n1500000,\"Row\nTwo\"\n",
       {},
       "line 2: not a CSV row: a quoted value does not end on its line (a value may not span "
       "lines)"},
      {"capcode.1.address\n\"1500000\"0\n", {}, "line 2: not a CSV row: text follows a closing"},
      {"capcode.1.address;prompt.1\n1500000;A\n",
       {},
       "line 1: the header's names are separated by semicolons; the list takes CSV: values "
       "separated by commas, lines ending in LF or CR LF"},
      {"capcode.1.address,prompt.1\r1500000,A\r",
       {},
       "line 1: a line ends in a carriage return alone; the list takes CSV"},
      // Spaces round a value do not belong to it, as round a header name; quotes keep theirs.
      {"capcode.1.address , prompt.1\n 1500000 , \"A \" \n1500000\t,B\n",
       {},
       "line 3: capcode 1500000 is given twice (also on line 2)"},
      {"capcode.1.address,prompt.1\n1500000\n", {}, "line 2: 1 values for the header's 2 fields"},
      {"capcode.1.address\n1500000\n1500002\n",
       {"--capcode", "2=1499999:3"},
       "capcode slot 2 would hand out capcode 1500002, which line 3 of the list"},
      // Every board needs a capcode of its own, in a slot that is on.
      {"prompt.1\nA\nB\n", {}, "no capcode slot counts up and the list "},
      {"capcode.16.address\n1500000\n", {}, "line 2: capcode slot 16 is disabled in "},
      {"capcode.1.enabled\noff\n",
       {"--capcode", "1=1600000"},
       "capcode slot 1 is counted and also given by the list"},
      // A capcode in its bytes is the capcode they store.
      {"capcode.1.address\nbytes:18 EA 14\n1600020\n",
       {},
       "line 3: capcode 1600020 is given twice (also on line 2)"},
      {"capcode.1.address\nbytes:18 EA 14\n",
       {"--capcode", "2=1600020"},
       "capcode slot 2 would hand out capcode 1600020, which line 2 of the list"},
      {"capcode.1.address\nbytes:00 00 01\n", {}, "line 2: capcode.1.address names no capcode"},
  };
  auto& jig = Jig(1);
  int n = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.message);
    const std::string list = Write("bad" + std::to_string(++n) + ".csv", test.list);
    std::vector<std::string> arguments = {"--capcodes", list, "--records", Path("records.sqlite")};
    arguments.insert(arguments.end(), test.more.begin(), test.more.end());
    Station& run = Series(arguments, {&jig});
    EXPECT_EQ(Wait(run), 2);
    EXPECT_NE(Output(run).find(test.message), std::string::npos) << Output(run);
  }
  EXPECT_TRUE(jig.Requests().empty());
}

// Two stations on one list: the first takes a row, the second the rest; the first's next board
// then finds no row left. That board is left untouched and is no failure: the run is done.
TEST_F(SeriesListTest, AListTheOtherStationUsedUpEndsTheRunAsDone) {
  const std::string db = Path("records.sqlite");
  const std::string list = List("list.csv", 1500000, 3);
  const std::string late = Path("late-port");  // a port whose adapter is plugged in later
  auto& a = Jig(1);
  Station& first = Series({"--capcodes", list, "--records", db, "--port", late}, {&a});
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Output(first).find(" programmed") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << Output(first);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  auto& b = Jig(2);
  Station& second = Series({"--capcodes", list, "--records", db}, {&b});
  ASSERT_EQ(Wait(second), 0) << Output(second);

  auto& c = Jig(1);
  fs::create_symlink(c.SlavePath(), late);
  EXPECT_EQ(Wait(first), 0) << Output(first);
  EXPECT_NE(Output(first).find("1 of 3 boards programmed, 0 failed; done: no row of the list " +
                               list + " is left"),
            std::string::npos)
      << Output(first);
  EXPECT_EQ(Output(first).find("failed:"), std::string::npos) << Output(first);
  for (const auto& request : c.Requests()) EXPECT_NE(request.command, "EraseBlock");
  const auto attempts = records::OpenRecordStore(db, records::OpenMode::ReadOnly)->List({});
  EXPECT_EQ(attempts.size(), 3u);
  EXPECT_EQ(Boards(), Rows(1500000, 2, 4));
}

// Two stations import the same file into one PostgreSQL database and take its rows in turns; a
// prompt in Latin-1 reaches the boards as its bytes.
TEST_F(SeriesListTest, TwoStationsShareOneListWithoutADuplicate) {
  PostgresServer postgres;
  TUVA_REQUIRE_POSTGRES(postgres);
  const std::string where = postgres.CreateDatabase("lists");
  const std::string list = List("list.csv", 1700000, 8, "\xE9");
  std::vector<Station*> stations;
  for (const char* station : {"left", "right"}) {
    auto& a = Jig(2);
    auto& b = Jig(2);
    stations.push_back(&Series(
        {"--capcodes", list, "--count", "4", "--records", where, "--station", station}, {&a, &b}));
  }
  for (Station* station : stations) EXPECT_EQ(Wait(*station), 0) << Output(*station);
  EXPECT_EQ(Boards(), Rows(1700000, 2, 9, "\xE9"));
  Station& state = Spawn({"records", "--list", list, "--records", where});
  EXPECT_EQ(Wait(state), 0);
  EXPECT_NE(Output(state).find(": 8 rows: 8 used, 0 free, 0 failed"), std::string::npos)
      << Output(state);
}

}  // namespace
}  // namespace tuva::testing
