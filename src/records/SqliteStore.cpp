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

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "records/RecordText.h"
#include "records/SqliteSession.h"
#include "records/StoreCommon.h"
#include "records/StoreSteps.h"

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

class SqliteStore : public SessionStore {
  // Runs `body` under the store's lock, its failures named as `what`; a transaction it leaves
  // open on a failure is rolled back.
  template <typename Body>
  auto Call(const char* what, Body body) {
    std::lock_guard lock(mutex_);
    const RollbackOnThrow guard(session_);
    session_.Doing(what);
    return body();
  }

  // What the file holds before any set-up.
  enum class Content { Empty, Records, Foreign };

 public:
  SqliteStore(const std::string& path, OpenMode mode, std::chrono::milliseconds busyTimeout,
              std::stop_token stop)
      // Absolute, so that the journal knows the file whatever folder a run starts in.
      : path_(std::filesystem::absolute(path).lexically_normal().string()),
        mode_(mode),
        busyTimeout_(busyTimeout),
        stop_(std::move(stop)) {
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
        if (!session_.LastFailureBusy() || std::chrono::steady_clock::now() >= deadline ||
            Stopping()) {
          throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (mode_ != OpenMode::ReadOnly) file_.Remember();
  }

  std::string Name() const override { return path_; }

  std::string Identity() override {
    std::lock_guard lock(mutex_);
    Statement token(db_, "SELECT token FROM identity");
    if (token.Step() != SQLITE_ROW) session_.Fail("cannot read its identity");
    return token.Text(0);
  }

  ListState ImportList(const ListImport& list) override {
    return Call("cannot import the list", [&] { return steps::ImportList(session_, list); });
  }

  std::optional<ListState> FindList(const std::string& sha256) override {
    return Call("cannot read the records", [&] { return steps::FindList(session_, sha256); });
  }

  void MarkErased(std::int64_t id) override {
    Call("cannot record the erase", [&] {
      file_.Check();
      steps::MarkErased(session_, kSqliteDialect, id);
    });
  }

  void Finish(const Attempt& attempt) override {
    Call("cannot record the result", [&] { steps::Finish(session_, kSqliteDialect, attempt); });
    std::lock_guard lock(mutex_);
    open_.erase(attempt.id);
  }

  void CheckIntegrity() override {
    std::lock_guard lock(mutex_);
    QuickCheck();
  }

  void Beat() override {
    std::lock_guard lock(mutex_);
    if (open_.empty()) return;
    const RollbackOnThrow guard(session_);
    const char* what = "cannot renew the heartbeat";
    session_.Doing(what);
    session_.Begin();
    for (const std::int64_t id : open_) {
      Statement beat(db_,
                     "UPDATE attempts SET heartbeat = ? WHERE id = ? AND result IN"
                     " ('reserved', 'erased')");
      beat.Bind(NowSeconds()).Bind(id);
      session_.Check(beat.Step(), SQLITE_DONE, what);
    }
    session_.Run("COMMIT", what);
  }

  std::optional<std::vector<std::uint8_t>> TemplateImage(const std::string& sha256) override {
    return Call("cannot read the records", [&] { return steps::TemplateImage(session_, sha256); });
  }

  std::vector<CapcodeHolders> HoldersOf(const std::vector<std::uint32_t>& capcodes) override {
    return Call("cannot read the records",
                [&] { return steps::HoldersOf(session_, kSqliteDialect, capcodes); });
  }

  bool HasHandedOut(std::uint32_t first, std::uint32_t step) override {
    return Call("cannot read the pool",
                [&] { return steps::HasHandedOut(session_, kSqliteDialect, first, step); });
  }

  void Each(const ListFilter& filter, const std::function<void(const Attempt&)>& row) override {
    Call("cannot read the records", [&] {
      // A read transaction: one snapshot, and never the write lock.
      session_.BeginRead();
      steps::ReadAttempts(session_, kSqliteDialect, filter, row);
      session_.Commit();
    });
  }

  void EachGroup(const ListFilter& filter,
                 const std::function<void(const Attempt&, std::size_t)>& group) override {
    if (filter.limit != 0) return RecordStore::EachGroup(filter, group);
    Call("cannot read the records", [&] {
      session_.BeginRead();
      steps::ReadGroups(session_, kSqliteDialect, filter, group);
      session_.Commit();
    });
  }

  ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    return Call("cannot release the capcode",
                [&] { return steps::Release(session_, kSqliteDialect, slot, capcode, force); });
  }

 private:
  Attempt ReserveWith(const Attempt& start, const std::vector<CountingSlot>& slots,
                      std::int64_t list, ListRow* row) override {
    CheckSlots(slots);
    const Attempt opened = Opened(start);
    const Attempt attempt = Call("cannot reserve capcodes", [&] {
      // A reservation need not reach the disk before the erase mark does, which is synced
      // before any erase command goes out and takes the reservation with it: a power cut in
      // between loses, with the run, only capcodes that no board can hold yet. One sync per
      // board less.
      const SqliteSession::Unsynced unsynced(session_);
      return steps::Reserve(session_, kSqliteDialect, opened, slots, "", list, row);
    });
    std::lock_guard lock(mutex_);
    open_.insert(attempt.id);
    return attempt;
  }

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

