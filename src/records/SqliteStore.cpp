// The records in one SQLite file. The file is in WAL mode, so a listing never waits for a series
// that is writing, and every state change is one IMMEDIATE transaction: the writer takes the
// file's write lock at BEGIN, and a second process waits (the busy timeout) instead of failing
// halfway through. The partial unique index on the held capcodes is what keeps a capcode from
// being handed out twice.
#include <sqlite3.h>

#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

constexpr const char* kCreateVersion =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";

constexpr const char* kCreateTables[] = {
    "CREATE TABLE attempts ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time TEXT NOT NULL,"
    " station TEXT NOT NULL,"
    " port TEXT NOT NULL,"
    " firmware TEXT NOT NULL,"
    " capcodes TEXT NOT NULL,"
    " frequency TEXT NOT NULL,"
    " sha256 TEXT NOT NULL,"
    " result TEXT NOT NULL CHECK (result IN ('reserved', 'erased', 'programmed', 'failed', "
    "'skipped')),"
    " erased INTEGER NOT NULL DEFAULT 0,"
    " message TEXT NOT NULL,"
    " seconds REAL NOT NULL)",
    "CREATE TABLE taken ("
    " attempt_id INTEGER NOT NULL REFERENCES attempts (id),"
    " slot INTEGER NOT NULL CHECK (slot BETWEEN 1 AND 16),"
    " capcode INTEGER NOT NULL,"
    " held INTEGER NOT NULL,"
    " PRIMARY KEY (attempt_id, slot))",
    "CREATE UNIQUE INDEX taken_held_capcode ON taken (capcode) WHERE held = 1",
};

