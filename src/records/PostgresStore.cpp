// The records in a PostgreSQL database, for several programming stations that share one pool of
// capcodes. A reservation inserts the attempt and its capcodes in one transaction; when another
// station commits the same capcode first, the partial unique index refuses the insert
// (unique_violation), the transaction is rolled back and the reservation starts over with what
// is now held.
//
// The server sits across a network: every connection has a connect timeout, TCP keepalives and
// lock and statement timeouts (each overridable in the URL), and a call that fails because the
// connection was lost reconnects and runs again, a bounded number of times with a growing pause.
// Each call is whole transactions, so running it again never applies it twice; a reservation whose
// COMMIT went out but whose answer was lost is found again by its token instead of made anew.
//
// No wait blocks (see PostgresConnection.h): a caller that is stopping is never held up by a
// server that does not answer, and a frozen server's connection is dropped and made again as a
// lost one.
#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

#include "records/PostgresConnection.h"
#include "records/PostgresUrl.h"
#include "records/RecordText.h"
#include "records/StoreCommon.h"
#include "records/StoreSteps.h"

namespace tuva::records {
namespace {

constexpr const char* kCreateTables[] = {
    "CREATE TABLE attempts ("
    " id BIGSERIAL PRIMARY KEY,"
    " time TEXT NOT NULL,"
    " station TEXT NOT NULL,"
    " port TEXT NOT NULL,"
    " firmware TEXT NOT NULL,"
    " capcodes TEXT NOT NULL,"
    " frequency TEXT NOT NULL,"
    " sha256 TEXT NOT NULL,"
    " result TEXT NOT NULL CHECK (result IN ('reserved', 'erased', 'programmed', 'failed', "
    "'skipped')),"
    " erased BOOLEAN NOT NULL DEFAULT FALSE,"
    " message TEXT NOT NULL,"
    " seconds DOUBLE PRECISION NOT NULL)",
    "CREATE TABLE taken ("
    " attempt_id BIGINT NOT NULL REFERENCES attempts (id),"
    " slot INTEGER NOT NULL CHECK (slot BETWEEN 1 AND 16),"
    " capcode BIGINT NOT NULL,"
    " held BOOLEAN NOT NULL,"
    " PRIMARY KEY (attempt_id, slot))",
    "CREATE UNIQUE INDEX taken_held_capcode ON taken (capcode) WHERE held",
};

// What version 2 added, after the new columns of the attempts.
constexpr const char* kVersion2[] = {
    "ALTER TABLE attempts ADD COLUMN process BIGINT NOT NULL DEFAULT 0,"
    " ADD COLUMN heartbeat BIGINT NOT NULL DEFAULT 0, ADD COLUMN token TEXT NOT NULL DEFAULT ''",
    // A board put back on a jig after it was programmed is recorded as skipped.
    "ALTER TABLE attempts DROP CONSTRAINT attempts_result_check,"
    " ADD CONSTRAINT attempts_result_check"
    " CHECK (result IN ('reserved', 'erased', 'programmed', 'failed', 'skipped'))",
    "CREATE INDEX attempts_time ON attempts (time)",
    "CREATE INDEX attempts_station ON attempts (station)",
    "CREATE INDEX attempts_open ON attempts (id) WHERE result IN ('reserved', 'erased')",
    "CREATE INDEX attempts_not_programmed ON attempts (id) WHERE result <> 'programmed'",
    "CREATE INDEX attempts_token ON attempts (token) WHERE token <> ''",
    "CREATE TABLE board_capcode ("
    " capcode BIGINT NOT NULL,"
    " attempt_id BIGINT NOT NULL REFERENCES attempts (id),"
    " PRIMARY KEY (capcode, attempt_id))",
    "CREATE TABLE pool_hint ("
    " first BIGINT NOT NULL,"
    " step BIGINT NOT NULL,"
    " next BIGINT NOT NULL,"
    " PRIMARY KEY (first, step))",
    "CREATE TABLE identity (token TEXT NOT NULL)",
    "INSERT INTO board_capcode (capcode, attempt_id)"
    " SELECT DISTINCT c::BIGINT, a.id FROM attempts a,"
    " unnest(string_to_array(a.capcodes, ',')) c"
    " WHERE a.result = 'programmed' AND c ~ '^[0-9]{1,10}$' AND c::BIGINT <= 4294967295",
};

// A listing is fetched from its cursor this many rows at a time.
constexpr int kFetchRows = 1000;
constexpr const char* kFetch = "FETCH 1000 FROM listing";
// While a batch is handled, what the server has sent of the next is taken in every this many rows.
constexpr int kTakeInRows = 50;

// Serialises the creation of the schema between stations that open a new database at once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7365101)";

// A reservation that lost every race this often gives up.
constexpr int kReserveTries = 200;

// A call whose connection is lost is run this often in all, with these pauses between.
constexpr int kConnectionTries = 5;
constexpr std::chrono::milliseconds kFirstPause{250};

std::string Number(std::int64_t value) {
  return std::to_string(value);
}

class PostgresStore : public SessionStore {
 public:
  PostgresStore(const std::string& url, OpenMode mode, std::stop_token stop)
      : name_(ShownPostgresUrl(url)), mode_(mode), pg_(url, name_, std::move(stop)) {
    Connect();
    Call("cannot set up its tables", [&] { EnsureSchema(); });
  }

