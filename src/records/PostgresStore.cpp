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
#include <atomic>
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
#include "records/StoreCommon.h"

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

constexpr const char* kTakenColumn =
    "(SELECT string_agg(t.slot || ':' || t.capcode || ':' || CASE WHEN t.held THEN 1 ELSE 0 END,"
    " ' ' ORDER BY t.slot) FROM taken t WHERE t.attempt_id = a.id)";

// A listing's taken capcodes joined in, a row each (NULL for an attempt without any).
constexpr const char* kTakenJoinColumns = "t.slot, t.capcode, t.held";
constexpr const char* kTakenJoin = "LEFT JOIN taken t ON t.attempt_id = a.id";

// A listing is fetched from its cursor this many rows at a time.
constexpr int kFetchRows = 1000;
constexpr const char* kFetch = "FETCH 1000 FROM listing";
// While a batch is handled, what the server has sent of the next is taken in every this many rows.
constexpr int kTakeInRows = 50;

constexpr const char* kLowerHints =
    "UPDATE pool_hint SET next = $1 WHERE next > $1 AND $1 >= first AND ($1 - first) % step = 0";

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

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Dollar(int n) {
  std::string text = "$";
  text += std::to_string(n);
  return text;
}

class PostgresStore : public RecordStore {
 public:
  PostgresStore(const std::string& url, OpenMode mode, const std::atomic<bool>* stop)
      : name_(ShownPostgresUrl(url)), mode_(mode), pg_(url, name_, stop) {
    Connect();
    Call("cannot set up its tables", [&] { EnsureSchema(); });
  }

  std::string Name() const override { return name_; }

  std::string Identity() override {
    std::lock_guard lock(mutex_);
    std::string token;
    Call("cannot read its identity", [&] {
      const Rows rows = pg_.Run("SELECT token FROM identity", {});
      if (PQntuples(rows.get()) == 0) throw Refused{"", "no identity row", false};
      token = Value(rows, 0, 0);
    });
    return token;
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
    ListState state;
    Call("cannot import the list", [&] {
      // Two stations importing one file at once: the second meets the first's row (unique sha256)
      // and runs again, finding it.
      for (int tries = 1;; ++tries) {
        try {
          state = TryImport(list);
          return;
        } catch (const Refused& refused) {
          if (refused.lost || !Retryable(refused) || tries == kReserveTries) throw;
          pg_.Rollback();
        }
      }
    });
    return state;
  }

