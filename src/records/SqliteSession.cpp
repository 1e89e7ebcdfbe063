// The SQL session of the SQLite store: see SqliteSession.h.
#include "records/SqliteSession.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "records/RecordStore.h"

namespace tuva::records {
namespace {

class SqliteRow : public SqlRow {
 public:
  explicit SqliteRow(sqlite3_stmt* statement) : statement_(statement) {}
  int Find(std::string_view name) const override {
    for (int column = 0; column < sqlite3_column_count(statement_); ++column) {
      if (name == sqlite3_column_name(statement_, column)) return column;
    }
    return -1;
  }
  bool Null(int column) const override {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
  }
  std::string_view Text(int column) const override {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    if (!text) return {};
    return {reinterpret_cast<const char*>(text),
            static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
  }
  std::int64_t Int(int column) const override { return sqlite3_column_int64(statement_, column); }
  double Real(int column) const override { return sqlite3_column_double(statement_, column); }
  bool Bool(int column) const override { return Int(column) != 0; }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

void SqliteSession::Begin() {
  if (beforeWrite_) beforeWrite_();
  Run("BEGIN IMMEDIATE", what_);
}

void SqliteSession::BeginRead() {
  Run("BEGIN DEFERRED", what_);
}

void SqliteSession::Commit() {
  Run("COMMIT", what_);
}

void SqliteSession::Rollback() {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int64_t SqliteSession::Execute(const std::string& sql, const std::vector<SqlValue>& parameters,
                                    const RowReader& row) {
  Statement statement(db_, sql.c_str());
  for (const SqlValue& parameter : parameters) {
    if (const auto* number = std::get_if<std::int64_t>(&parameter)) {
      statement.Bind(*number);
    } else if (const auto* real = std::get_if<double>(&parameter)) {
      statement.Bind(*real);
    } else {
      statement.Bind(std::get<std::string>(parameter));
    }
  }
  const SqliteRow reader(statement.Handle());
  while (statement.Step() == SQLITE_ROW) {
    if (row) row(reader);
  }
  Check(statement, what_);
  return sqlite3_changes(db_);
}

void SqliteSession::Run(const char* sql, const char* what) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(what);
}

void SqliteSession::Fail(const char* what) {
  const int code = db_ ? sqlite3_errcode(db_) & 0xFF : SQLITE_CANTOPEN;
  std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
  // SQLite says "disk I/O error" when the shared-memory index or the log cannot grow on a full
  // disk, and only its system error says why.
  const int system = db_ ? sqlite3_system_errno(db_) : 0;
  if (db_) Rollback();
  std::string message = "records database " + path_;
  const bool noRoom = system == ENOSPC || system == EDQUOT;
  if (code == SQLITE_FULL || ((code == SQLITE_IOERR || code == SQLITE_CANTOPEN) && noRoom)) {
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    throw DiskFullError(message + ": " + what + " (the disk holding " +
                        (folder.empty() ? "it" : folder) + " is full)");
  }
  lastFailureBusy_ = code == SQLITE_BUSY || code == SQLITE_LOCKED;
  if (lastFailureBusy_) {
    message += " is locked by another program";
  } else {
    message += ": ";
    message += what;
    message += " (" + reason + ")";
  }
  throw RecordsError(message);
}

void FileIdentity::Remember() {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) Gone();
  device_ = info.st_dev;
  inode_ = info.st_ino;
}

void FileIdentity::Check() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_) {
    Gone();
  }
}

void FileIdentity::Gone() const {
  throw RecordsError("records database " + path_ +
                     " is gone: the file was removed or replaced while in use");
}

}  // namespace tuva::records