constexpr const char* kSelectAttempts =
    "SELECT id, time, station, port, firmware, capcodes, frequency, sha256, result, erased,"
    " message, seconds FROM attempts ORDER BY id";

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
  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  double Real(int column) const { return sqlite3_column_double(statement_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    return text ? reinterpret_cast<const char*>(text) : "";
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int bound_ = 0;
  int code_ = 0;
};

class SqliteStore : public RecordStore {
  // Rolls back, when an exception leaves the scope, the transaction the scope left open.
  class RollbackOnThrow {
   public:
    explicit RollbackOnThrow(SqliteStore* store) : store_(store) {}
    ~RollbackOnThrow() {
      if (std::uncaught_exceptions() > exceptions_) store_->Rollback();
    }

   private:
    SqliteStore* store_;
    int exceptions_ = std::uncaught_exceptions();
  };

 public:
  SqliteStore(const std::string& path, std::chrono::milliseconds busyTimeout) : path_(path) {
    CreateFolder();
    sqlite3* db = nullptr;
    const int code =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    handle_.reset(db);
    db_ = db;
    if (code != SQLITE_OK) Fail("cannot open it");
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(busyTimeout.count()));
    // Two stations opening a new file at once: switching it to WAL and creating the schema can
    // answer "busy" at once, without the busy handler (SQLite's guard against a deadlock), so the
    // first steps are tried again until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + busyTimeout;
    for (;;) {
      try {
        Execute("PRAGMA journal_mode = WAL", "cannot open it");
        Execute("PRAGMA foreign_keys = ON", "cannot open it");
        EnsureSchema();
        return;
      } catch (const RecordsError&) {
        if (!lastFailureBusy_ || std::chrono::steady_clock::now() >= deadline) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }

  Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) override {
    CheckSlots(slots);
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    Attempt attempt = Opened(start);
    Begin("cannot reserve capcodes");
    Statement insert(db_,
                     "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency,"
                     " sha256, result, message, seconds) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(attempt.time).Bind(attempt.station).Bind(attempt.port).Bind(attempt.firmware);
    insert.Bind(JoinCapcodes(attempt.capcodes)).Bind(attempt.frequency).Bind(attempt.sha256);
    insert.Bind(ResultName(Result::Reserved)).Bind(attempt.message).Bind(attempt.seconds);
    Check(insert.Step(), SQLITE_DONE, "cannot reserve capcodes");
    attempt.id = sqlite3_last_insert_rowid(db_);
    for (const CountingSlot& slot : slots) {
      attempt.taken.push_back({slot.slot, Take(attempt.id, slot), true});
    }
    Commit("cannot reserve capcodes");
    return attempt;
  }

  void MarkErased(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    Statement update(db_,
                     "UPDATE attempts SET result = 'erased', erased = 1"
                     " WHERE id = ? AND result IN ('reserved', 'erased')");
    update.Bind(id);
    Check(update.Step(), SQLITE_DONE, "cannot record the erase");
    if (sqlite3_changes(db_) == 0) throw RecordsError(NotOpen(id));
  }

  void Finish(const Attempt& attempt) override {
    if (attempt.result != Result::Programmed && attempt.result != Result::Failed &&
        attempt.result != Result::Skipped) {
      throw RecordsError("an attempt ends as programmed, failed or skipped");
    }
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot record the result";
    Begin(what);
    Statement open(db_,
                   "SELECT erased FROM attempts WHERE id = ? AND result IN ('reserved', 'erased')");
    open.Bind(attempt.id);
    if (open.Step() != SQLITE_ROW) {
      Rollback();
      throw RecordsError(NotOpen(attempt.id));
    }
    const bool erased = open.Int(0) != 0 || attempt.erased;
    Statement update(db_,
                     "UPDATE attempts SET firmware = ?, capcodes = ?, frequency = ?, sha256 = ?,"
                     " result = ?, erased = ?, message = ?, seconds = ? WHERE id = ?");
    update.Bind(attempt.firmware).Bind(JoinCapcodes(attempt.capcodes)).Bind(attempt.frequency);
    update.Bind(attempt.sha256).Bind(ResultName(attempt.result));
    update.Bind(std::int64_t{erased}).Bind(attempt.message).Bind(attempt.seconds).Bind(attempt.id);
    Check(update.Step(), SQLITE_DONE, what);
    if (attempt.result == Result::Failed && !erased) {
      Statement release(db_, "UPDATE taken SET held = 0 WHERE attempt_id = ?");
      release.Bind(attempt.id);
      Check(release.Step(), SQLITE_DONE, what);
    }
    Commit(what);
  }

  std::vector<Attempt> List(const ListFilter& filter) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot read the records";
    Execute("BEGIN", what);
    std::vector<Attempt> attempts;
    std::map<std::int64_t, std::size_t> index;
    Statement rows(db_, kSelectAttempts);
    while (rows.Step() == SQLITE_ROW) {
      Attempt a;
      a.id = rows.Int(0);
      a.time = rows.Text(1);
      a.station = rows.Text(2);
      a.port = rows.Text(3);
      a.firmware = rows.Text(4);
      a.capcodes = SplitCapcodes(rows.Text(5));
      a.frequency = rows.Text(6);
      a.sha256 = rows.Text(7);
      a.result = ParseResult(rows.Text(8));
      a.erased = rows.Int(9) != 0;
      a.message = rows.Text(10);
      a.seconds = rows.Real(11);
      index[a.id] = attempts.size();
      attempts.push_back(std::move(a));
    }
    Check(rows, what);
    Statement taken(db_,
                    "SELECT attempt_id, slot, capcode, held FROM taken ORDER BY attempt_id, slot");
    while (taken.Step() == SQLITE_ROW) {
      const auto found = index.find(taken.Int(0));
      if (found == index.end()) continue;
      attempts[found->second].taken.push_back({static_cast<int>(taken.Int(1)),
                                               static_cast<std::uint32_t>(taken.Int(2)),
                                               taken.Int(3) != 0});
    }
    Check(taken, what);
    Commit(what);
    std::erase_if(attempts, [&](const Attempt& a) { return !Matches(a, filter); });
    return attempts;
  }

  bool Release(int slot, std::uint32_t capcode) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot release the capcode";
    Begin(what);
    Statement holder(db_,
                     "SELECT a.id, a.result FROM taken t JOIN attempts a ON a.id = t.attempt_id"
                     " WHERE t.held = 1 AND t.slot = ? AND t.capcode = ?");
    holder.Bind(std::int64_t{slot}).Bind(std::int64_t{capcode});
    if (holder.Step() != SQLITE_ROW || ParseResult(holder.Text(1)) == Result::Programmed) {
      Rollback();
      return false;
    }
    const std::int64_t id = holder.Int(0);
    Statement release(db_, "UPDATE taken SET held = 0 WHERE attempt_id = ? AND slot = ?");
    release.Bind(id).Bind(std::int64_t{slot});
    Check(release.Step(), SQLITE_DONE, what);
    Statement close(db_,
                    "UPDATE attempts SET result = 'failed', message = ? WHERE id = ?"
                    " AND result IN ('reserved', 'erased')");
    close.Bind(std::string(kReleasedUnfinished)).Bind(id);
    Check(close.Step(), SQLITE_DONE, what);
    Commit(what);
    return true;
  }

 private:
  void CreateFolder() {
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (folder.empty()) return;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
      throw RecordsError("records database " + path_ + ": cannot create its folder (" +
                         error.message() + ")");
    }
  }

  void EnsureSchema() {
    const RollbackOnThrow guard(this);
    const char* what = "cannot set up its tables";
    Begin(what);
    Execute(kCreateVersion, what);
    Statement version(db_, "SELECT version FROM schema_version");
    if (version.Step() == SQLITE_ROW) {
      const std::int64_t found = version.Int(0);
      Rollback();
      if (found != kSchemaVersion) throw RecordsError(NewerSchema(path_, found));
      return;
    }
    for (const char* sql : kCreateTables) Execute(sql, what);
    Statement insert(db_, "INSERT INTO schema_version (version) VALUES (?)");
    insert.Bind(std::int64_t{kSchemaVersion});
    Check(insert.Step(), SQLITE_DONE, what);
    Commit(what);
  }

  // Takes the lowest free capcode of the slot for attempt `id`. The rows this transaction has
  // already inserted are part of the held set, so two slots never share a capcode either.
  std::uint32_t Take(std::int64_t id, const CountingSlot& slot) {
    for (;;) {
      std::vector<std::uint32_t> held;
      Statement select(db_,
                       "SELECT capcode FROM taken WHERE held = 1 AND capcode BETWEEN ? AND ?"
                       " ORDER BY capcode");
      select.Bind(std::int64_t{slot.first}).Bind(std::int64_t{slot.last});
      while (select.Step() == SQLITE_ROW) held.push_back(static_cast<std::uint32_t>(select.Int(0)));
      Check(select, "cannot reserve capcodes");
      bool found = false;
      const std::uint32_t capcode = NextCandidate(slot, held, found);
      if (!found) {
        Rollback();
        throw RecordsError(UsedUpMessage(slot));
      }
      Statement insert(db_,
                       "INSERT INTO taken (attempt_id, slot, capcode, held) VALUES (?, ?, ?, 1)");
      insert.Bind(id).Bind(std::int64_t{slot.slot}).Bind(std::int64_t{capcode});
      const int code = insert.Step();
      if (code == SQLITE_DONE) return capcode;
      if (code != SQLITE_CONSTRAINT_UNIQUE) Check(code, SQLITE_DONE, "cannot reserve capcodes");
    }
  }

  void Begin(const char* what) { Execute("BEGIN IMMEDIATE", what); }
  void Commit(const char* what) { Execute("COMMIT", what); }
  void Rollback() {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  void Execute(const char* sql, const char* what) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(what);
  }
  void Check(int code, int expected, const char* what) {
    if (code != expected) Fail(what);
  }
  // After a loop over the rows: the statement ran to its end.
  void Check(const Statement& statement, const char* what) {
    if (statement.Code() != SQLITE_DONE) Fail(what);
  }

  // Rolls back what this connection began and throws with the database's own reason; a file
  // another process keeps locked past the busy timeout is named as such.
  [[noreturn]] void Fail(const char* what) {
    const int code = db_ ? sqlite3_errcode(db_) & 0xFF : SQLITE_CANTOPEN;
    std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
    if (db_) Rollback();
    std::string message = "records database " + path_;
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

  std::string path_;
  bool lastFailureBusy_ = false;  // the last failure was another program holding the file
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> handle_{nullptr, &sqlite3_close};
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path,
                                             std::chrono::milliseconds busyTimeout) {
  return std::make_unique<SqliteStore>(path, busyTimeout);
}

}  // namespace tuva::records
