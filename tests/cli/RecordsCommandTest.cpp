// tuvactl records against a records file the test fills through the store.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "records/RecordStore.h"
#include "support/RunProgram.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Attempt;
using records::Result;

class RecordsCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    db_ = (dir_ / "records.sqlite").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs tuvactl with XDG_DATA_HOME inside the test's folder.
  ProgramRun Tuvactl(const std::vector<std::string>& arguments) {
    return RunProgram(TUVACTL, arguments, dir_.string(),
                      {"XDG_DATA_HOME=" + (dir_ / "data").string()});
  }

  // Three boards on slot 1 from 1500000: programmed, failed after its erase, failed before; and a
  // fourth being written.
  void FillRecords() {
    auto store = records::OpenRecordStore(db_, records::OpenMode::Create);
    const records::CountingSlot slot{1, 1500000, 1, 2097151};
    for (const Result result : {Result::Programmed, Result::Failed, Result::Failed}) {
      Attempt start;
      start.port = "/dev/ttyUSB0";
      start.station = "bench, left";
      Attempt attempt = store->Reserve(start, {slot});
      if (result == Result::Programmed || attempt.id == 2) store->MarkErased(attempt.id);
      attempt.result = result;
      attempt.firmware = "FLEX 3.10";
      attempt.capcodes = {std::to_string(attempt.taken[0].capcode), "0000002001"};
      attempt.message = result == Result::Failed ? "Verify Error! \"x\"" : "";
      attempt.seconds = 9.5;
      store->Finish(attempt);
    }
    // A fourth board being written now on another port.
    Attempt start;
    start.port = "/dev/ttyUSB1";
    start.station = "bench, left";
    const Attempt writing = store->Reserve(start, {slot});
    store->MarkErased(writing.id);
    open_ = std::move(store);
  }

  bool Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(db_.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
  }

  fs::path dir_ = fs::temp_directory_path() / ("tuva-records-cli-" + std::to_string(::getpid()));
  std::string db_;
  std::unique_ptr<records::RecordStore> open_;  // the store of the run writing board 4
};

