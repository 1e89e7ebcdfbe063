// The line at a glance: attempts recorded in a real SQLite file and in a PostgreSQL server the
// test starts, summed per station and hour or day by each store's own grouped query, its --since
// and --station filters included.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "records/RecordStore.h"
#include "records/Summary.h"
#include "support/PostgresServer.h"

namespace tuva::records {

void PrintTo(const SummaryRow& row, std::ostream* out) {
  *out << row.period << ' ' << row.station << " programmed " << row.programmed << " reprovisioned "
       << row.reprovisioned << " skipped " << row.skipped << " failed " << row.failed << " open "
       << row.open << " hours " << row.hours << " causes {";
  for (const auto& [cause, count] : row.causes) *out << '"' << cause << "\": " << count << ", ";
  *out << '}';
}

}  // namespace tuva::records

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Attempt;
using records::ListFilter;
using records::Result;
using records::SummaryPeriod;
using records::SummaryRow;

struct Recorded {
  const char* station;
  const char* time;
  Result result;
  const char* message = "";
  bool erased = true;
  const char* kept = "";
};

// Hour 13 ends on the last second before 14:00; station B's board after its erase recorded no
// message, and two before it; a time without an hour is its own period, and hour 24 is an hour
// of no hour of the day; one board of B is still open the next day.
const Recorded kAttempts[] = {
    {"A", "2026-12-07T13:59:59Z", Result::Programmed},
    {"A", "2026-12-07T14:00:00Z", Result::Programmed},
    {"B", "2026-12-07T14:10:00Z", Result::Failed, "", true},
    {"A", "2026-12-07T14:30:00Z", Result::Programmed, "", true, "capcodes"},
    {"A", "2026-12-07T14:31:00Z", Result::Skipped, "already programmed (1500002)", false},
    {"A", "2026-12-07T14:32:00Z", Result::Failed,
     "capcode 1500001 is held by another board: attempt #4 (programmed, /dev/ttyUSB0, station A)"},
    {"A", "2026-12-07T14:40:00Z", Result::Failed,
     "capcode 2000017 is held by another board: attempt #12 (programmed, /dev/ttyUSB1, station A)"},
    {"A", "2026-12-07T14:58:00Z", Result::Failed, "firmware 2.41 refused at 1500003.", false},
    {"A", "2026-12-07T14:59:00Z", Result::Failed,
     "  Verify  error at 0x1F00, copy 0 failed its sum 0x ", false},
    {"B", "2026-12-07T15:00:00Z", Result::Failed, "", false},
    {"B", "2026-12-07T15:20:00Z", Result::Failed, "", false},
    {"B", "2026-12-07 16:00:00Z", Result::Skipped, "", false},
    {"C", "2026-12-07T24:00:00Z", Result::Programmed},
    {"B", "2026-12-08T09:00:00Z", Result::Programmed},
    {"B", "2026-12-08T09:30:00Z", Result::Programmed},
    {"B", "2026-12-08T09:05:00Z", Result::Erased},
};

SummaryRow Row(const char* period, const char* station, std::size_t programmed,
               std::size_t reprovisioned, std::size_t skipped, std::size_t open, std::size_t hours,
               std::map<std::string, std::size_t> causes = {}) {
  SummaryRow row;
  row.period = period;
  row.station = station;
  row.programmed = programmed;
  row.reprovisioned = reprovisioned;
  row.skipped = skipped;
  row.open = open;
  row.hours = hours;
  for (const auto& [cause, count] : causes) row.failed += count;
  row.causes = std::move(causes);
  return row;
}