  std::string Name() const override { return name_; }

  std::string Identity() override {
    return Answer("cannot read its identity", [&] {
      const Rows rows = pg_.Run("SELECT token FROM identity", {});
      if (PQntuples(rows.get()) == 0) throw Refused{"", "no identity row", false};
      return Value(rows, 0, 0);
    });
  }

  ListState ImportList(const ListImport& list) override {
    // Two stations importing one file at once: the second meets the first's row (unique sha256)
    // and runs again, finding it.
    return Answer("cannot import the list",
                  [&] { return Raced([&] { return steps::ImportList(pg_, list); }); });
  }

  std::optional<ListState> FindList(const std::string& sha256) override {
    return Answer("cannot read the records", [&] { return steps::FindList(pg_, sha256); });
  }

  Attempt ReserveWith(const Attempt& start, const std::vector<CountingSlot>& slots,
                      std::int64_t list, ListRow* row) override {
    CheckSlots(slots);
    std::lock_guard lock(mutex_);
    const Attempt opened = Opened(start);
    const std::string token = RandomToken();
    Attempt reserved;
    Call("cannot reserve capcodes", [&] {
      reserved = Raced(
          [&] { return steps::Reserve(pg_, kPostgresDialect, opened, slots, token, list, row); });
    });
    open_.insert(reserved.id);
    return reserved;
  }

  void MarkErased(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    Call("cannot record the erase", [&] { steps::MarkErased(pg_, kPostgresDialect, id); });
  }

  void Finish(const Attempt& attempt) override {
    std::lock_guard lock(mutex_);
    Call("cannot record the result", [&] { steps::Finish(pg_, kPostgresDialect, attempt); });
    open_.erase(attempt.id);
  }

  void Beat() override {
    std::lock_guard lock(mutex_);
    if (open_.empty()) return;
    std::string ids;
    for (const std::int64_t id : open_) AppendListed(ids, Number(id));
    Call("cannot renew the heartbeat", [&] {
      pg_.Run(
          "UPDATE attempts SET heartbeat = $1 WHERE id = ANY (string_to_array($2, ',')::BIGINT[])"
          " AND result IN ('reserved', 'erased')",
          {Number(NowSeconds()), ids});
    });
  }

  std::optional<std::vector<std::uint8_t>> TemplateImage(const std::string& sha256) override {
    return Answer("cannot read the records", [&] { return steps::TemplateImage(pg_, sha256); });
  }

  std::vector<CapcodeHolders> HoldersOf(const std::vector<std::uint32_t>& capcodes) override {
    return Answer("cannot read the records",
                  [&] { return steps::HoldersOf(pg_, kPostgresDialect, capcodes); });
  }

  bool HasHandedOut(std::uint32_t first, std::uint32_t step) override {
    return Answer("cannot read the pool",
                  [&] { return steps::HasHandedOut(pg_, kPostgresDialect, first, step); });
  }

  void Each(const ListFilter& filter, const std::function<void(const Attempt&)>& row) override {
    std::lock_guard lock(mutex_);
    bool delivered = false;
    Call("cannot read the records", [&] {
      pg_.Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {});
      // A long listing to a slow reader is no stalled statement.
      pg_.Run("SET LOCAL statement_timeout = 0", {});
      try {
        Stream(filter, [&](const Attempt& a) {
          delivered = true;
          row(a);
        });
      } catch (const Refused& refused) {
        // Rows already printed are not printed twice: a broken listing is not run again.
        if (delivered) throw RecordsError(Message("cannot read the records", refused.reason));
        throw;
      }
      pg_.Run("COMMIT", {});
    });
  }

