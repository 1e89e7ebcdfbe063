// What only the SQLite file does: its folder, and what happens when it cannot be used.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "records/RecordStore.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::RecordsError;

class SqliteStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(folder_); }

  // The message OpenRecordStore throws for `where`, or "" when it opens.
  static std::string OpenError(const std::string& where) {
    try {
      records::OpenRecordStore(where, std::chrono::milliseconds(100));
      return "";
    } catch (const RecordsError& error) {
      return error.what();
    }
  }

  fs::path folder_ = fs::temp_directory_path() / ("tuva-sqlite-" + std::to_string(::getpid()));
};

TEST_F(SqliteStoreTest, CreatesItsFolderAndUsesWriteAheadLogging) {
  const std::string path = (folder_ / "a" / "b" / "records.sqlite").string();
  EXPECT_EQ(OpenError(path), "");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

TEST_F(SqliteStoreTest, NamesADatabaseItCannotUse) {
  fs::create_directories(folder_ / "folder");
  std::ofstream(folder_ / "text") << "not a database, but long enough to look at its header bytes";
  std::ofstream(folder_ / "file") << "a file where a folder should be";
  const std::string locked = (folder_ / "locked.sqlite").string();
  EXPECT_EQ(OpenError(locked), "");
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(locked.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);

  const struct {
    std::string where;
    std::string message;
  } cases[] = {
      {(folder_ / "folder").string(), ": cannot open it (unable to open database file)"},
      {(folder_ / "text").string(), "file is not a database"},
      {(folder_ / "file" / "records.sqlite").string(), ": cannot create its folder"},
      {locked, " is locked by another program"},
  };
  for (const auto& c : cases) {
    const std::string error = OpenError(c.where);
    EXPECT_EQ(error.rfind("records database " + c.where, 0), 0u) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
  sqlite3_close(holder);
}

}  // namespace
}  // namespace tuva::testing