// Each store, by name: "SQLite" or "PostgreSQL".
class SummaryTest : public ::testing::TestWithParam<std::string> {
 protected:
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    const bool sqlite = GetParam() == "SQLite";
    std::string where = (folder_ / "records.sqlite").string();
    if (sqlite) {
      fs::create_directories(folder_);
    } else {
      if (server_ == nullptr) server_ = new PostgresServer;
      TUVA_REQUIRE_POSTGRES(*server_);
      where = server_->CreateDatabase("summary");
      ASSERT_FALSE(where.empty());
    }
    auto store = records::OpenRecordStore(where, records::OpenMode::Create);
    std::string times;
    for (const Recorded& recorded : kAttempts) {
      Attempt start;
      start.station = recorded.station;
      Attempt attempt = store->Reserve(start, {});
      if (recorded.erased) store->MarkErased(attempt.id);
      if (recorded.result != Result::Erased) {
        attempt.result = recorded.result;
        attempt.message = recorded.message;
        attempt.kept = recorded.kept;
        store->Finish(attempt);
      }
      times += "UPDATE attempts SET time = '" + std::string(recorded.time) +
               "' WHERE id = " + std::to_string(attempt.id) + ";";
    }
    store.reset();
    if (sqlite) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(where.c_str(), &db), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, times.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    } else {
      ASSERT_TRUE(server_->Sql("summary", times));
    }
    store_ = records::OpenRecordStore(where, records::OpenMode::ReadOnly);
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(folder_);
  }

  fs::path folder_ = fs::temp_directory_path() / ("tuva-summary-" + std::to_string(::getpid()));
  std::unique_ptr<records::RecordStore> store_;
  static PostgresServer* server_;
};
PostgresServer* SummaryTest::server_ = nullptr;

TEST_P(SummaryTest, CountsEachStationsBoardsPerHourOrDayAndItsFailuresByCause) {
  const std::map<std::string, std::size_t> held = {
      {"capcode N is held by another board: attempt #N", 2},
      {"firmware N refused at N.", 1},
      {"Verify error at N, copy N failed its sum Nx", 1}};
  ListFilter fromTwoOnA;
  fromTwoOnA.since = "2026-12-07T14:00";
  fromTwoOnA.station = "A";
  ListFilter fromTheEighth;
  fromTheEighth.since = "2026-12-08";
  const struct {
    const char* name;
    ListFilter filter;
    SummaryPeriod period;
    std::vector<SummaryRow> rows;
  } cases[] = {
      {"per hour",
       {},
       SummaryPeriod::Hour,
       {Row("2026-12-07 16:00:00Z", "B", 0, 0, 1, 0, 0),
        Row("2026-12-07T13:00Z", "A", 1, 0, 0, 0, 1),
        Row("2026-12-07T14:00Z", "A", 1, 1, 1, 0, 1, held),
        Row("2026-12-07T14:00Z", "B", 0, 0, 0, 0, 1, {{"failed after its erase", 1}}),
        Row("2026-12-07T15:00Z", "B", 0, 0, 0, 0, 1, {{"failed before its erase", 2}}),
        Row("2026-12-07T24:00Z", "C", 1, 0, 0, 0, 0),
        Row("2026-12-08T09:00Z", "B", 2, 0, 0, 1, 1)}},
      {"per day",
       {},
       SummaryPeriod::Day,
       {Row("2026-12-07", "A", 2, 1, 1, 0, 2, held),
        Row("2026-12-07", "B", 0, 0, 0, 0, 2,
            {{"failed after its erase", 1}, {"failed before its erase", 2}}),
        Row("2026-12-07", "C", 1, 0, 0, 0, 0), Row("2026-12-07 16:00:00Z", "B", 0, 0, 1, 0, 0),
        Row("2026-12-08", "B", 2, 0, 0, 1, 1)}},
      {"since an hour, one station",
       fromTwoOnA,
       SummaryPeriod::Hour,
       {Row("2026-12-07T14:00Z", "A", 1, 1, 1, 0, 1, held)}},
      {"since a day", fromTheEighth, SummaryPeriod::Day, {Row("2026-12-08", "B", 2, 0, 0, 1, 1)}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(records::Summarise(*store_, c.filter, c.period), c.rows) << c.name;
  }
  EXPECT_DOUBLE_EQ(records::Summarise(*store_, {}, SummaryPeriod::Day)[0].boardsPerHour(), 1.5);
  // The store counts alike attempts itself: the two programmed boards of B's 09:00 are one group.
  std::size_t groups = 0;
  store_->EachGroup({}, [&](const Attempt&, std::size_t) { ++groups; });
  EXPECT_EQ(groups, std::size(kAttempts) - 2) << "the failures of B at 15:00 are one group too";
}

INSTANTIATE_TEST_SUITE_P(Stores, SummaryTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& store) { return store.param; });

}  // namespace
}  // namespace tuva::testing
