// The two stores a records test runs against: an SQLite file in a temporary folder (one per
// test) and a PostgreSQL server the tests start themselves (one database per test).
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <type_traits>

#include "support/PostgresServer.h"

namespace tuva::testing {

inline std::string TestName() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
  return name;
}

// One SQLite file per test.
struct SqliteBackend {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tuva-records-" + std::to_string(::getpid()));
  std::string where;

  void SetUp() {
    std::string name = TestName();
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    std::filesystem::create_directories(folder / name);
    where = (folder / name / "records.sqlite").string();
  }
  void TearDown() { std::filesystem::remove_all(folder); }
  bool Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(where.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
  }
};

// One server for all the tests, one database per test.
struct PostgresBackend {
  static inline PostgresServer* server = nullptr;
  std::string database;
  std::string where;

  void SetUp() {
    if (server == nullptr) server = new PostgresServer;
    TUVA_REQUIRE_POSTGRES(*server);
    database = TestName();
    std::transform(database.begin(), database.end(), database.begin(), ::tolower);
    where = server->CreateDatabase(database);
    ASSERT_FALSE(where.empty()) << "createdb " << database << " failed";
  }
  void TearDown() {}
  bool Sql(const std::string& sql) { return server->Sql(database, sql); }
};

class StopPostgres : public ::testing::Environment {
 public:
  void TearDown() override {
    delete PostgresBackend::server;
    PostgresBackend::server = nullptr;
  }
};
inline const auto* const kStopPostgres = ::testing::AddGlobalTestEnvironment(new StopPostgres);

using Backends = ::testing::Types<SqliteBackend, PostgresBackend>;
class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, SqliteBackend> ? "Sqlite" : "Postgres";
  }
};

}  // namespace tuva::testing
