// The records in one SQLite file. The file is in WAL mode, so a listing (a read-only connection
// that never takes the write lock) never waits for a series that is writing, and every state
// change is one IMMEDIATE transaction: the writer takes the file's write lock at BEGIN, and a
// second process waits (the busy timeout) instead of failing halfway through. The partial unique
// index on the held capcodes is what keeps a capcode from being handed out twice.
//
// A file removed or replaced while a series runs would take every later record with it (SQLite
// goes on writing to the open, unlinked file), so before each transaction the store checks that
// its path still leads to the file it opened (device and inode).
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

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
    " seconds REAL NOT NULL,"
    " process INTEGER NOT NULL DEFAULT 0,"
    " heartbeat INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE taken ("
    " attempt_id INTEGER NOT NULL REFERENCES attempts (id),"
    " slot INTEGER NOT NULL CHECK (slot BETWEEN 1 AND 16),"
    " capcode INTEGER NOT NULL,"
    " held INTEGER NOT NULL,"
    " PRIMARY KEY (attempt_id, slot))",
    "CREATE UNIQUE INDEX taken_held_capcode ON taken (capcode) WHERE held = 1",
};

// What version 2 added; also the upgrade of a version 1 file (with the columns added first).
constexpr const char* kVersion2[] = {
    "CREATE INDEX attempts_time ON attempts (time)",
    "CREATE INDEX attempts_station ON attempts (station)",
    "CREATE INDEX attempts_open ON attempts (id) WHERE result IN ('reserved', 'erased')",
    "CREATE INDEX attempts_not_programmed ON attempts (id) WHERE result <> 'programmed'",
    // Every capcode of a programmed board, for the lookup of the board that holds one.
    "CREATE TABLE board_capcode ("
    " capcode INTEGER NOT NULL,"
    " attempt_id INTEGER NOT NULL REFERENCES attempts (id),"
    " PRIMARY KEY (capcode, attempt_id)) WITHOUT ROWID",
    // Per progression (first, step): every capcode of it below `next` is held.
    "CREATE TABLE pool_hint ("
    " first INTEGER NOT NULL,"
    " step INTEGER NOT NULL,"
    " next INTEGER NOT NULL,"
    " PRIMARY KEY (first, step)) WITHOUT ROWID",
    "CREATE TABLE identity (token TEXT NOT NULL)",
};
// A version 1 file's attempts are copied into a table of today's shape (the lease columns, and
// 'skipped' among the results its CHECK allows: SQLite cannot change a CHECK in place).
constexpr const char* kUpgradeAttempts[] = {
    "INSERT INTO attempts_v2 (id, time, station, port, firmware, capcodes, frequency, sha256,"
    " result, erased, message, seconds) SELECT id, time, station, port, firmware, capcodes,"
    " frequency, sha256, result, erased, message, seconds FROM attempts",
    "DROP TABLE attempts",
    "ALTER TABLE attempts_v2 RENAME TO attempts",
};

constexpr const char* kTakenColumn =
    "(SELECT group_concat(t.slot || ':' || t.capcode || ':' || t.held, ' ') FROM taken t"
    " WHERE t.attempt_id = a.id)";

// A listing of every attempt that passes a filter joins the taken rows instead: one row per taken
// capcode (one with NULLs for an attempt that took none), an attempt's rows next to each other in
// id order. It saves a subquery per attempt, most of the time of a long listing. A listing of the
// newest N counts attempts, not rows, so it keeps the subquery.
constexpr const char* kTakenJoinColumns = "t.slot, t.capcode, t.held";
constexpr const char* kTakenJoin = "LEFT JOIN taken t ON t.attempt_id = a.id";

std::string Question(int) {
  return "?";
}