  void EachGroup(const ListFilter& filter,
                 const std::function<void(const Attempt&, std::size_t)>& group) override {
    if (filter.limit != 0) return RecordStore::EachGroup(filter, group);
    std::lock_guard lock(mutex_);
    // Handed on once the transaction is over: a connection lost before then runs it again.
    std::vector<std::pair<Attempt, std::size_t>> groups;
    Call("cannot read the records", [&] {
      groups.clear();
      pg_.BeginRead();
      // The server sums the whole table in one statement: a large one is no stalled statement.
      pg_.Run("SET LOCAL statement_timeout = 0", {});
      steps::ReadGroups(pg_, kPostgresDialect, filter, [&](const Attempt& a, std::size_t count) {
        groups.emplace_back(a, count);
      });
      pg_.Commit();
    });
    for (const auto& [attempt, count] : groups) group(attempt, count);
  }

  ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    return Answer("cannot release the capcode",
                  [&] { return steps::Release(pg_, kPostgresDialect, slot, capcode, force); });
  }

 private:
  void Connect() {
    std::optional<std::string> failure;
    try {
      failure = pg_.Open();
    } catch (const StoppedWaiting& stopped) {
      failure = stopped.reason;
    } catch (const Refused& refused) {
      failure = refused.reason;
    }
    if (!failure) return;
    if (failure->find("does not exist") != std::string::npos && mode_ != OpenMode::Create &&
        failure->find("database") != std::string::npos) {
      throw MissingDatabase("no records database at " + name_);
    }
    throw RecordsError("records database " + name_ + ": cannot connect (" + *failure + ")");
  }

  // Runs `body`; a lost connection is made again and `body` run again, a bounded number of times
  // with a growing pause. Any other refusal becomes a RecordsError that names the database and
  // what was being done, with the open transaction rolled back.
  template <typename Body>
  void Call(const char* what, Body body) {
    std::chrono::milliseconds pause = kFirstPause;
    pg_.ResetUnanswered();
    for (int tries = 1;; ++tries) {
      try {
        if (!pg_.Connected()) pg_.Reconnect();
        Guarded(what, body);
        return;
      } catch (const StoppedWaiting& stopped) {
        throw RecordsError(Message(what, stopped.reason));
      } catch (const Refused& lost) {
        if (tries >= kConnectionTries || pg_.Stopping()) {
          const std::string message =
              Message(what, lost.reason + "; gave up after " + std::to_string(tries) + " tries");
          if (pg_.Unanswered()) throw UnansweredError(message);
          throw RecordsError(message);
        }
      }
      pg_.Pause(pause);
      pause *= 2;
    }
  }

  // Call under the store's lock, for what `body` answers.
  template <typename Body>
  auto Answer(const char* what, Body body) -> decltype(body()) {
    std::lock_guard lock(mutex_);
    decltype(body()) answer{};
    Call(what, [&] { answer = body(); });
    return answer;
  }

  // Runs `body` again while it loses a race to another station (the unique row it meets was
  // inserted meanwhile), up to kReserveTries times in all.
  template <typename Body>
  auto Raced(Body body) -> decltype(body()) {
    for (int tries = 1;; ++tries) {
      try {
        return body();
      } catch (const Refused& refused) {
        if (refused.lost || !Retryable(refused) || tries == kReserveTries) throw;
        pg_.Rollback();
      }
    }
  }

  // Runs `body` once: a lost connection is thrown on as Refused (lost), any other refusal as a
  // RecordsError; an open transaction is rolled back either way.
  template <typename Body>
  void Guarded(const char* what, Body body) {
    try {
      body();
    } catch (const Refused& refused) {
      pg_.Rollback();
      if (refused.lost) throw;
      throw RecordsError(Message(what, refused.reason));
    } catch (...) {
      pg_.Rollback();
      throw;
    }
  }