  bool Stopping() const { return stop_.stop_requested(); }

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
    session_.Attach(db);
    if (code != SQLITE_OK) session_.Fail("cannot open it");
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
    session_.Run("PRAGMA journal_mode = WAL", "cannot open it");
    // Every commit is synced to the disk before it counts as made (but see Unsynced).
    session_.Run("PRAGMA synchronous = FULL", "cannot open it");
    session_.Run("PRAGMA foreign_keys = ON", "cannot open it");
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
      session_.Fail("cannot open it");
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
    while (check.Step() == SQLITE_ROW) AppendListed(answer, check.Text(0), "; ");
    if (check.Code() != SQLITE_DONE) session_.Fail("cannot check it");
    if (answer != "ok") {
      throw RecordsError("records database " + path_ + " is damaged (" + answer + ")");
    }
  }

  void CreateSchema() {
    const RollbackOnThrow guard(session_);
    const char* what = "cannot set up its tables";
    session_.Run("BEGIN IMMEDIATE", what);
    Statement again(db_, "SELECT count(*) FROM sqlite_master");
    if (again.Step() == SQLITE_ROW && again.Int(0) > 0) {
      session_.Rollback();  // another station made it meanwhile
      std::int64_t version = 0;
      if (Inspect(version) != Content::Records) throw RecordsError(NotRecords(path_));
      return;
    }
    session_.Run(kCreateVersion, what);
    for (const char* sql : kCreateTables) session_.Run(sql, what);
    for (const char* sql : kVersion2) session_.Run(sql, what);
    AddVersion3(what);
    AddVersion4(what);
    FinishSchema(what);
  }

  void AddVersion4(const char* what) {
    for (const char* column : kVersion4Columns) {
      session_.Run(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), what);
    }
    session_.Run(
        "CREATE TABLE template_image (id INTEGER PRIMARY KEY, sha256 TEXT NOT NULL UNIQUE,"
        " image TEXT NOT NULL)",
        what);
  }

  void AddVersion3(const char* what) {
    for (const char* column : kVersion3Columns) {
      session_.Run(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), what);
    }
    for (const char* sql : kVersion3Tables) session_.Run(sql, what);
  }

  // An earlier version brought up to this one: from version 1 the attempts are rebuilt with the
  // lease columns, and the indexes and the capcodes of the programmed boards are added; from
  // version 2 the columns of version 3 are added; from version 3 the images' table and columns.
  void Upgrade() {
    const char* what = "cannot bring its tables up to date";
    // The attempts are rebuilt under the taken capcodes that refer to them: the references are
    // checked again once the rebuilt table has the old one's name.
    session_.Run("PRAGMA foreign_keys = OFF", what);
    try {
      UpgradeTables(what);
    } catch (...) {
      session_.Run("PRAGMA foreign_keys = ON", what);
      throw;
    }
    session_.Run("PRAGMA foreign_keys = ON", what);
  }

  // The schema's version; the statement is done with before any change (a table is not dropped
  // under an open read of the database).
  std::int64_t StoredVersion() {
    Statement version(db_, "SELECT version FROM schema_version");
    return version.Step() == SQLITE_ROW ? version.Int(0) : 0;
  }

  void UpgradeTables(const char* what) {
    const RollbackOnThrow guard(session_);
    session_.Run("BEGIN IMMEDIATE", what);
    const std::int64_t version = StoredVersion();
    if (version >= kSchemaVersion) {
      session_.Rollback();  // another station did it meanwhile
      return;
    }
    if (version < 2) RebuildVersion1(what);
    if (version < 3) AddVersion3(what);
    AddVersion4(what);
    session_.Run("DELETE FROM schema_version", what);
    FinishSchema(what);
  }

  void RebuildVersion1(const char* what) {
    std::string rebuilt = kCreateTables[0];
    rebuilt.replace(rebuilt.find("attempts"), 8, "attempts_v2");
    session_.Run(rebuilt.c_str(), what);
    for (const char* sql : kUpgradeAttempts) session_.Run(sql, what);
    Statement broken(db_, "SELECT count(*) FROM pragma_foreign_key_check");
    if (broken.Step() == SQLITE_ROW && broken.Int(0) != 0) {
      throw RecordsError("records database " + path_ + ": " + what +
                         ": taken capcodes refer to attempts that are not there");
    }
    for (const char* sql : kVersion2) session_.Run(sql, what);
    Statement boards(db_, "SELECT id, capcodes FROM attempts WHERE result = 'programmed'");
    while (boards.Step() == SQLITE_ROW) {
      Attempt board;
      board.id = boards.Int(0);
      board.capcodes = SplitCapcodes(boards.Text(1));
      steps::IndexBoard(session_, kSqliteDialect, board);
    }
    session_.Check(boards, what);
  }

  void FinishSchema(const char* what) {
    Statement insert(db_, "INSERT INTO schema_version (version) VALUES (?)");
    insert.Bind(std::int64_t{kSchemaVersion});
    session_.Check(insert.Step(), SQLITE_DONE, what);
    Statement identity(
        db_, "INSERT INTO identity (token) SELECT ? WHERE NOT EXISTS (SELECT 1 FROM identity)");
    identity.Bind(RandomToken());
    session_.Check(identity.Step(), SQLITE_DONE, what);
    session_.Run("COMMIT", what);
  }

  std::string path_;
  FileIdentity file_{path_};
  SqliteSession session_{path_, [this] { file_.Check(); }};
  OpenMode mode_;
  std::chrono::milliseconds busyTimeout_;
  std::chrono::steady_clock::time_point busySince_;  // when the current wait for a lock began
  std::stop_token stop_;  // the caller's: a lock is not waited for once it is requested
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> handle_{nullptr, &sqlite3_close};
  sqlite3* db_ = nullptr;
  std::set<std::int64_t> open_;  // attempts this store opened and has not finished
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, OpenMode mode,
                                             std::chrono::milliseconds busyTimeout,
                                             std::stop_token stop) {
  return std::make_unique<SqliteStore>(path, mode, busyTimeout, std::move(stop));
}

}  // namespace tuva::records