// Lowers the next-free hint of every progression that holds `capcode`: it is free again.
constexpr const char* kLowerHints =
    "UPDATE pool_hint SET next = ?1 WHERE next > ?1 AND ?1 >= first AND (?1 - first) % step = 0";

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
  bool Null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
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

  // Commits in the scope are not synced to the disk; the next synced commit makes them durable
  // with it (the log is written in order, and syncing it keeps everything before).
  class Unsynced {
   public:
    explicit Unsynced(SqliteStore* store) : store_(store) {
      sqlite3_exec(store_->db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    }
    ~Unsynced() {
      sqlite3_exec(store_->db_, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    }
    Unsynced(const Unsynced&) = delete;
    Unsynced& operator=(const Unsynced&) = delete;

   private:
    SqliteStore* store_;
  };

  // What the file holds before any set-up.
  enum class Content { Empty, Records, Foreign };

 public:
  SqliteStore(const std::string& path, OpenMode mode, std::chrono::milliseconds busyTimeout,
              const std::atomic<bool>* stop)
      // Absolute, so that the journal knows the file whatever folder a run starts in.
      : path_(std::filesystem::absolute(path).lexically_normal().string()),
        mode_(mode),
        busyTimeout_(busyTimeout),
        stop_(stop) {
    OpenFile();
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &SqliteStore::WaitWhileBusy, this);
    // Two stations opening a new file at once: switching it to WAL and creating the schema can
    // answer "busy" at once, without the busy handler (SQLite's guard against a deadlock), so the
    // first steps are tried again until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + busyTimeout;
    for (;;) {
      try {
        SetUp();
        break;
      } catch (const RecordsError&) {
        if (!lastFailureBusy_ || std::chrono::steady_clock::now() >= deadline || Stopping()) {
          throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (mode_ != OpenMode::ReadOnly) RememberFile();
  }

  std::string Name() const override { return path_; }

  std::string Identity() override {
    std::lock_guard lock(mutex_);
    Statement token(db_, "SELECT token FROM identity");
    if (token.Step() != SQLITE_ROW) Fail("cannot read its identity");
    return token.Text(0);
  }

  Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) override {
    return ReserveWith(start, slots, 0, nullptr);
  }

  Attempt ReserveRow(const Attempt& start, const std::vector<CountingSlot>& slots,
                     std::int64_t list, ListRow& row) override {
    return ReserveWith(start, slots, list, &row);
  }

  ListState ImportList(const ListImport& list) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot import the list";
    Begin(what);
    ListState state;
    state.name = list.name;
    Statement find(db_, kFindList);
    find.Bind(list.sha256);
    const bool known = find.Step() == SQLITE_ROW;
    if (known) {
      state.id = find.Int(0);
      state.name = find.Text(1);
    } else {
      Check(find, what);
      state.id = InsertList(list, what);
      if (!GrowEarlier(list, state, what)) {
        Rollback();  // a changed list: nothing of the file is imported
        return state;
      }
    }
    CountList(state, what);
    Statement conflict(db_, kListConflict);
    conflict.Bind(state.id);
    if (conflict.Step() == SQLITE_ROW) {
      state.conflict =
          ListState::Conflict{static_cast<int>(conflict.Int(0)),
                              static_cast<std::uint32_t>(conflict.Int(1)), conflict.Int(2)};
      if (!known) {
        Rollback();  // its first free row is held: the file is not imported
        state.id = 0;
        return state;
      }
    } else {
      Check(conflict, what);
    }
    Commit(what);
    return state;
  }

  std::optional<ListState> FindList(const std::string& sha256) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot read the records";
    Execute("BEGIN DEFERRED", what);
    Statement find(db_, kFindList);
    find.Bind(sha256);
    std::optional<ListState> state;
    if (find.Step() == SQLITE_ROW) {
      state.emplace();
      state->id = find.Int(0);
      state->name = find.Text(1);
      CountList(*state, what);
    } else {
      Check(find, what);
    }
    Commit(what);
    return state;
  }

 private:
  std::int64_t InsertList(const ListImport& list, const char* what) {
    Statement next(db_, kNextListId);
    Check(next.Step(), SQLITE_ROW, what);
    const std::int64_t id = next.Int(0);
    Statement insert(db_, kInsertList);
    insert.Bind(id).Bind(list.sha256).Bind(list.name).Bind(list.header).Bind(NowIso());
    Check(insert.Step(), SQLITE_DONE, what);
    InsertRows(id, list.rows, what);
    return id;
  }

  // The file just inserted as list `state.id` may be an imported list changed: then that list
  // takes the file's new rows (and the inserted copy goes), or the file is refused (false, with
  // `state.refused`).
  bool GrowEarlier(const ListImport& list, ListState& state, const char* what) {
    Statement find(db_, kEarlierList);
    find.Bind(state.id).Bind(list.name).Bind(list.header);
    if (find.Step() != SQLITE_ROW) {
      Check(find, what);
      return true;
    }
    ImportedList earlier{find.Int(0), find.Text(1), find.Text(2), {}};
    Statement rows(db_, kListRows);
    rows.Bind(earlier.id);
    while (rows.Step() == SQLITE_ROW) {
      earlier.rows.push_back({static_cast<int>(rows.Int(0)), rows.Text(1), {}});
    }
    Check(rows, what);
    const ListGrowth growth = GrowList(list, earlier);
    if (growth.separate) return true;
    if (!growth.refused.empty()) {
      state.refused = growth.refused;
      state.id = 0;
      return false;
    }
    for (const char* sql : kDropList) {
      Statement drop(db_, sql);
      drop.Bind(state.id);
      Check(drop.Step(), SQLITE_DONE, what);
    }
    InsertRows(earlier.id, growth.appended, what);
    if (growth.takesFile) {
      Statement sha(db_, kListSha);
      sha.Bind(list.sha256).Bind(earlier.id);
      Check(sha.Step(), SQLITE_DONE, what);
    }
    state.id = earlier.id;
    state.name = earlier.name;
    return true;
  }

  void InsertRows(std::int64_t id, const std::vector<ListRow>& rows, const char* what) {
    for (const ListRow& row : rows) {
      Statement line(db_, kInsertListRow);
      line.Bind(id).Bind(std::int64_t{row.line}).Bind(row.fields);
      Check(line.Step(), SQLITE_DONE, what);
      for (const auto& [slot, capcode] : row.capcodes) {
        Statement held(db_, kInsertListCapcode);
        held.Bind(id).Bind(std::int64_t{row.line}).Bind(std::int64_t{slot});
        held.Bind(std::int64_t{capcode});
        Check(held.Step(), SQLITE_DONE, what);
      }
    }
  }

  void CountList(ListState& state, const char* what) {
    Statement counts(db_, kListCounts);
    counts.Bind(state.id);
    Check(counts.Step(), SQLITE_ROW, what);
    state.rows = static_cast<std::size_t>(counts.Int(0));
    state.free = static_cast<std::size_t>(counts.Int(1));
    state.failed = static_cast<std::size_t>(counts.Int(2));
    state.used = state.rows - state.free - state.failed;
  }

  // The first free row of `list` goes to attempt `id`, its capcodes held under their slots.
  void TakeRow(std::int64_t id, std::int64_t list, ListRow& row) {
    const char* what = "cannot reserve capcodes";
    Statement free(db_, kFreeListRow);
    free.Bind(list);
    if (free.Step() != SQLITE_ROW) {
      Check(free, what);
      Statement name(db_, "SELECT name FROM capcode_list WHERE id = ?");
      name.Bind(list);
      const std::string shown = name.Step() == SQLITE_ROW ? name.Text(0) : std::to_string(list);
      Rollback();
      throw ListUsedUpError(ListUsedUp(shown));
    }
    row.line = static_cast<int>(free.Int(0));
    row.fields = free.Text(1);
    row.capcodes.clear();
    Statement take(db_, kTakeListRow);
    take.Bind(id).Bind(list).Bind(std::int64_t{row.line});
    Check(take.Step(), SQLITE_DONE, what);
    Statement capcodes(db_, kListRowCapcodes);
    capcodes.Bind(list).Bind(std::int64_t{row.line});
    while (capcodes.Step() == SQLITE_ROW) {
      row.capcodes.emplace_back(static_cast<int>(capcodes.Int(0)),
                                static_cast<std::uint32_t>(capcodes.Int(1)));
    }
    Check(capcodes, what);
    for (const auto& [slot, capcode] : row.capcodes) {
      Statement holder(db_, kCapcodeHolder);
      holder.Bind(std::int64_t{capcode});
      if (holder.Step() == SQLITE_ROW) {
        const std::int64_t other = holder.Int(0);
        Rollback();
        throw RecordsError(ListCapcodeHeld(capcode, row.line, other));
      }
      Check(holder, what);
      Statement insert(db_,
                       "INSERT INTO taken (attempt_id, slot, capcode, held) VALUES (?, ?, ?, 1)");
      insert.Bind(id).Bind(std::int64_t{slot}).Bind(std::int64_t{capcode});
      Check(insert.Step(), SQLITE_DONE, what);
    }
  }

  Attempt ReserveWith(const Attempt& start, const std::vector<CountingSlot>& slots,
                      std::int64_t list, ListRow* row) {
    CheckSlots(slots);
    std::lock_guard lock(mutex_);
    // A reservation need not reach the disk before the erase mark does, which is synced before
    // any erase command goes out and takes the reservation with it: a power cut in between loses,
    // with the run, only capcodes that no board can hold yet. One sync per board less.
    const Unsynced unsynced(this);
    const RollbackOnThrow guard(this);
    Attempt attempt = Opened(start);
    Begin("cannot reserve capcodes");
    Statement insert(db_,
                     "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency,"
                     " sha256, result, message, seconds, process, heartbeat)"
                     " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(attempt.time).Bind(attempt.station).Bind(attempt.port).Bind(attempt.firmware);
    insert.Bind(JoinCapcodes(attempt.capcodes)).Bind(attempt.frequency).Bind(attempt.sha256);
    insert.Bind(ResultName(Result::Reserved)).Bind(attempt.message).Bind(attempt.seconds);
    insert.Bind(attempt.process).Bind(attempt.heartbeat);
    Check(insert.Step(), SQLITE_DONE, "cannot reserve capcodes");
    attempt.id = sqlite3_last_insert_rowid(db_);
    for (const CountingSlot& slot : slots) {
      attempt.taken.push_back({slot.slot, Take(attempt.id, slot), true});
    }
    if (row) {
      TakeRow(attempt.id, list, *row);
      for (const auto& [slot, capcode] : row->capcodes)
        attempt.taken.push_back({slot, capcode, true});
      std::sort(attempt.taken.begin(), attempt.taken.end(),
                [](const Attempt::Taken& x, const Attempt::Taken& y) { return x.slot < y.slot; });
    }
    Commit("cannot reserve capcodes");
    open_.insert(attempt.id);
    return attempt;
  }

 public:
  void MarkErased(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    CheckSameFile();
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
    Statement open(db_, "SELECT erased, result FROM attempts WHERE id = ?");
    open.Bind(attempt.id);
    const bool found = open.Step() == SQLITE_ROW;
    const Result now = found ? ParseResult(open.Text(1)) : Result::Failed;
    if (found && now == Result::Programmed && attempt.result == Result::Programmed) {
      Rollback();  // finished already: a second try of a Finish whose answer was lost
      open_.erase(attempt.id);
      return;
    }
    if (!found || (now != Result::Reserved && now != Result::Erased)) {
      Rollback();
      throw RecordsError(NotOpen(attempt.id));
    }
    const bool erased = open.Int(0) != 0 || attempt.erased;
    Statement update(db_,
                     "UPDATE attempts SET firmware = ?, capcodes = ?, frequency = ?, sha256 = ?,"
                     " result = ?, erased = ?, message = ?, seconds = ?, kept = ?,"
                     " firmware_file = ?, firmware_programmed = ?, verification = ? WHERE id = ?");
    update.Bind(attempt.firmware).Bind(JoinCapcodes(attempt.capcodes)).Bind(attempt.frequency);
    update.Bind(attempt.sha256).Bind(ResultName(attempt.result));
    update.Bind(std::int64_t{erased}).Bind(attempt.message).Bind(attempt.seconds);
    update.Bind(attempt.kept).Bind(attempt.firmwareFile);
    update.Bind(std::int64_t{attempt.firmwareProgrammed}).Bind(attempt.verification);
    update.Bind(attempt.id);
    Check(update.Step(), SQLITE_DONE, what);
    if (attempt.result == Result::Programmed) IndexBoard(attempt);
    if (attempt.result == Result::Failed && !erased) ReturnToPool(attempt.id, std::nullopt);
    Commit(what);
    open_.erase(attempt.id);
  }

  void CheckIntegrity() override {
    std::lock_guard lock(mutex_);
    QuickCheck();
  }

  void Beat() override {
    std::lock_guard lock(mutex_);
    if (open_.empty()) return;
    const RollbackOnThrow guard(this);
    const char* what = "cannot renew the heartbeat";
    Begin(what);
    for (const std::int64_t id : open_) {
      Statement beat(db_,
                     "UPDATE attempts SET heartbeat = ? WHERE id = ? AND result IN"
                     " ('reserved', 'erased')");
      beat.Bind(NowSeconds()).Bind(id);
      Check(beat.Step(), SQLITE_DONE, what);
    }
    Commit(what);
  }

  bool HasHandedOut(std::uint32_t first, std::uint32_t step) override {
    std::lock_guard lock(mutex_);
    Statement any(db_,
                  "SELECT 1 FROM taken WHERE capcode >= ?1 AND (capcode - ?1) % ?2 = 0 LIMIT 1");
    any.Bind(std::int64_t{first}).Bind(std::int64_t{step});
    const int code = any.Step();
    if (code == SQLITE_ROW) return true;
    Check(code, SQLITE_DONE, "cannot read the pool");
    return false;
  }

  void Each(const ListFilter& filter, const std::function<void(const Attempt&)>& row) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot read the records";
    // A read transaction: one snapshot, and never the write lock.
    Execute("BEGIN DEFERRED", what);
    Read(filter, row);
    Commit(what);
  }

  // A lock another program holds is no longer waited for: the call fails as locked at once.
  void StopWaiting() override { stopWaiting_ = true; }

  ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(this);
    const char* what = "cannot release the capcode";
    Begin(what);
    Statement holder(db_,
                     "SELECT attempt_id FROM taken WHERE held = 1 AND slot = ? AND capcode = ?");
    holder.Bind(std::int64_t{slot}).Bind(std::int64_t{capcode});
    ReleaseOutcome outcome;
    if (holder.Step() == SQLITE_ROW) {
      ListFilter one;
      one.id = holder.Int(0);
      Read(one, [&](const Attempt& a) { outcome.attempt = a; });
      outcome.kind = ReleaseKind(outcome.attempt, force);
    }
    if (outcome.kind != ReleaseOutcome::Released) {
      Rollback();
      return outcome;
    }
    const std::int64_t id = outcome.attempt.id;
    ReturnToPool(id, slot);
    Statement close(db_,
                    "UPDATE attempts SET result = 'failed', message = ? WHERE id = ?"
                    " AND result IN ('reserved', 'erased')");
    close.Bind(std::string(kReleasedUnfinished)).Bind(id);
    Check(close.Step(), SQLITE_DONE, what);
    Commit(what);
    return outcome;
  }

 private:
  // SQLite's busy handler: waits in short naps while another program holds the lock, up to the
  // busy timeout, and gives up at the next nap once the caller is stopping (Ctrl+C), so a stop is
  // never held up by another program's lock. `count` is 0 at the first call of each wait.
  static int WaitWhileBusy(void* self, int count) {
    auto* store = static_cast<SqliteStore*>(self);
    if (store->Stopping()) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) store->busySince_ = now;
    const auto left = store->busySince_ + store->busyTimeout_ - now;
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kBusyNap));
    return 1;
  }
  static constexpr std::chrono::milliseconds kBusyNap{10};

  bool Stopping() const { return stopWaiting_ || (stop_ && stop_->load()); }

  void OpenFile() {
    std::error_code error;
    const bool exists = std::filesystem::exists(path_, error);
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!exists && mode_ != OpenMode::Create) {
      // Not a database that could be started there: its folder is missing too (a typing mistake).
      if (!folder.empty() && !std::filesystem::is_directory(folder, error) && !IsDefault()) {
        throw RecordsError("no records database at " + path_ + " (its folder " + folder.string() +
                           " is not there)");
      }
      throw MissingDatabase("no records database at " + path_);
    }
    if (!exists) CreateDefaultFolder();
    if (!exists && !folder.empty() && !std::filesystem::is_directory(folder, error)) {
      throw RecordsError("records database " + path_ + ": its folder " + folder.string() +
                         " is not there");
    }
    const int flags = mode_ == OpenMode::ReadOnly   ? SQLITE_OPEN_READONLY
                      : mode_ == OpenMode::Existing ? SQLITE_OPEN_READWRITE
                                                    : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    sqlite3* db = nullptr;
    // No mutex inside SQLite: every use of the connection is under this store's own lock, and
    // SQLite's would be taken again for each column of each row of a listing.
    const int code = sqlite3_open_v2(path_.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    handle_.reset(db);
    db_ = db;
    if (code != SQLITE_OK) Fail("cannot open it");
  }

  bool IsDefault() const {
    return path_ == std::filesystem::absolute(DefaultRecordsPath()).lexically_normal().string();
  }

  // Only the default database's folder is made; a folder named by hand that is not there is a
  // typing mistake more often than a wish.
  void CreateDefaultFolder() {
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (folder.empty() || !IsDefault()) return;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
      throw RecordsError("records database " + path_ + ": cannot create its folder (" +
                         error.message() + ")");
    }
  }

  void SetUp() {
    std::int64_t version = 0;
    const Content content = Inspect(version);
    if (content == Content::Foreign || (content == Content::Empty && mode_ != OpenMode::Create)) {
      throw RecordsError(NotRecords(path_));
    }
    if (content == Content::Records && version > kSchemaVersion) {
      throw RecordsError(NewerSchema(path_, version));
    }
    if (mode_ == OpenMode::ReadOnly) {
      if (version < kSchemaVersion) {
        throw RecordsError("records database " + path_ + " has schema version " +
                           std::to_string(version) +
                           " of an earlier tuva; it is brought up to date when opened for writing");
      }
      return;
    }
    Execute("PRAGMA journal_mode = WAL", "cannot open it");
    // Every commit is synced to the disk before it counts as made (but see Unsynced).
    Execute("PRAGMA synchronous = FULL", "cannot open it");
    Execute("PRAGMA foreign_keys = ON", "cannot open it");
    if (content == Content::Empty) {
      CreateSchema();
    } else if (version < kSchemaVersion) {
      Upgrade();
    }
  }

  // Reads, without writing anything, whether the file is empty, a records database (with its
  // version) or something else.
  Content Inspect(std::int64_t& version) {
    Statement tables(db_, "SELECT count(*), sum(name = 'schema_version') FROM sqlite_master");
    if (tables.Step() != SQLITE_ROW) {
      if ((sqlite3_errcode(db_) & 0xFF) == SQLITE_NOTADB) throw RecordsError(NotRecords(path_));
      Fail("cannot open it");
    }
    if (tables.Int(0) == 0) return Content::Empty;
    if (tables.Int(1) == 0) return Content::Foreign;
    Statement read(db_, "SELECT version FROM schema_version");
    if (read.Step() != SQLITE_ROW) return Content::Foreign;
    version = read.Int(0);
    return Content::Records;
  }

  void QuickCheck() {
    Statement check(db_, "PRAGMA quick_check");
    std::string answer;
    while (check.Step() == SQLITE_ROW) {
      if (!answer.empty()) answer += "; ";
      answer += check.Text(0);
    }
    if (check.Code() != SQLITE_DONE) Fail("cannot check it");
    if (answer != "ok") {
      throw RecordsError("records database " + path_ + " is damaged (" + answer + ")");
    }
  }

  void CreateSchema() {
    const RollbackOnThrow guard(this);
    const char* what = "cannot set up its tables";
    Execute("BEGIN IMMEDIATE", what);
    Statement again(db_, "SELECT count(*) FROM sqlite_master");
    if (again.Step() == SQLITE_ROW && again.Int(0) > 0) {
      Rollback();  // another station made it meanwhile
      std::int64_t version = 0;
      if (Inspect(version) != Content::Records) throw RecordsError(NotRecords(path_));
      return;
    }
    Execute(kCreateVersion, what);
    for (const char* sql : kCreateTables) Execute(sql, what);
    for (const char* sql : kVersion2) Execute(sql, what);
    AddVersion3(what);
    FinishSchema(what);
  }

  void AddVersion3(const char* what) {
    for (const char* column : kVersion3Columns) {
      Execute(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), what);
    }
    for (const char* sql : kVersion3Tables) Execute(sql, what);
  }

  // An earlier version brought up to this one: from version 1 the attempts are rebuilt with the
  // lease columns, and the indexes and the capcodes of the programmed boards are added; from
  // version 2 the columns of version 3 are added.
  void Upgrade() {
    const char* what = "cannot bring its tables up to date";
    // The attempts are rebuilt under the taken capcodes that refer to them: the references are
    // checked again once the rebuilt table has the old one's name.
    Execute("PRAGMA foreign_keys = OFF", what);
    try {
      UpgradeTables(what);
    } catch (...) {
      Execute("PRAGMA foreign_keys = ON", what);
      throw;
    }
    Execute("PRAGMA foreign_keys = ON", what);
  }

  // The schema's version; the statement is done with before any change (a table is not dropped
  // under an open read of the database).
  std::int64_t StoredVersion() {
    Statement version(db_, "SELECT version FROM schema_version");
    return version.Step() == SQLITE_ROW ? version.Int(0) : 0;
  }

  void UpgradeTables(const char* what) {
    const RollbackOnThrow guard(this);
    Execute("BEGIN IMMEDIATE", what);
    const std::int64_t version = StoredVersion();
    if (version >= kSchemaVersion) {
      Rollback();  // another station did it meanwhile
      return;
    }
    if (version < 2) RebuildVersion1(what);
    AddVersion3(what);
    Execute("DELETE FROM schema_version", what);
    FinishSchema(what);
  }

  void RebuildVersion1(const char* what) {
    std::string rebuilt = kCreateTables[0];
    rebuilt.replace(rebuilt.find("attempts"), 8, "attempts_v2");
    Execute(rebuilt.c_str(), what);
    for (const char* sql : kUpgradeAttempts) Execute(sql, what);
    Statement broken(db_, "SELECT count(*) FROM pragma_foreign_key_check");
    if (broken.Step() == SQLITE_ROW && broken.Int(0) != 0) {
      throw RecordsError("records database " + path_ + ": " + what +
                         ": taken capcodes refer to attempts that are not there");
    }
    for (const char* sql : kVersion2) Execute(sql, what);
    Statement boards(db_, "SELECT id, capcodes FROM attempts WHERE result = 'programmed'");
    while (boards.Step() == SQLITE_ROW) {
      Attempt board;
      board.id = boards.Int(0);
      board.capcodes = SplitCapcodes(boards.Text(1));
      IndexBoard(board);
    }
    Check(boards, what);
  }

  void FinishSchema(const char* what) {
    Statement insert(db_, "INSERT INTO schema_version (version) VALUES (?)");
    insert.Bind(std::int64_t{kSchemaVersion});
    Check(insert.Step(), SQLITE_DONE, what);
    Statement identity(
        db_, "INSERT INTO identity (token) SELECT ? WHERE NOT EXISTS (SELECT 1 FROM identity)");
    identity.Bind(RandomToken());
    Check(identity.Step(), SQLITE_DONE, what);
    Commit(what);
  }

  void IndexBoard(const Attempt& board) {
    for (const std::uint32_t capcode : NumericCapcodes(board.capcodes)) {
      Statement insert(db_,
                       "INSERT OR IGNORE INTO board_capcode (capcode, attempt_id) VALUES (?, ?)");
      insert.Bind(std::int64_t{capcode}).Bind(board.id);
      Check(insert.Step(), SQLITE_DONE, "cannot record the result");
    }
  }

  // The capcodes of attempt `id` (of one slot, or all) go back to the pool.
  void ReturnToPool(std::int64_t id, std::optional<int> slot) {
    const char* what = "cannot return the capcodes to the pool";
    Statement held(db_, "SELECT slot, capcode FROM taken WHERE attempt_id = ? AND held = 1");
    held.Bind(id);
    std::vector<std::int64_t> freed;
    while (held.Step() == SQLITE_ROW) {
      if (!slot || held.Int(0) == *slot) freed.push_back(held.Int(1));
    }
    Check(held, what);
    Statement release(db_,
                      "UPDATE taken SET held = 0 WHERE attempt_id = ? AND (? = 0 OR slot = ?)");
    release.Bind(id).Bind(std::int64_t{slot.value_or(0)}).Bind(std::int64_t{slot.value_or(0)});
    Check(release.Step(), SQLITE_DONE, what);
    for (const std::int64_t capcode : freed) {
      Statement lower(db_, kLowerHints);
      lower.Bind(capcode);
      Check(lower.Step(), SQLITE_DONE, what);
    }
    Statement row(db_, kReturnListRow);
    row.Bind(id);
    Check(row.Step(), SQLITE_DONE, what);
  }

  void Read(const ListFilter& filter, const std::function<void(const Attempt&)>& row) {
    const bool joined = filter.limit == 0;
    const ListQuery query =
        joined ? BuildListQuery(filter, kTakenJoinColumns, "held = 1", Question, kTakenJoin)
               : BuildListQuery(filter, kTakenColumn, "held = 1", Question);
    Statement rows(db_, query.sql.c_str());
    for (const auto& parameter : query.parameters) {
      if (parameter.isText) {
        rows.Bind(parameter.text);
      } else {
        rows.Bind(parameter.number);
      }
    }
    std::optional<Attempt> current;
    const auto emit = [&] {
      std::sort(current->taken.begin(), current->taken.end(),
                [](const Attempt::Taken& x, const Attempt::Taken& y) { return x.slot < y.slot; });
      row(*current);
    };
    while (rows.Step() == SQLITE_ROW) {
      const std::int64_t id = rows.Int(0);
      if (!joined || !current || current->id != id) {
        if (current) emit();
        current.emplace();
        Attempt& a = *current;
        a.id = id;
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
        a.process = rows.Int(12);
        a.heartbeat = rows.Int(13);
        a.kept = rows.Text(14);
        a.firmwareFile = rows.Text(15);
        a.firmwareProgrammed = rows.Int(16) != 0;
        a.verification = rows.Text(17);
        if (!joined) a.taken = ParseTaken(rows.Text(18));
      }
      if (joined && !rows.Null(18)) {
        current->taken.push_back({static_cast<int>(rows.Int(18)),
                                  static_cast<std::uint32_t>(rows.Int(19)), rows.Int(20) != 0});
      }
    }
    Check(rows, "cannot read the records");
    if (current) emit();
  }

  // Takes the lowest free capcode of the slot for attempt `id`: from the progression's hint (below
  // it every capcode is held) up through the held ones, each an index lookup. The rows this
  // transaction has already inserted are held too, so two slots never share a capcode either. A
  // capcode a programmed board holds without having taken it from the pool (a board
  // re-provisioned with its own capcodes, a group capcode of the template) is not free either.
  std::uint32_t Take(std::int64_t id, const CountingSlot& slot) {
    const char* what = "cannot reserve capcodes";
    Statement hint(db_, "SELECT next FROM pool_hint WHERE first = ? AND step = ?");
    hint.Bind(std::int64_t{slot.first}).Bind(std::int64_t{slot.step});
    std::uint64_t candidate = slot.first;
    if (hint.Step() == SQLITE_ROW) candidate = std::max<std::int64_t>(hint.Int(0), slot.first);
    for (; candidate <= slot.last; candidate += slot.step) {
      Statement held(db_,
                     "SELECT 1 FROM taken WHERE held = 1 AND capcode = ?1"
                     " UNION ALL SELECT 1 FROM board_capcode WHERE capcode = ?1");
      held.Bind(static_cast<std::int64_t>(candidate));
      const int code = held.Step();
      if (code == SQLITE_ROW) continue;
      Check(code, SQLITE_DONE, what);
      Statement insert(db_,
                       "INSERT INTO taken (attempt_id, slot, capcode, held) VALUES (?, ?, ?, 1)");
      insert.Bind(id).Bind(std::int64_t{slot.slot}).Bind(static_cast<std::int64_t>(candidate));
      Check(insert.Step(), SQLITE_DONE, what);
      Statement next(db_, "INSERT OR REPLACE INTO pool_hint (first, step, next) VALUES (?, ?, ?)");
      next.Bind(std::int64_t{slot.first}).Bind(std::int64_t{slot.step});
      next.Bind(static_cast<std::int64_t>(candidate + slot.step));
      Check(next.Step(), SQLITE_DONE, what);
      return static_cast<std::uint32_t>(candidate);
    }
    Rollback();
    throw RecordsError(UsedUpMessage(slot));
  }

  void RememberFile() {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) Gone();
    device_ = info.st_dev;
    inode_ = info.st_ino;
  }

  void CheckSameFile() {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_) {
      Gone();
    }
  }

  [[noreturn]] void Gone() const {
    throw RecordsError("records database " + path_ +
                       " is gone: the file was removed or replaced while in use");
  }

  void Begin(const char* what) {
    CheckSameFile();
    Execute("BEGIN IMMEDIATE", what);
  }
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

  std::string path_;
  OpenMode mode_;
  std::chrono::milliseconds busyTimeout_;
  std::chrono::steady_clock::time_point busySince_;  // when the current wait for a lock began
  const std::atomic<bool>* stop_;  // the caller's own stop, seen as StopWaiting; may be null
  std::atomic<bool> stopWaiting_{false};
  bool lastFailureBusy_ = false;  // the last failure was another program holding the file
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> handle_{nullptr, &sqlite3_close};
  sqlite3* db_ = nullptr;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::set<std::int64_t> open_;  // attempts this store opened and has not finished
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, OpenMode mode,
                                             std::chrono::milliseconds busyTimeout,
                                             const std::atomic<bool>* stop) {
  return std::make_unique<SqliteStore>(path, mode, busyTimeout, stop);
}

}  // namespace tuva::records