  // The listing's rows through a cursor, a batch at a time (memory bounded by two batches). The
  // next batch is asked for before the one at hand is handled, so the server reads it while the
  // rows here are decoded and written. Unless the listing is limited, the taken capcodes are
  // joined in (a row per capcode, grouped here): the server then merges two index scans instead
  // of running a subquery for every attempt.
  void Stream(const ListFilter& filter, const std::function<void(const Attempt&)>& row) {
    const ListQuery query = steps::AttemptQuery(kPostgresDialect, filter);
    pg_.Run(("DECLARE listing NO SCROLL CURSOR FOR " + query.sql).c_str(), Texts(query));
    steps::AttemptRows attempts(filter, row);
    Rows batch = pg_.Run(kFetch, {});
    bool asked = false;  // a FETCH is on its way whose answer is not collected yet
    try {
      for (;;) {
        PostgresRow rows(batch.get(), 0);
        const int count = PQntuples(batch.get());
        if (count == kFetchRows) {
          pg_.Send(kFetch, {});
          asked = true;
        }
        for (int at = 0; at < count; ++at) {
          // What the server has sent meanwhile is taken in, so that it need not wait for room on
          // the socket; libpq only reads it here.
          if (asked && at % kTakeInRows == 0) pg_.TakeIn();
          rows.At(at);
          attempts.Add(rows);
        }
        if (!asked) break;
        batch.reset();
        asked = false;
        batch = pg_.Collect();
      }
      attempts.End();
    } catch (...) {
      // The connection takes no statement before the answer asked for is read (the rollback
      // after a failed row needs it); one that cannot give it is rolled back by the server, as is
      // the connection of a caller that is stopping (dropped by the rollback).
      if (asked && !pg_.Stopping()) {
        try {
          while (pg_.NextResult()) {
          }
        } catch (const StoppedWaiting&) {
        }
      }
      throw;
    }
  }

  static std::vector<std::string> Texts(const ListQuery& query) {
    std::vector<std::string> texts;
    for (const auto& parameter : query.parameters) {
      texts.push_back(parameter.isText ? parameter.text : Number(parameter.number));
    }
    return texts;
  }

  void EnsureSchema() {
    pg_.Run("BEGIN", {});
    pg_.Run(kSchemaLock, {});
    const Rows present = pg_.Run("SELECT to_regclass('schema_version') IS NOT NULL", {});
    if (Value(present, 0, 0) != "t") {
      if (mode_ != OpenMode::Create) throw MissingDatabase("no records database at " + name_);
      pg_.Run(kCreateVersion, {});
      for (const char* sql : kCreateTables) pg_.Run(sql, {});
      for (const char* sql : kVersion2) pg_.Run(sql, {});
      AddVersion3();
      AddVersion4();
      FinishSchema();
      return;
    }
    const Rows version = pg_.Run("SELECT version FROM schema_version", {});
    const std::int64_t found = PQntuples(version.get()) > 0 ? std::stoll(Value(version, 0, 0)) : 0;
    if (found > kSchemaVersion) throw RecordsError(NewerSchema(name_, found));
    if (found == kSchemaVersion) {
      pg_.Run("ROLLBACK", {});
      return;
    }
    if (mode_ == OpenMode::ReadOnly) {
      throw RecordsError("records database " + name_ + " has schema version " +
                         std::to_string(found) +
                         " of an earlier tuva; it is brought up to date when opened for writing");
    }
    if (found < 2) {
      for (const char* sql : kVersion2) pg_.Run(sql, {});
    }
    if (found < 3) AddVersion3();
    AddVersion4();
    pg_.Run("DELETE FROM schema_version", {});
    FinishSchema();
  }

  void AddVersion3() {
    for (const char* column : kVersion3Columns) {
      pg_.Run(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), {});
    }
    for (const char* sql : kVersion3Tables) pg_.Run(sql, {});
  }

  void AddVersion4() {
    for (const char* column : kVersion4Columns) {
      pg_.Run(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), {});
    }
    pg_.Run(
        "CREATE TABLE template_image (id BIGSERIAL PRIMARY KEY, sha256 TEXT NOT NULL UNIQUE,"
        " image TEXT NOT NULL)",
        {});
  }

  void FinishSchema() {
    pg_.Run("INSERT INTO schema_version (version) VALUES ($1)",
            {Number(std::int64_t{kSchemaVersion})});
    pg_.Run("INSERT INTO identity (token) SELECT $1 WHERE NOT EXISTS (SELECT 1 FROM identity)",
            {RandomToken()});
    pg_.Run("COMMIT", {});
  }

  static std::string Value(const Rows& rows, int row, int column) {
    return PQgetvalue(rows.get(), row, column);
  }

  std::string Message(const char* what, const std::string& reason) const {
    return "records database " + name_ + ": " + what + " (" + reason + ")";
  }

  std::string name_;
  OpenMode mode_;
  PostgresConnection pg_;
  std::set<std::int64_t> open_;  // attempts this store opened and has not finished
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, OpenMode mode,
                                               std::stop_token stop) {
  return std::make_unique<PostgresStore>(url, mode, std::move(stop));
}

}  // namespace tuva::records
