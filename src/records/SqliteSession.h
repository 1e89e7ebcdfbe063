// The SQL session of the SQLite store: prepared statements over its one connection, and its
// failures reported with the file's name and what the store was doing.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <functional>
#include <string>

#include "records/SqlSession.h"

namespace tuva::records {

// A prepared statement; binds from 1 in the order given, reads columns from 0.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    code_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(const std::string& text) {
    sqlite3_bind_text(statement_, ++bound_, text.c_str(), -1, SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(std::int64_t value) {
    sqlite3_bind_int64(statement_, ++bound_, value);
    return *this;
  }
  Statement& Bind(double value) {
    sqlite3_bind_double(statement_, ++bound_, value);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code (also the one of a statement that did not prepare).
  int Step() {
    if (statement_ == nullptr) return code_ == SQLITE_OK ? SQLITE_MISUSE : code_;
    return code_ = sqlite3_step(statement_);
  }
  int Code() const { return code_; }
  sqlite3_stmt* Handle() const { return statement_; }
  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? reinterpret_cast<const char*>(text) : "";
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int bound_ = 0;
  int code_ = 0;
};

class SqliteSession : public SqlSession {
 public:
  // `path` names the file in messages; `beforeWrite` runs before a transaction that writes
  // begins (the store's check that its path still leads to the file it opened).
  SqliteSession(std::string path, std::function<void()> beforeWrite)
      : path_(std::move(path)), beforeWrite_(std::move(beforeWrite)) {}

  // Commits in the scope are not synced to the disk; the next synced commit makes them durable
  // with it (the log is written in order, and syncing it keeps everything before).
  class Unsynced {
   public:
    explicit Unsynced(SqliteSession& session) : db_(session.db_) {
      sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    }
    ~Unsynced() { sqlite3_exec(db_, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr); }
    Unsynced(const Unsynced&) = delete;
    Unsynced& operator=(const Unsynced&) = delete;

   private:
    sqlite3* db_;
  };

  void Attach(sqlite3* db) { db_ = db; }
  // What the store is doing, as a failure names it ("cannot reserve capcodes").
  void Doing(const char* what) { what_ = what; }
  // Whether the last failure was another program holding the file.
  bool LastFailureBusy() const { return lastFailureBusy_; }

  void Begin() override;
  void BeginRead() override;
  void Commit() override;
  void Rollback() override;
  std::int64_t Execute(const std::string& sql, const std::vector<SqlValue>& parameters,
                       const RowReader& row = nullptr) override;

  // Runs SQL without parameters or rows (a pragma, a schema statement).
  void Run(const char* sql, const char* what);
  void Check(int code, int expected, const char* what) {
    if (code != expected) Fail(what);
  }
  // After a loop over the rows: the statement ran to its end.
  void Check(const Statement& statement, const char* what) {
    if (statement.Code() != SQLITE_DONE) Fail(what);
  }
  // Rolls back what this connection began and throws with the database's own reason; a file
  // another process keeps locked past the busy timeout is named as such.
  [[noreturn]] void Fail(const char* what);

 private:
  std::string path_;
  std::function<void()> beforeWrite_;
  sqlite3* db_ = nullptr;
  const char* what_ = "cannot read the records";
  bool lastFailureBusy_ = false;
};

// The file a database was opened from, by its device and inode: a file removed, or replaced by
// another at its path, while in use is never written to (it would be lost with what it holds).
class FileIdentity {
 public:
  explicit FileIdentity(const std::string& path) : path_(path) {}
  void Remember();     // throws RecordsError when the file is not there
  void Check() const;  // throws RecordsError when the path names another file, or none

 private:
  [[noreturn]] void Gone() const;

  const std::string& path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace tuva::records
