// What only the SQLite file does: how each mode treats a missing, foreign or damaged file, its
// folder, a file removed under a running store, and the upgrade of an older file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <tuple>

#include "records/RecordStore.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::OpenMode;
using records::RecordsError;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

class SqliteStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_); }
  void TearDown() override { fs::remove_all(folder_); }

  // The message OpenRecordStore throws for `where`, or "" when it opens.
  static std::string OpenError(const std::string& where, OpenMode mode) {
    try {
      records::OpenRecordStore(where, mode, std::chrono::milliseconds(100));
      return "";
    } catch (const RecordsError& error) {
      return error.what();
    }
  }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  fs::path folder_ = fs::temp_directory_path() / ("tuva-sqlite-" + std::to_string(::getpid()));
};

TEST_F(SqliteStoreTest, EachModeCreatesOnlyWhatItMayAndLeavesOtherFilesAlone) {
  ASSERT_TRUE(Sql(Path("foreign.sqlite"), "CREATE TABLE notes (text TEXT)"));
  std::ofstream(Path("text")) << "not a database, but long enough to look at its header bytes";
  ASSERT_EQ(OpenError(Path("records.sqlite"), OpenMode::Create), "");
  fs::create_directories(Path("folder"));
  const struct {
    std::string where;
    OpenMode mode;
    std::string message;  // "" when it opens
  } cases[] = {
      {Path("missing.sqlite"), OpenMode::ReadOnly,
       "no records database at " + Path("missing.sqlite")},
      {Path("missing.sqlite"), OpenMode::Existing,
       "no records database at " + Path("missing.sqlite")},
      {Path("foreign.sqlite"), OpenMode::ReadOnly,
       Path("foreign.sqlite") + " is not a tuva records database"},
      {Path("foreign.sqlite"), OpenMode::Existing,
       Path("foreign.sqlite") + " is not a tuva records database"},
      {Path("foreign.sqlite"), OpenMode::Create,
       Path("foreign.sqlite") + " is not a tuva records database"},
      {Path("text"), OpenMode::ReadOnly, Path("text") + " is not a tuva records database"},
      {Path("records.sqlite"), OpenMode::ReadOnly, ""},
      {Path("records.sqlite"), OpenMode::Existing, ""},
      // A folder named by hand is never made: a typing mistake does not start a new pool.
      {Path("typo/records.sqlite"), OpenMode::Create,
       "records database " + Path("typo/records.sqlite") + ": its folder " + Path("typo") +
           " is not there"},
      {Path("folder"), OpenMode::Create, "cannot open it (unable to open database file)"},
      {Path("typo/records.sqlite"), OpenMode::Existing,
       "no records database at " + Path("typo/records.sqlite") + " (its folder " + Path("typo") +
           " is not there)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where + " mode " + std::to_string(static_cast<int>(c.mode)));
    const bool existed = fs::exists(c.where);
    const bool file = existed && !fs::is_directory(c.where);
    const std::string before = file ? Bytes(c.where) : "";
    const auto mtime = file ? fs::last_write_time(c.where) : fs::file_time_type{};
    const std::string error = OpenError(c.where, c.mode);
    if (c.message.empty()) {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_EQ(fs::exists(c.where), existed);
    if (file && c.where != Path("records.sqlite")) {
      EXPECT_EQ(Bytes(c.where), before);
      EXPECT_EQ(fs::last_write_time(c.where), mtime);
    }
  }
  EXPECT_FALSE(fs::exists(Path("typo")));
}

TEST_F(SqliteStoreTest, TheDefaultDatabaseIsMadeWithItsFolderInWriteAheadLogging) {
  const std::string saved = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
  ::setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
  const std::string path = Path("data/tuva/records.sqlite");
  // A series makes the default database on first use, also when it is named in full (as the
  // series window shows it); any other database only when asked.
  const auto modes =
      std::make_tuple(records::SeriesOpenMode("", false), records::SeriesOpenMode(path, false),
                      records::SeriesOpenMode(Path("other.sqlite"), false),
                      records::SeriesOpenMode(Path("other.sqlite"), true));
  const std::string made = OpenError("", OpenMode::Create);
  saved.empty() ? ::unsetenv("XDG_DATA_HOME") : ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  EXPECT_EQ(modes, std::make_tuple(OpenMode::Create, OpenMode::Create, OpenMode::Existing,
                                   OpenMode::Create));
  ASSERT_EQ(made, "");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST_F(SqliteStoreTest, NamesALockedOrDamagedDatabase) {
  const std::string locked = Path("locked.sqlite");
  EXPECT_EQ(OpenError(locked, OpenMode::Create), "");
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(locked.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(OpenError(locked, OpenMode::Existing),
            "records database " + locked + " is locked by another program");
  sqlite3_close(holder);

  // A page of the attempts overwritten: refused before any board is touched.
  const std::string damaged = Path("damaged.sqlite");
  {
    auto store = records::OpenRecordStore(damaged, OpenMode::Create);
    for (int board = 0; board < 200; ++board) {
      records::Attempt start;
      start.port = std::string(100, 'p');
      store->Reserve(start, {{1, 1000, 1, 2097151}});
    }
  }
  ASSERT_TRUE(Sql(damaged, "PRAGMA wal_checkpoint(TRUNCATE)"));
  const auto size = fs::file_size(damaged);
  ASSERT_GT(size, 8192u);
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(size - 4096 + 8));
    const std::string junk(2000, '\xA5');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  std::string error;
  try {
    records::OpenRecordStore(damaged, OpenMode::Existing)->CheckIntegrity();
  } catch (const RecordsError& refused) {
    error = refused.what();
  }
  EXPECT_EQ(error.rfind("records database " + damaged, 0), 0u) << error;
  EXPECT_NE(error, "");
}

// Ctrl+C while another program holds the write lock: the call that waits for it gives up as
// locked, long before its busy timeout.
TEST_F(SqliteStoreTest, AStopEndsAWaitForAnotherProgramsLock) {
  const std::string path = Path("held.sqlite");
  std::stop_source stop;
  auto store =
      records::OpenRecordStore(path, OpenMode::Create, std::chrono::minutes(10), stop.get_token());
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  auto reserve = std::async(std::launch::async, [&]() -> std::string {
    try {
      store->Reserve({}, {{1, 1000, 1, 2000}});
      return "";
    } catch (const RecordsError& error) {
      return error.what();
    }
  });
  // Whether the call is already waiting or not yet: either way it must not wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop.request_stop();
  const bool ended = reserve.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  sqlite3_close(holder);  // lets a call that did not stop go on, so the test ends either way
  EXPECT_TRUE(ended);
  EXPECT_EQ(reserve.get(), "records database " + path + " is locked by another program");
}

// The file removed, or replaced by another, while a series holds it open: the next transaction
// says so instead of writing into a file nobody will see again.
TEST_F(SqliteStoreTest, AFileRemovedOrReplacedUnderTheStoreStopsIt) {
  const std::string path = Path("records.sqlite");
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "removed");
    fs::remove_all(Path("records.sqlite"));
    fs::remove(path + "-wal");
    fs::remove(path + "-shm");
    auto store = records::OpenRecordStore(path, OpenMode::Create);
    const records::Attempt attempt = store->Reserve({}, {{1, 1000, 1, 2097151}});
    fs::remove(path);
    if (replace) {
      ASSERT_EQ(OpenError(path, OpenMode::Create), "");
    }
    try {
      store->MarkErased(attempt.id);
      ADD_FAILURE() << "an erase recorded in a file that is gone";
    } catch (const RecordsError& error) {
      EXPECT_EQ(
          std::string(error.what()),
          "records database " + path + " is gone: the file was removed or replaced while in use");
    }
    EXPECT_THROW(store->Reserve({}, {{1, 1000, 1, 2097151}}), RecordsError);
  }
}

// A file of the first schema: its attempts stay, a programmed board's capcodes are found by the
// index, and the pool goes on above what is held.
TEST_F(SqliteStoreTest, AnEarlierSchemaIsBroughtUpToDate) {
  const std::string path = Path("old.sqlite");
  ASSERT_TRUE(Sql(path,
                  "CREATE TABLE schema_version (version INTEGER NOT NULL);"
                  "INSERT INTO schema_version VALUES (1);"
                  "CREATE TABLE attempts (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL,"
                  " station TEXT NOT NULL, port TEXT NOT NULL, firmware TEXT NOT NULL,"
                  " capcodes TEXT NOT NULL, frequency TEXT NOT NULL, sha256 TEXT NOT NULL,"
                  " result TEXT NOT NULL, erased INTEGER NOT NULL DEFAULT 0,"
                  " message TEXT NOT NULL, seconds REAL NOT NULL);"
                  "CREATE TABLE taken (attempt_id INTEGER NOT NULL REFERENCES attempts (id),"
                  " slot INTEGER NOT NULL, capcode INTEGER NOT NULL, held INTEGER NOT NULL,"
                  " PRIMARY KEY (attempt_id, slot));"
                  "CREATE UNIQUE INDEX taken_held_capcode ON taken (capcode) WHERE held = 1;"
                  "INSERT INTO attempts VALUES (1, '2026-12-01T10:00:00Z', 's', 'p', 'FLEX',"
                  " '1500000,0000002001', '', '', 'programmed', 1, '', 9.0);"
                  "INSERT INTO taken VALUES (1, 1, 1500000, 1);"));
  EXPECT_NE(OpenError(path, OpenMode::ReadOnly).find("schema version 1"), std::string::npos);
  auto store = records::OpenRecordStore(path, OpenMode::Existing);
  records::ListFilter board;
  board.capcode = 2001;
  ASSERT_EQ(store->List(board).size(), 1u);
  EXPECT_EQ(store->List(board)[0].firmware, "FLEX");
  EXPECT_EQ(store->Reserve({}, {{1, 1500000, 1, 2097151}}).taken.at(0).capcode, 1500001u);
}

}  // namespace
}  // namespace tuva::testing
