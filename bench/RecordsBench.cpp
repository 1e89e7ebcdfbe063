// The records at scale, for scripts/measure-records.sh:
//
//   tuva_bench_records fill DB N    creates the records database DB (an SQLite path or a
//                                   postgresql:// URL) and adds N programmed boards straight
//                                   through SQL, capcodes 1000000 and up in slot 1
//   tuva_bench_records time DB K    reserves, marks erased and records K more boards through the
//                                   store, and prints the mean milliseconds per board
//   tuva_bench_records size DB N    prints the database's size in bytes divided by N (bytes per
//                                   board of a database filled with N)
#include <libpq-fe.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "records/RecordStore.h"

namespace {

using tuva::records::OpenMode;

constexpr std::uint32_t kFirst = 1000000;

// What a counted board's image changes of its template, as a series records it: the capcode's
// bytes (the group map and the sum and check bytes are made again from the others).
constexpr const char* kRunsPrefix = "'=161:'";

// The database's size in bytes: the SQLite file (its log written back first) or the PostgreSQL
// database.
long long Size(const std::string& where) {
  if (where.rfind("postgres", 0) == 0) {
    PGconn* connection = PQconnectdb(where.c_str());
    PGresult* result = PQexec(connection, "VACUUM; SELECT pg_database_size(current_database())");
    PQclear(result);
    result = PQexec(connection, "SELECT pg_database_size(current_database())");
    const long long size =
        PQresultStatus(result) == PGRES_TUPLES_OK ? std::stoll(PQgetvalue(result, 0, 0)) : -1;
    PQclear(result);
    PQfinish(connection);
    return size;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(where.c_str(), &db) != SQLITE_OK) return -1;
  sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::error_code error;
  return static_cast<long long>(std::filesystem::file_size(where, error));
}

bool FillSqlite(const std::string& path, long count) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  const std::string sql =
      "BEGIN;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(count) +
      ") INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256, result,"
      " erased, message, seconds, template_id, image_runs) SELECT strftime('%Y-%m-%dT%H:%M:%SZ',"
      " 1764000000 + i * 30, 'unixepoch'), 'bench', '/dev/ttyUSB0',"
      " 'Model : FLEX    Version = 2.41', (999999 + i) || ',,,,,,,,,,,,,,,', '462.0125',"
      " lower(hex(randomblob(32))), 'programmed', 1, '', 11.25, 1, " +
      std::string(kRunsPrefix) +
      " || printf('%06x', 1000000 + i) FROM n;"
      "INSERT INTO template_image (id, sha256, image) VALUES (1, lower(hex(randomblob(32))),"
      " hex(zeroblob(4100)));"
      "INSERT INTO taken SELECT id, 1, 999999 + id, 1 FROM attempts;"
      "INSERT INTO board_capcode SELECT 999999 + id, id FROM attempts;"
      "INSERT OR REPLACE INTO pool_hint VALUES (1000000, 1, 1000000 + (SELECT max(id) FROM "
      "attempts));"
      "COMMIT; ANALYZE;";
  char* error = nullptr;
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
  if (!ok) std::cerr << error << '\n';
  sqlite3_free(error);
  sqlite3_close(db);
  return ok;
}

bool FillPostgres(const std::string& url, long count) {
  PGconn* connection = PQconnectdb(url.c_str());
  const std::string sql =
      "BEGIN;"
      "INSERT INTO template_image (id, sha256, image) VALUES (1, md5('a') || md5('b'),"
      " repeat('00', 4100));"
      "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256, result,"
      " erased, message, seconds, template_id, image_runs) SELECT to_char(to_timestamp(1764000000"
      " + i * 30) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), 'bench', '/dev/ttyUSB0',"
      " 'Model : FLEX    Version = 2.41', (999999 + i) || ',,,,,,,,,,,,,,,', '462.0125',"
      " md5(i::text) || md5((i + 1)::text), 'programmed', TRUE, '', 11.25, 1, " +
      std::string(kRunsPrefix) +
      " || lpad(to_hex(1000000 + i), 6, '0')"
      " FROM generate_series(1, " +
      std::to_string(count) +
      ") i;"
      "INSERT INTO taken SELECT id, 1, 999999 + id, TRUE FROM attempts;"
      "INSERT INTO board_capcode SELECT 999999 + id, id FROM attempts;"
      "INSERT INTO pool_hint VALUES (1000000, 1, 1000000 + (SELECT max(id) FROM attempts))"
      " ON CONFLICT (first, step) DO UPDATE SET next = EXCLUDED.next;"
      "COMMIT; ANALYZE;";
  PGresult* result = PQexec(connection, sql.c_str());
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  if (!ok) std::cerr << PQerrorMessage(connection);
  PQclear(result);
  PQfinish(connection);
  return ok;
}

int Time(const std::string& where, long count) {
  auto store = tuva::records::OpenRecordStore(where, OpenMode::Existing);
  const tuva::records::CountingSlot slot{1, kFirst, 1, 2097151};
  const auto start = std::chrono::steady_clock::now();
  for (long board = 0; board < count; ++board) {
    tuva::records::Attempt opening;
    opening.port = "/dev/ttyUSB0";
    tuva::records::Attempt attempt = store->Reserve(opening, {slot});
    store->MarkErased(attempt.id);
    attempt.result = tuva::records::Result::Programmed;
    attempt.capcodes = {std::to_string(attempt.taken.at(0).capcode)};
    store->Finish(attempt);
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.2f\n", ms / static_cast<double>(count));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: tuva_bench_records fill|time|size DB N\n";
    return 2;
  }
  const std::string command = argv[1];
  const std::string where = argv[2];
  const long count = std::stol(argv[3]);
  try {
    if (command == "time") return Time(where, count);
    if (command == "size") {
      std::printf("%.1f\n", static_cast<double>(Size(where)) / static_cast<double>(count));
      return 0;
    }
    tuva::records::OpenRecordStore(where, OpenMode::Create);
    const bool postgres = where.rfind("postgres", 0) == 0;
    return (postgres ? FillPostgres(where, count) : FillSqlite(where, count)) ? 0 : 1;
  } catch (const tuva::records::RecordsError& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
}