  std::optional<ListState> FindList(const std::string& sha256) override {
    std::lock_guard lock(mutex_);
    std::optional<ListState> state;
    Call("cannot read the records", [&] {
      state.reset();
      pg_.Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {});
      const Rows found = pg_.Run(kFindList, {sha256});
      if (PQntuples(found.get()) > 0) {
        state.emplace();
        state->id = std::stoll(Value(found, 0, 0));
        state->name = Value(found, 0, 1);
        CountList(*state);
      }
      pg_.Run("COMMIT", {});
    });
    return state;
  }

  Attempt ReserveWith(const Attempt& start, const std::vector<CountingSlot>& slots,
                      std::int64_t list, ListRow* row) {
    CheckSlots(slots);
    std::lock_guard lock(mutex_);
    const Attempt opened = Opened(start);
    const std::string token = RandomToken();
    Attempt reserved;
    Call("cannot reserve capcodes", [&] {
      for (int tries = 1;; ++tries) {
        try {
          reserved = TryReserve(opened, slots, token, list, row);
          return;
        } catch (const Refused& refused) {
          if (refused.lost || !Retryable(refused) || tries == kReserveTries) throw;
          pg_.Rollback();
        }
      }
    });
    open_.insert(reserved.id);
    return reserved;
  }

  void MarkErased(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    Call("cannot record the erase", [&] {
      const Rows rows = pg_.Run(
          "UPDATE attempts SET result = 'erased', erased = TRUE"
          " WHERE id = $1 AND result IN ('reserved', 'erased')",
          {Number(id)});
      if (std::string(PQcmdTuples(rows.get())) == "0") throw RecordsError(NotOpen(id));
    });
  }

  void Finish(const Attempt& attempt) override {
    if (attempt.result != Result::Programmed && attempt.result != Result::Failed &&
        attempt.result != Result::Skipped) {
      throw RecordsError("an attempt ends as programmed, failed or skipped");
    }
    std::lock_guard lock(mutex_);
    Call("cannot record the result", [&] { TryFinish(attempt); });
    open_.erase(attempt.id);
  }

  void Beat() override {
    std::lock_guard lock(mutex_);
    if (open_.empty()) return;
    std::string ids;
    for (const std::int64_t id : open_) {
      if (!ids.empty()) ids += ',';
      ids += Number(id);
    }
    Call("cannot renew the heartbeat", [&] {
      pg_.Run(
          "UPDATE attempts SET heartbeat = $1 WHERE id = ANY (string_to_array($2, ',')::BIGINT[])"
          " AND result IN ('reserved', 'erased')",
          {Number(NowSeconds()), ids});
    });
  }

  bool HasHandedOut(std::uint32_t first, std::uint32_t step) override {
    std::lock_guard lock(mutex_);
    bool found = false;
    Call("cannot read the pool", [&] {
      const Rows rows = pg_.Run(
          "SELECT 1 FROM taken WHERE capcode >= $1::BIGINT AND (capcode - $1::BIGINT) % "
          "$2::BIGINT = 0"
          " LIMIT 1",
          {Number(std::int64_t{first}), Number(std::int64_t{step})});
      found = PQntuples(rows.get()) > 0;
    });
    return found;
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

  void StopWaiting() override { pg_.StopWaiting(); }

  ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    std::lock_guard lock(mutex_);
    ReleaseOutcome outcome;
    Call("cannot release the capcode", [&] { outcome = TryRelease(slot, capcode, force); });
    return outcome;
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

  // with a growing pause. Any other refusal becomes a RecordsError that names the database and
  // what was being done, with the open transaction rolled back.
  // Runs `body`; a lost connection is made again and `body` run again, a bounded number of times
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

  ListState TryImport(const ListImport& list) {
    pg_.Run("BEGIN", {});
    ListState state;
    state.name = list.name;
    const Rows found = pg_.Run(kFindList, {list.sha256});
    const bool known = PQntuples(found.get()) > 0;
    if (known) {
      state.id = std::stoll(Value(found, 0, 0));
      state.name = Value(found, 0, 1);
    } else {
      state.id = std::stoll(Value(pg_.Run(kNextListId, {}), 0, 0));
      pg_.Run(kInsertList, {Number(state.id), list.sha256, list.name, list.header, NowIso()});
      InsertRows(state.id, list.rows);
      if (!GrowEarlier(list, state)) {
        pg_.Rollback();  // a changed list: nothing of the file is imported
        return state;
      }
    }
    CountList(state);
    const Rows conflict = pg_.Run(kListConflict, {Number(state.id)});
    if (PQntuples(conflict.get()) > 0) {
      state.conflict =
          ListState::Conflict{std::stoi(Value(conflict, 0, 0)),
                              static_cast<std::uint32_t>(std::stoull(Value(conflict, 0, 1))),
                              std::stoll(Value(conflict, 0, 2))};
      if (!known) {
        pg_.Rollback();  // its first free row is held: the file is not imported
        state.id = 0;
        return state;
      }
    }
    pg_.Run("COMMIT", {});
    return state;
  }

  void InsertRows(std::int64_t list, const std::vector<ListRow>& rows) {
    const std::string id = Number(list);
    for (const ListRow& row : rows) {
      const std::string line = Number(std::int64_t{row.line});
      pg_.Run(kInsertListRow, {id, line, row.fields});
      for (const auto& [slot, capcode] : row.capcodes) {
        pg_.Run(kInsertListCapcode,
                {id, line, Number(std::int64_t{slot}), Number(std::int64_t{capcode})});
      }
    }
  }

  // The file just inserted as list `state.id` may be an imported list changed: then that list
  // takes the file's new rows (and the inserted copy goes), or the file is refused (false, with
  // `state.refused`).
  bool GrowEarlier(const ListImport& list, ListState& state) {
    const std::string fresh = Number(state.id);
    const Rows found = pg_.Run(kEarlierList, {fresh, list.name, list.header});
    if (PQntuples(found.get()) == 0) return true;
    ImportedList earlier{
        std::stoll(Value(found, 0, 0)), Value(found, 0, 1), Value(found, 0, 2), {}};
    const Rows rows = pg_.Run(kListRows, {Number(earlier.id)});
    for (int i = 0; i < PQntuples(rows.get()); ++i) {
      earlier.rows.push_back({std::stoi(Value(rows, i, 0)), Value(rows, i, 1), {}});
    }
    const ListGrowth growth = GrowList(list, earlier);
    if (growth.separate) return true;
    if (!growth.refused.empty()) {
      state.refused = growth.refused;
      state.id = 0;
      return false;
    }
    for (const char* sql : kDropList) pg_.Run(sql, {fresh});
    InsertRows(earlier.id, growth.appended);
    if (growth.takesFile) pg_.Run(kListSha, {list.sha256, Number(earlier.id)});
    state.id = earlier.id;
    state.name = earlier.name;
    return true;
  }

  void CountList(ListState& state) {
    const Rows counts = pg_.Run(kListCounts, {Number(state.id)});
    state.rows = std::stoull(Value(counts, 0, 0));
    state.free = std::stoull(Value(counts, 0, 1));
    state.failed = std::stoull(Value(counts, 0, 2));
    state.used = state.rows - state.free - state.failed;
  }

  // The first free row of `list` that no other station is taking now goes to attempt `id`, its
  // capcodes held under their slots.
  void TakeRow(std::int64_t id, std::int64_t list, ListRow& row) {
    const std::string number = Number(list);
    const Rows free =
        pg_.Run((std::string(kFreeListRow) + " FOR UPDATE SKIP LOCKED").c_str(), {number});
    if (PQntuples(free.get()) == 0) {
      const Rows name = pg_.Run("SELECT name FROM capcode_list WHERE id = $1", {number});
      throw ListUsedUpError(ListUsedUp(PQntuples(name.get()) > 0 ? Value(name, 0, 0) : number));
    }
    row.line = std::stoi(Value(free, 0, 0));
    row.fields = Value(free, 0, 1);
    const std::string line = Number(std::int64_t{row.line});
    pg_.Run(kTakeListRow, {Number(id), number, line});
    ReadRowCapcodes(list, row);
    for (const auto& [slot, capcode] : row.capcodes) {
      const std::string value = Number(std::int64_t{capcode});
      const Rows holder = pg_.Run(kCapcodeHolder, {value});
      if (PQntuples(holder.get()) > 0) {
        throw RecordsError(ListCapcodeHeld(capcode, row.line, std::stoll(Value(holder, 0, 0))));
      }
      pg_.Run("INSERT INTO taken (attempt_id, slot, capcode, held) VALUES ($1, $2, $3, TRUE)",
              {Number(id), Number(std::int64_t{slot}), value});
    }
  }

  void ReadRowCapcodes(std::int64_t list, ListRow& row) {
    row.capcodes.clear();
    const Rows capcodes = pg_.Run(kListRowCapcodes, {Number(list), Number(std::int64_t{row.line})});
    for (int i = 0; i < PQntuples(capcodes.get()); ++i) {
      row.capcodes.emplace_back(std::stoi(Value(capcodes, i, 0)),
                                static_cast<std::uint32_t>(std::stoull(Value(capcodes, i, 1))));
    }
  }

  Attempt TryReserve(Attempt attempt, const std::vector<CountingSlot>& slots,
                     const std::string& token, std::int64_t list, ListRow* row) {
    pg_.Run("BEGIN", {});
    // A reservation already made by an earlier try whose answer was lost.
    const Rows earlier = pg_.Run("SELECT id FROM attempts WHERE token = $1", {token});
    if (PQntuples(earlier.get()) > 0) {
      attempt.id = std::stoll(Value(earlier, 0, 0));
      const Rows taken =
          pg_.Run("SELECT slot, capcode FROM taken WHERE attempt_id = $1 ORDER BY slot",
                  {Number(attempt.id)});
      for (int row = 0; row < PQntuples(taken.get()); ++row) {
        attempt.taken.push_back({std::stoi(Value(taken, row, 0)),
                                 static_cast<std::uint32_t>(std::stoull(Value(taken, row, 1))),
                                 true});
      }
      if (row) {
        const Rows taken = pg_.Run(kRowOfAttempt, {Number(attempt.id)});
        if (PQntuples(taken.get()) > 0) {
          row->line = std::stoi(Value(taken, 0, 0));
          row->fields = Value(taken, 0, 1);
          ReadRowCapcodes(list, *row);
        }
      }
      pg_.Run("COMMIT", {});
      return attempt;
    }
    const Rows inserted = pg_.Run(
        "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256,"
        " result, message, seconds, process, heartbeat, token)"
        " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) RETURNING id",
        {attempt.time, attempt.station, attempt.port, attempt.firmware,
         JoinCapcodes(attempt.capcodes), attempt.frequency, attempt.sha256,
         ResultName(Result::Reserved), attempt.message, Number(attempt.seconds),
         Number(attempt.process), Number(attempt.heartbeat), token});
    attempt.id = std::stoll(Value(inserted, 0, 0));
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
    pg_.Run("COMMIT", {});
    return attempt;
  }

  // The lowest free capcode of the slot, from the progression's hint up through the held ones
  // (each an index lookup); the hint's row is locked, so two stations counting the same
  // progression take turns here instead of racing to the unique index.
  std::uint32_t Take(std::int64_t id, const CountingSlot& slot) {
    const std::string first = Number(std::int64_t{slot.first});
    const std::string step = Number(std::int64_t{slot.step});
    pg_.Run("INSERT INTO pool_hint (first, step, next) VALUES ($1, $2, $1) ON CONFLICT DO NOTHING",
            {first, step});
    const Rows hint = pg_.Run(
        "SELECT next FROM pool_hint WHERE first = $1 AND step = $2 FOR UPDATE", {first, step});
    std::uint64_t candidate = std::max<std::int64_t>(std::stoll(Value(hint, 0, 0)), slot.first);
    for (; candidate <= slot.last; candidate += slot.step) {
      const std::string value = Number(static_cast<std::int64_t>(candidate));
      // A capcode a programmed board holds is not free either, taken from the pool or not.
      if (PQntuples(pg_.Run("SELECT 1 FROM taken WHERE held AND capcode = $1"
                            " UNION ALL SELECT 1 FROM board_capcode WHERE capcode = $1",
                            {value})
                        .get()) > 0) {
        continue;
      }
      pg_.Run("INSERT INTO taken (attempt_id, slot, capcode, held) VALUES ($1, $2, $3, TRUE)",
              {Number(id), Number(std::int64_t{slot.slot}), value});
      pg_.Run("UPDATE pool_hint SET next = $3 WHERE first = $1 AND step = $2",
              {first, step, Number(static_cast<std::int64_t>(candidate + slot.step))});
      return static_cast<std::uint32_t>(candidate);
    }
    throw RecordsError(UsedUpMessage(slot));
  }

  void TryFinish(const Attempt& attempt) {
    pg_.Run("BEGIN", {});
    const Rows open = pg_.Run("SELECT erased, result FROM attempts WHERE id = $1 FOR UPDATE",
                              {Number(attempt.id)});
    const bool found = PQntuples(open.get()) > 0;
    const Result now = found ? ParseResult(Value(open, 0, 1)) : Result::Failed;
    if (found && now == Result::Programmed && attempt.result == Result::Programmed) {
      pg_.Run("ROLLBACK", {});  // finished already: a second try whose first answer was lost
      return;
    }
    if (!found || (now != Result::Reserved && now != Result::Erased)) {
      throw RecordsError(NotOpen(attempt.id));
    }
    const bool erased = Value(open, 0, 0) == "t" || attempt.erased;
    pg_.Run(
        "UPDATE attempts SET firmware = $1, capcodes = $2, frequency = $3, sha256 = $4,"
        " result = $5, erased = $6, message = $7, seconds = $8, kept = $10, firmware_file = $11,"
        " firmware_programmed = $12, verification = $13 WHERE id = $9",
        {attempt.firmware, JoinCapcodes(attempt.capcodes), attempt.frequency, attempt.sha256,
         ResultName(attempt.result), erased ? "true" : "false", attempt.message,
         Number(attempt.seconds), Number(attempt.id), attempt.kept, attempt.firmwareFile,
         attempt.firmwareProgrammed ? "1" : "0", attempt.verification});
    if (attempt.result == Result::Programmed) {
      for (const std::uint32_t capcode : NumericCapcodes(attempt.capcodes)) {
        pg_.Run(
            "INSERT INTO board_capcode (capcode, attempt_id) VALUES ($1, $2) ON CONFLICT DO "
            "NOTHING",
            {Number(std::int64_t{capcode}), Number(attempt.id)});
      }
    }
    if (attempt.result == Result::Failed && !erased) ReturnToPool(attempt.id, 0);
    pg_.Run("COMMIT", {});
  }

  ReleaseOutcome TryRelease(int slot, std::uint32_t capcode, bool force) {
    ReleaseOutcome outcome;
    pg_.Run("BEGIN", {});
    const Rows holder =
        pg_.Run("SELECT attempt_id FROM taken WHERE held AND slot = $1 AND capcode = $2 FOR UPDATE",
                {Number(std::int64_t{slot}), Number(std::int64_t{capcode})});
    if (PQntuples(holder.get()) > 0) {
      ListFilter one;
      one.id = std::stoll(Value(holder, 0, 0));
      const ListQuery query = BuildListQuery(one, kTakenColumn, "held", Dollar);
      const Rows rows = pg_.Run(query.sql.c_str(), Texts(query));
      if (PQntuples(rows.get()) > 0) outcome.attempt = AttemptOf(rows.get(), 0);
      outcome.kind = ReleaseKind(outcome.attempt, force);
    }
    if (outcome.kind != ReleaseOutcome::Released) {
      pg_.Run("ROLLBACK", {});
      return outcome;
    }
    const std::string id = Number(outcome.attempt.id);
    ReturnToPool(outcome.attempt.id, slot);
    pg_.Run(
        "UPDATE attempts SET result = 'failed', message = $1 WHERE id = $2"
        " AND result IN ('reserved', 'erased')",
        {kReleasedUnfinished, id});
    pg_.Run("COMMIT", {});
    return outcome;
  }

  // The capcodes of attempt `id` (of one slot, or all with slot 0) go back to the pool.
  void ReturnToPool(std::int64_t id, int slot) {
    const Rows freed = pg_.Run(
        "UPDATE taken SET held = FALSE WHERE attempt_id = $1 AND held AND ($2 = 0 OR slot = $2)"
        " RETURNING capcode",
        {Number(id), Number(std::int64_t{slot})});
    for (int row = 0; row < PQntuples(freed.get()); ++row) {
      pg_.Run(kLowerHints, {Value(freed, row, 0)});
    }
    pg_.Run(kReturnListRow, {Number(id)});
  }

  // The listing's rows through a cursor, a batch at a time (memory bounded by two batches). The
  // next batch is asked for before the one at hand is handled, so the server reads it while the
  // rows here are decoded and written. Unless the listing is limited, the taken capcodes are
  // joined in (a row per capcode, grouped here): the server then merges two index scans instead
  // of running a subquery for every attempt.
  void Stream(const ListFilter& filter, const std::function<void(const Attempt&)>& row) {
    const bool joined = filter.limit == 0;
    const ListQuery query =
        joined ? BuildListQuery(filter, kTakenJoinColumns, "held", Dollar, kTakenJoin)
               : BuildListQuery(filter, kTakenColumn, "held", Dollar);
    pg_.Run(("DECLARE listing NO SCROLL CURSOR FOR " + query.sql).c_str(), Texts(query));
    std::optional<Attempt> current;
    const auto emit = [&] {
      std::sort(current->taken.begin(), current->taken.end(),
                [](const Attempt::Taken& x, const Attempt::Taken& y) { return x.slot < y.slot; });
      row(*current);
    };
    Rows batch = pg_.Run(kFetch, {});
    bool asked = false;  // a FETCH is on its way whose answer is not collected yet
    try {
      for (;;) {
        const PGresult* rows = batch.get();
        const int count = PQntuples(rows);
        if (count == kFetchRows) {
          pg_.Send(kFetch, {});
          asked = true;
        }
        for (int at = 0; at < count; ++at) {
          // What the server has sent meanwhile is taken in, so that it need not wait for room on
          // the socket; libpq only reads it here.
          if (asked && at % kTakeInRows == 0) pg_.TakeIn();
          if (!joined || !current || current->id != Integer(rows, at, 0)) {
            if (current) emit();
            current = AttemptOf(rows, at, !joined);
          }
          if (joined && !PQgetisnull(rows, at, 18)) {
            current->taken.push_back({static_cast<int>(Integer(rows, at, 18)),
                                      static_cast<std::uint32_t>(Integer(rows, at, 19)),
                                      *PQgetvalue(rows, at, 20) == 't'});
          }
        }
        if (!asked) break;
        batch.reset();
        asked = false;
        batch = pg_.Collect();
      }
      if (current) emit();
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

  // The attempt of a row; its taken capcodes from the gathered column when `taken`.
  static Attempt AttemptOf(const PGresult* rows, int row, bool taken = true) {
    auto text = [&](int column) {
      return std::string_view(PQgetvalue(rows, row, column),
                              static_cast<std::size_t>(PQgetlength(rows, row, column)));
    };
    auto value = [&](int column) { return std::string(text(column)); };
    Attempt a;
    a.id = Integer(rows, row, 0);
    a.time = value(1);
    a.station = value(2);
    a.port = value(3);
    a.firmware = value(4);
    a.capcodes = SplitCapcodes(text(5));
    a.frequency = value(6);
    a.sha256 = value(7);
    a.result = ParseResult(value(8));
    a.erased = text(9) == "t";
    a.message = value(10);
    a.seconds = std::stod(value(11));
    a.process = Integer(rows, row, 12);
    a.heartbeat = Integer(rows, row, 13);
    a.kept = value(14);
    a.firmwareFile = value(15);
    a.firmwareProgrammed = text(16) != "0";
    a.verification = value(17);
    if (taken) a.taken = ParseTaken(text(18));
    return a;
  }

  // An integer column of a row; the server sends them in decimal.
  static std::int64_t Integer(const PGresult* rows, int row, int column) {
    const char* text = PQgetvalue(rows, row, column);
    const char* end = text + PQgetlength(rows, row, column);
    std::int64_t number = 0;
    const auto [last, error] = std::from_chars(text, end, number);
    if (error != std::errc() || last != end || last == text) {
      throw RecordsError(std::string("the database sent \"") + text + "\" for a number");
    }
    return number;
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
    AddVersion3();
    pg_.Run("DELETE FROM schema_version", {});
    FinishSchema();
  }

  void AddVersion3() {
    for (const char* column : kVersion3Columns) {
      pg_.Run(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), {});
    }
    for (const char* sql : kVersion3Tables) pg_.Run(sql, {});
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
    std::string message = "records database " + name_ + ": ";
    message += what;
    message += " (" + reason + ")";
    return message;
  }

  std::string name_;
  OpenMode mode_;
  PostgresConnection pg_;
  std::set<std::int64_t> open_;  // attempts this store opened and has not finished
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, OpenMode mode,
                                               const std::atomic<bool>* stop) {
  return std::make_unique<PostgresStore>(url, mode, stop);
}

}  // namespace tuva::records