TEST_F(RecordsCommandTest, ListsFindsAndReleases) {
  FillRecords();
  const ProgramRun text = Tuvactl({"records", "--records", db_});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 4) << text.out;
  EXPECT_NE(text.out.find("#1  "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1=1500002(free)"), std::string::npos) << text.out;

  const auto json = nlohmann::json::parse(Tuvactl({"records", "--records", db_, "--json"}).out);
  ASSERT_EQ(json["attempts"].size(), 4u);
  EXPECT_EQ(json["attempts"][0]["result"], "programmed");
  EXPECT_EQ(json["attempts"][0]["capcodes"][1], "0000002001");
  EXPECT_EQ(json["attempts"][1]["taken"][0]["capcode"], 1500001);

  const ProgramRun csv = Tuvactl({"records", "--records", db_, "--csv", "--failed"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
            "id,time,station,port,firmware,capcodes,frequency,sha256,result,erased,message,"
            "seconds,taken,kept,firmware_file,firmware_programmed,verification");
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 4) << csv.out;
  EXPECT_NE(csv.out.find(",erased,yes,"), std::string::npos) << "open attempts are not programmed";
  EXPECT_NE(csv.out.find(",\"bench, left\",/dev/ttyUSB0,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find(",\"Verify Error! \"\"x\"\"\","), std::string::npos) << csv.out;

  const struct {
    std::vector<std::string> filter;
    int status;
    const char* id;  // in the output, or the message on stderr
  } finds[] = {
      {{"--capcode", "1500000"}, 0, "#1  "},
      {{"--capcode", "2001"}, 0, "#1  "},
      {{"--capcode", "1500001"}, 0, "#2  "},
      {{"--capcode", "1500003"}, 1, "no board holds capcode 1500003"},
      {{"--capcode", "1500000", "--failed"},
       1,
       "capcode 1500000 is held by attempt #1 (programmed, /dev/ttyUSB0, station bench, left"},
      {{"--station", "bench, left", "--since", "2000-01-01", "--limit", "1"}, 0, "#4  "},
      {{"--station", "other"}, 0, ""},
  };
  for (const auto& find : finds) {
    std::vector<std::string> words = {"records", "--records", db_};
    words.insert(words.end(), find.filter.begin(), find.filter.end());
    const ProgramRun run = Tuvactl(words);
    EXPECT_EQ(run.status, find.status) << find.filter[1];
    EXPECT_NE((run.out + run.err).find(find.id), std::string::npos) << run.out << run.err;
    if (find.status == 0) {
      EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), *find.id ? 1 : 0);
    }
  }

  // Every release answer says what holds the capcode, on stderr.
  const struct {
    const char* capcode;
    std::vector<std::string> more;
    int status;
    const char* message;
  } releases[] = {
      {"1=1500000", {}, 1, "capcode 1500000 of slot 1 belongs to a programmed board, attempt #1"},
      {"1=1500001",
       {},
       1,
       "capcode 1500001 of slot 1 is held by attempt #2 (failed, /dev/ttyUSB0, station bench, "
       "left, "},
      {"1=1500001",
       {"--force"},
       0,
       "capcode 1500001 of slot 1 is back in the pool; it was held by attempt #2 (failed, "
       "/dev/ttyUSB0, station bench, left, "},
      {"1=1500002",
       {"--force"},
       1,
       "capcode 1500002 of slot 1 is held by attempt #4 (erased, /dev/ttyUSB1, station bench, "
       "left, "},
      {"1=1500009", {}, 1, "capcode 1500009 of slot 1 is not held by any attempt"},
  };
  for (const auto& release : releases) {
    std::vector<std::string> words = {"records", "--records", db_, "--release", release.capcode};
    words.insert(words.end(), release.more.begin(), release.more.end());
    const ProgramRun run = Tuvactl(words);
    EXPECT_EQ(run.status, release.status) << release.capcode;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.find(std::string("tuvactl: ") + release.message), 0u) << run.err;
  }
  EXPECT_NE(Tuvactl({"records", "--records", db_, "--release", "1=1500002", "--force"})
                .err.find("which a running series is writing now"),
            std::string::npos);
  EXPECT_EQ(Tuvactl({"records", "--records", db_, "--capcode", "1500001"}).status, 1);

  // Once the run that opened attempt #4 is gone (stale heartbeat), its erased board may hold the
  // capcode: released only by force.
  open_.reset();
  ASSERT_TRUE(Sql("UPDATE attempts SET heartbeat = 0 WHERE id = 4"));
  const ProgramRun refused = Tuvactl({"records", "--records", db_, "--release", "1=1500002"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("that board may hold the capcode. Read the board first (tuvactl read, "
                             "then tuvactl get) and give --force to release it anyway"),
            std::string::npos)
      << refused.err;
  const ProgramRun forced =
      Tuvactl({"records", "--records", db_, "--release", "1=1500002", "--force"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_NE(forced.err.find("whose board was erased and may still hold it"), std::string::npos);
}

// Per station and hour: the table a line lead reads, and the same rows as JSON.
TEST_F(RecordsCommandTest, SummarisesEachStationsHour) {
  FillRecords();
  ASSERT_TRUE(Sql("UPDATE attempts SET time = '2026-12-07T14:0' || id || ':00Z'"));
  const ProgramRun text = Tuvactl({"records", "--records", db_, "--summary"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out,
            "hour (UTC)         station      programmed  reprovisioned  skipped  failed  open  "
            "boards/h  failures\n"
            "2026-12-07T14:00Z  bench, left           1              0        0       2     1  "
            "     1.0  Verify Error! \"x\" (2)\n");
  const ProgramRun json = Tuvactl({"records", "--records", db_, "--summary", "--json", "--by",
                                   "day", "--station", "bench, left", "--since", "2026-12-07"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out),
            nlohmann::json::parse(R"([{"period": "2026-12-07", "station": "bench, left",
                "programmed": 1, "reprovisioned": 0, "skipped": 0, "failed": 2, "open": 1,
                "causes": {"Verify Error! \"x\"": 2}, "hours": 1, "boards_per_hour": 1.0}])"));
}

// A listing never creates or changes a file: not a missing one, not another program's, not the
// records themselves.
// A text cell a spreadsheet would run as a formula is written as text, behind a '; the JSON keeps
// the text as it was.
TEST_F(RecordsCommandTest, CsvCellsAreNeverFormulas) {
  const struct {
    const char* text;
    const char* cell;
  } cells[] = {
      {"=HYPERLINK(\"http://x\",\"y\")", ",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\","},
      {"+1+2", ",'+1+2,"},
      {"-3+4", ",'-3+4,"},
      {"@SUM(A1)", ",'@SUM(A1),"},
      {"\tx", ",'\tx,"},
      {"\rx", ",\"'\rx\","},
      {"a=b", ",a=b,"},
  };
  {
    auto store = records::OpenRecordStore(db_, records::OpenMode::Create);
    for (const auto& cell : cells) {
      Attempt start;
      start.station = cell.text;
      Attempt attempt = store->Reserve(start, {{1, 1500000, 1, 2097151}});
      attempt.result = Result::Failed;
      attempt.message = cell.text;
      store->Finish(attempt);
    }
  }
  const ProgramRun csv = Tuvactl({"records", "--records", db_, "--csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  const auto json = nlohmann::json::parse(Tuvactl({"records", "--records", db_, "--json"}).out);
  for (std::size_t i = 0; i < std::size(cells); ++i) {
    SCOPED_TRACE(cells[i].text);
    EXPECT_NE(csv.out.find(cells[i].cell + std::string(",")), std::string::npos) << csv.out;
    EXPECT_EQ(json["attempts"][i]["station"], cells[i].text);
  }
}

TEST_F(RecordsCommandTest, ListingNeverChangesAFile) {
  FillRecords();
  open_.reset();
  const std::string foreign = (dir_ / "notes.sqlite").string();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes (t TEXT)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  const std::string missing = (dir_ / "data" / "tuva" / "records.sqlite").string();
  const struct {
    std::vector<std::string> words;
    int status;
    std::string message;
  } cases[] = {
      {{"records"}, 2, "tuvactl: no records database at " + missing + "\n"},
      {{"records", "--records", foreign},
       2,
       "tuvactl: " + foreign + " is not a tuva records database\n"},
      {{"records", "--records", db_, "--csv"}, 0, ""},
  };
  for (const auto& c : cases) {
    const std::string path = c.words.size() > 1 ? c.words[2] : missing;
    const bool existed = fs::exists(path);
    const auto mtime = existed ? fs::last_write_time(path) : fs::file_time_type{};
    std::ifstream in(path, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(in)), {});
    const ProgramRun run = Tuvactl(c.words);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err, c.message);
    EXPECT_EQ(fs::exists(path), existed) << path;
    if (!existed) continue;
    std::ifstream after(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), before) << path;
    EXPECT_EQ(fs::last_write_time(path), mtime) << path;
  }
  EXPECT_FALSE(fs::exists(dir_ / "data"));
}

TEST_F(RecordsCommandTest, BadInput) {
  FillRecords();
  const std::string tbl = (dir_ / "board.tbl").string();
  const std::vector<std::vector<std::string>> bad = {
      {"records", "--records", dir_.string()},
      {"records", "--records", db_, "--release", "17=1500000"},
      {"records", "--records", db_, "--release", "1500000"},
      {"records", "--records", db_, "--capcode", "15x"},
      {"records", "--records", db_, "--json", "--csv"},
      {"records", "--records", db_, "--since", "2026-12"},
      {"records", "--records", db_, "--force"},
      {"records", "--records", db_, "--summary", "--by", "week"},
      {"records", "--records", db_, "--summary", "--since", "yesterday"},
      {"records", "--records", db_, "--summary", "--failed"},
      {"records", "--records", db_, "--by", "day"},
      {"records", "--records", db_, "--image", "1"},
      {"records", "--records", db_, "--image", "one", "-o", tbl},
      {"records", "--records", db_, "--image", "#", "-o", tbl},
      {"records", "--records", db_, "--image", "#1234567890123456789", "-o", tbl},
      {"records", "--records", db_, "--image", "1", "-o", tbl, "--csv"},
      {"records", "--records", db_, "-o", tbl},
  };
  for (const auto& words : bad) {
    const ProgramRun run = Tuvactl(words);
    EXPECT_EQ(run.status, 2) << words.back();
    EXPECT_EQ(run.err.rfind("tuvactl: ", 0), 0u) << run.err;
  }
  EXPECT_NE(Tuvactl(bad[0]).err.find("records database " + dir_.string()), std::string::npos);

  // An attempt whose image the records cannot give back is refused with the reason (exit 1) and
  // no file is written. Attempt 1 was programmed without an image, as before images were kept.
  const std::pair<const char*, std::string> refused[] = {
      {"1", "attempt #1 was recorded before images were kept"},
      {"#2", "attempt #2 was not programmed"},
      {"9", db_ + " holds no attempt #9"},
      {"#999999999999999999", db_ + " holds no attempt #999999999999999999"},
  };
  for (const auto& [id, reason] : refused) {
    const ProgramRun run = Tuvactl({"records", "--records", db_, "--image", id, "-o", tbl});
    EXPECT_EQ(run.status, 1) << id;
    EXPECT_EQ(run.err, "tuvactl: " + reason + "\n");
    EXPECT_FALSE(fs::exists(tbl));
  }
}

}  // namespace
}  // namespace tuva::testing
