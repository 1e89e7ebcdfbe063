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
// No wait blocks: connections are made, statements written and answers read on the socket (in
// libpq's non-blocking mode) in short slices, so a caller that is stopping (Ctrl+C) is never held
// up by a server that does not answer. Every wait has a deadline of our own too: a server that is
// frozen (stopped, or its machine hung) cannot keep its own timeouts, so an answer that does not
// come within the statement timeout and a margin drops the connection, which is then made again
// as a lost one; so does a statement the server does not take off the socket in that time.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

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

// The server-side limits set when neither the URL nor the server chose any.
constexpr const char* kLockTimeout = "3s";
constexpr const char* kStatementTimeout = "15s";

using Clock = std::chrono::steady_clock;

// Once the caller is stopping, a statement may take this long to answer (from the stop, or from
// its sending when it was sent later); then the connection is dropped, and the server rolls back
// what was not committed. A healthy server answers well within it.
constexpr std::chrono::milliseconds kStopGrace{1000};
// Every wait on the socket is cut into slices this long, to see a stop.
constexpr std::chrono::milliseconds kWaitSlice{50};
// An answer is waited for this much longer than the statement timeout: the server's own refusal
// of a statement that ran too long comes first whenever the server is still running.
constexpr std::chrono::milliseconds kAnswerMargin{2000};

// A time setting as the server shows it ("15s", "500ms", "1min", a bare number of milliseconds);
// nothing for 0 or what cannot be read.
std::optional<std::chrono::milliseconds> SettingTime(std::string_view text) {
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || number <= 0) return std::nullopt;
  const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  std::int64_t scale = 0;
  if (unit.empty() || unit == "ms") scale = 1;
  if (unit == "s") scale = 1000;
  if (unit == "min") scale = 60'000;
  if (unit == "h") scale = 3'600'000;
  if (unit == "d") scale = 86'400'000;
  if (scale == 0) return std::nullopt;
  return std::chrono::milliseconds(number * scale);
}

// How long a wait was, as the technician reads it: whole seconds, or milliseconds below one.
std::string Took(std::chrono::milliseconds limit) {
  if (limit < std::chrono::seconds(1)) return std::to_string(limit.count()) + " ms";
  return std::to_string(std::chrono::ceil<std::chrono::seconds>(limit).count()) + " s";
}

// A call given up because the caller is stopping.
struct StoppedWaiting {
  std::string reason;
};

// libpq's connect timeout as the connection has it (the URL's or ours): none when unset or 0, and
// never below 2 s, as libpq itself would wait.
std::optional<std::chrono::seconds> ConnectTimeout(PGconn* connection) {
  std::optional<std::chrono::seconds> timeout;
  PQconninfoOption* options = PQconninfo(connection);
  for (PQconninfoOption* option = options; option && option->keyword; ++option) {
    if (std::string(option->keyword) != "connect_timeout" || !option->val) continue;
    char* end = nullptr;
    const long seconds = std::strtol(option->val, &end, 10);
    if (end != option->val && seconds > 0) timeout = std::chrono::seconds(std::max(seconds, 2L));
  }
  PQconninfoFree(options);
  return timeout;
}

// A statement the server refused (or a connection that broke), with its SQLSTATE.
struct Refused {
  std::string state;
  std::string reason;
  bool lost = false;  // the connection was lost: the call may be run again
};

bool Retryable(const Refused& refused) {
  return refused.state == "23505" || refused.state == "40001" || refused.state == "40P01";
}

// Connection exceptions (class 08) and a server shutting down or restarting.
bool LostState(const std::string& state) {
  return state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03";
}

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

using Rows = std::unique_ptr<PGresult, decltype(&PQclear)>;

class PostgresStore : public RecordStore {
 public:
  PostgresStore(const std::string& url, OpenMode mode, const std::atomic<bool>* stop)
      : url_(url), name_(ShownPostgresUrl(url)), mode_(mode), stop_(stop) {
    Connect();
    Call("cannot set up its tables", [&] { EnsureSchema(); });
  }

  std::string Name() const override { return name_; }

  std::string Identity() override {
    std::lock_guard lock(mutex_);
    std::string token;
    Call("cannot read its identity", [&] {
      const Rows rows = Run("SELECT token FROM identity", {});
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
          Rollback();
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
      Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {});
      const Rows found = Run(kFindList, {sha256});
      if (PQntuples(found.get()) > 0) {
        state.emplace();
        state->id = std::stoll(Value(found, 0, 0));
        state->name = Value(found, 0, 1);
        CountList(*state);
      }
      Run("COMMIT", {});
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
          Rollback();
        }
      }
    });
    open_.insert(reserved.id);
    return reserved;
  }

  void MarkErased(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    Call("cannot record the erase", [&] {
      const Rows rows =
          Run("UPDATE attempts SET result = 'erased', erased = TRUE"
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
      Run("UPDATE attempts SET heartbeat = $1 WHERE id = ANY (string_to_array($2, ',')::BIGINT[])"
          " AND result IN ('reserved', 'erased')",
          {Number(NowSeconds()), ids});
    });
  }

  bool HasHandedOut(std::uint32_t first, std::uint32_t step) override {
    std::lock_guard lock(mutex_);
    bool found = false;
    Call("cannot read the pool", [&] {
      const Rows rows =
          Run("SELECT 1 FROM taken WHERE capcode >= $1::BIGINT AND (capcode - $1::BIGINT) % "
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
      Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {});
      // A long listing to a slow reader is no stalled statement.
      Run("SET LOCAL statement_timeout = 0", {});
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
      Run("COMMIT", {});
    });
  }

  void StopWaiting() override {
    Clock::rep none = 0;
    stopAt_.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
    stopWaiting_ = true;
  }

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
      failure = OpenConnection();
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

  // Makes a new connection and returns nothing, or why none was made. libpq leaves the connect
  // timeout to a caller that drives the connection itself: each host (and address) tried gets
  // that long, as libpq would give it. Throws StoppedWaiting once the caller is stopping.
  std::optional<std::string> OpenConnection() {
    connection_.reset(StartPostgres(url_));
    PGconn* connection = connection_.get();
    if (!connection) return "out of memory";
    const auto timeout = ConnectTimeout(connection);
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;  // as libpq asks before the first
    int socket = -1;
    std::string host;
    Clock::time_point deadline;
    while (PQstatus(connection) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
           polling != PGRES_POLLING_FAILED) {
      const char* now = PQhost(connection);
      if (PQsocket(connection) != socket || host != (now ? now : "")) {
        socket = PQsocket(connection);
        host = now ? now : "";
        deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
      }
      const Wait wait = Await(polling == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, false);
      if (wait == Wait::Stopped) {
        connection_.reset();
        throw StoppedWaiting{"stopping; not waiting for the connection"};
      }
      if (wait == Wait::TimedOut) {
        connection_.reset();
        unanswered_ = true;
        return Unanswered(*timeout);
      }
      polling = PQconnectPoll(connection);
    }
    if (PQstatus(connection) != CONNECTION_OK) return Reason();
    // A statement is written in slices too (Flush): a server that reads nothing more holds no
    // write for ever.
    if (PQsetnonblocking(connection, 1) != 0) return Reason();
    // CREATE ... IF NOT EXISTS notices are not for the technician's terminal.
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    SetTimeouts();
    return std::nullopt;
  }

  enum class Wait { Ready, TimedOut, Stopped };

  // Waits until the socket is ready for `events`, in short slices, until `deadline`. A stop ends
  // the wait at once, or with `grace` once kStopGrace has passed since the stop or the sending of
  // the statement, whichever came later.
  Wait Await(short events, Clock::time_point deadline, bool grace) {
    for (;;) {
      const auto now = Clock::now();
      if (Stopping() &&
          (!grace || now >= std::max(Clock::time_point(Clock::duration(stopAt_.load())), sent_) +
                                kStopGrace)) {
        return Wait::Stopped;
      }
      if (now >= deadline) return Wait::TimedOut;
      const auto slice = std::min<Clock::duration>(kWaitSlice, deadline - now);
      pollfd descriptor{PQsocket(connection_.get()), events, 0};
      const int milliseconds =
          static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
      const int ready = poll(&descriptor, 1, milliseconds);
      // A broken socket is ready too: libpq reads the error from it.
      if (ready > 0 || (ready < 0 && errno != EINTR)) return Wait::Ready;
    }
  }

  bool Stopping() {
    if (!stopWaiting_ && stop_ && stop_->load()) StopWaiting();
    return stopWaiting_;
  }

  // Sleeps `pause`, or less when the caller is stopping.
  void Pause(std::chrono::milliseconds pause) {
    const auto until = Clock::now() + pause;
    while (!Stopping() && Clock::now() < until) std::this_thread::sleep_for(kWaitSlice);
  }

  // The lock and statement timeouts, unless the URL (options=-c ...) or the server set them.
  void SetTimeouts() {
    const Rows now =
        Run("SELECT current_setting('lock_timeout'), current_setting('statement_timeout')", {});
    if (Value(now, 0, 0) == "0")
      Run(("SET lock_timeout = '" + std::string(kLockTimeout) + "'").c_str(), {});
    std::string statement = Value(now, 0, 1);
    if (statement == "0") {
      Run(("SET statement_timeout = '" + std::string(kStatementTimeout) + "'").c_str(), {});
      statement = kStatementTimeout;
    }
    statementLimit_ = SettingTime(statement).value_or(*SettingTime(kStatementTimeout));
  }

  // Why a call ended on a server that did not answer within `limit`.
  std::string Unanswered(std::chrono::milliseconds limit) const {
    return "the PostgreSQL server at " + name_ + " did not answer within " + Took(limit);
  }

  // Runs `body`; a lost connection is made again and `body` run again, a bounded number of times
  // with a growing pause. Any other refusal becomes a RecordsError that names the database and
  // what was being done, with the open transaction rolled back.
  template <typename Body>
  void Call(const char* what, Body body) {
    std::chrono::milliseconds pause = kFirstPause;
    unanswered_ = false;
    for (int tries = 1;; ++tries) {
      try {
        if (PQstatus(connection_.get()) != CONNECTION_OK) Reconnect();
        Guarded(what, body);
        return;
      } catch (const StoppedWaiting& stopped) {
        throw RecordsError(Message(what, stopped.reason));
      } catch (const Refused& lost) {
        if (tries >= kConnectionTries || Stopping()) {
          const std::string message =
              Message(what, lost.reason + "; gave up after " + std::to_string(tries) + " tries");
          if (unanswered_) throw UnansweredError(message);
          throw RecordsError(message);
        }
      }
      Pause(pause);
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
      Rollback();
      if (refused.lost) throw;
      throw RecordsError(Message(what, refused.reason));
    } catch (...) {
      Rollback();
      throw;
    }
  }

  void Reconnect() {
    if (Stopping()) throw StoppedWaiting{"stopping; the lost connection is not made again"};
    if (const auto failure = OpenConnection()) throw Refused{"08006", *failure, true};
  }

  ListState TryImport(const ListImport& list) {
    Run("BEGIN", {});
    ListState state;
    state.name = list.name;
    const Rows found = Run(kFindList, {list.sha256});
    const bool known = PQntuples(found.get()) > 0;
    if (known) {
      state.id = std::stoll(Value(found, 0, 0));
      state.name = Value(found, 0, 1);
    } else {
      state.id = std::stoll(Value(Run(kNextListId, {}), 0, 0));
      Run(kInsertList, {Number(state.id), list.sha256, list.name, list.header, NowIso()});
      InsertRows(state.id, list.rows);
      if (!GrowEarlier(list, state)) {
        Rollback();  // a changed list: nothing of the file is imported
        return state;
      }
    }
    CountList(state);
    const Rows conflict = Run(kListConflict, {Number(state.id)});
    if (PQntuples(conflict.get()) > 0) {
      state.conflict =
          ListState::Conflict{std::stoi(Value(conflict, 0, 0)),
                              static_cast<std::uint32_t>(std::stoull(Value(conflict, 0, 1))),
                              std::stoll(Value(conflict, 0, 2))};
      if (!known) {
        Rollback();  // its first free row is held: the file is not imported
        state.id = 0;
        return state;
      }
    }
    Run("COMMIT", {});
    return state;
  }

  void InsertRows(std::int64_t list, const std::vector<ListRow>& rows) {
    const std::string id = Number(list);
    for (const ListRow& row : rows) {
      const std::string line = Number(std::int64_t{row.line});
      Run(kInsertListRow, {id, line, row.fields});
      for (const auto& [slot, capcode] : row.capcodes) {
        Run(kInsertListCapcode,
            {id, line, Number(std::int64_t{slot}), Number(std::int64_t{capcode})});
      }
    }
  }

  // The file just inserted as list `state.id` may be an imported list changed: then that list
  // takes the file's new rows (and the inserted copy goes), or the file is refused (false, with
  // `state.refused`).
  bool GrowEarlier(const ListImport& list, ListState& state) {
    const std::string fresh = Number(state.id);
    const Rows found = Run(kEarlierList, {fresh, list.name, list.header});
    if (PQntuples(found.get()) == 0) return true;
    ImportedList earlier{
        std::stoll(Value(found, 0, 0)), Value(found, 0, 1), Value(found, 0, 2), {}};
    const Rows rows = Run(kListRows, {Number(earlier.id)});
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
    for (const char* sql : kDropList) Run(sql, {fresh});
    InsertRows(earlier.id, growth.appended);
    if (growth.takesFile) Run(kListSha, {list.sha256, Number(earlier.id)});
    state.id = earlier.id;
    state.name = earlier.name;
    return true;
  }

  void CountList(ListState& state) {
    const Rows counts = Run(kListCounts, {Number(state.id)});
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
        Run((std::string(kFreeListRow) + " FOR UPDATE SKIP LOCKED").c_str(), {number});
    if (PQntuples(free.get()) == 0) {
      const Rows name = Run("SELECT name FROM capcode_list WHERE id = $1", {number});
      throw ListUsedUpError(ListUsedUp(PQntuples(name.get()) > 0 ? Value(name, 0, 0) : number));
    }
    row.line = std::stoi(Value(free, 0, 0));
    row.fields = Value(free, 0, 1);
    const std::string line = Number(std::int64_t{row.line});
    Run(kTakeListRow, {Number(id), number, line});
    ReadRowCapcodes(list, row);
    for (const auto& [slot, capcode] : row.capcodes) {
      const std::string value = Number(std::int64_t{capcode});
      const Rows holder = Run(kCapcodeHolder, {value});
      if (PQntuples(holder.get()) > 0) {
        throw RecordsError(ListCapcodeHeld(capcode, row.line, std::stoll(Value(holder, 0, 0))));
      }
      Run("INSERT INTO taken (attempt_id, slot, capcode, held) VALUES ($1, $2, $3, TRUE)",
          {Number(id), Number(std::int64_t{slot}), value});
    }
  }

  void ReadRowCapcodes(std::int64_t list, ListRow& row) {
    row.capcodes.clear();
    const Rows capcodes = Run(kListRowCapcodes, {Number(list), Number(std::int64_t{row.line})});
    for (int i = 0; i < PQntuples(capcodes.get()); ++i) {
      row.capcodes.emplace_back(std::stoi(Value(capcodes, i, 0)),
                                static_cast<std::uint32_t>(std::stoull(Value(capcodes, i, 1))));
    }
  }

  Attempt TryReserve(Attempt attempt, const std::vector<CountingSlot>& slots,
                     const std::string& token, std::int64_t list, ListRow* row) {
    Run("BEGIN", {});
    // A reservation already made by an earlier try whose answer was lost.
    const Rows earlier = Run("SELECT id FROM attempts WHERE token = $1", {token});
    if (PQntuples(earlier.get()) > 0) {
      attempt.id = std::stoll(Value(earlier, 0, 0));
      const Rows taken = Run("SELECT slot, capcode FROM taken WHERE attempt_id = $1 ORDER BY slot",
                             {Number(attempt.id)});
      for (int row = 0; row < PQntuples(taken.get()); ++row) {
        attempt.taken.push_back({std::stoi(Value(taken, row, 0)),
                                 static_cast<std::uint32_t>(std::stoull(Value(taken, row, 1))),
                                 true});
      }
      if (row) {
        const Rows taken = Run(kRowOfAttempt, {Number(attempt.id)});
        if (PQntuples(taken.get()) > 0) {
          row->line = std::stoi(Value(taken, 0, 0));
          row->fields = Value(taken, 0, 1);
          ReadRowCapcodes(list, *row);
        }
      }
      Run("COMMIT", {});
      return attempt;
    }
    const Rows inserted =
        Run("INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256,"
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
    Run("COMMIT", {});
    return attempt;
  }

  // The lowest free capcode of the slot, from the progression's hint up through the held ones
  // (each an index lookup); the hint's row is locked, so two stations counting the same
  // progression take turns here instead of racing to the unique index.
  std::uint32_t Take(std::int64_t id, const CountingSlot& slot) {
    const std::string first = Number(std::int64_t{slot.first});
    const std::string step = Number(std::int64_t{slot.step});
    Run("INSERT INTO pool_hint (first, step, next) VALUES ($1, $2, $1) ON CONFLICT DO NOTHING",
        {first, step});
    const Rows hint =
        Run("SELECT next FROM pool_hint WHERE first = $1 AND step = $2 FOR UPDATE", {first, step});
    std::uint64_t candidate = std::max<std::int64_t>(std::stoll(Value(hint, 0, 0)), slot.first);
    for (; candidate <= slot.last; candidate += slot.step) {
      const std::string value = Number(static_cast<std::int64_t>(candidate));
      // A capcode a programmed board holds is not free either, taken from the pool or not.
      if (PQntuples(Run("SELECT 1 FROM taken WHERE held AND capcode = $1"
                        " UNION ALL SELECT 1 FROM board_capcode WHERE capcode = $1",
                        {value})
                        .get()) > 0) {
        continue;
      }
      Run("INSERT INTO taken (attempt_id, slot, capcode, held) VALUES ($1, $2, $3, TRUE)",
          {Number(id), Number(std::int64_t{slot.slot}), value});
      Run("UPDATE pool_hint SET next = $3 WHERE first = $1 AND step = $2",
          {first, step, Number(static_cast<std::int64_t>(candidate + slot.step))});
      return static_cast<std::uint32_t>(candidate);
    }
    throw RecordsError(UsedUpMessage(slot));
  }

  void TryFinish(const Attempt& attempt) {
    Run("BEGIN", {});
    const Rows open =
        Run("SELECT erased, result FROM attempts WHERE id = $1 FOR UPDATE", {Number(attempt.id)});
    const bool found = PQntuples(open.get()) > 0;
    const Result now = found ? ParseResult(Value(open, 0, 1)) : Result::Failed;
    if (found && now == Result::Programmed && attempt.result == Result::Programmed) {
      Run("ROLLBACK", {});  // finished already: a second try whose first answer was lost
      return;
    }
    if (!found || (now != Result::Reserved && now != Result::Erased)) {
      throw RecordsError(NotOpen(attempt.id));
    }
    const bool erased = Value(open, 0, 0) == "t" || attempt.erased;
    Run("UPDATE attempts SET firmware = $1, capcodes = $2, frequency = $3, sha256 = $4,"
        " result = $5, erased = $6, message = $7, seconds = $8, kept = $10, firmware_file = $11,"
        " firmware_programmed = $12, verification = $13 WHERE id = $9",
        {attempt.firmware, JoinCapcodes(attempt.capcodes), attempt.frequency, attempt.sha256,
         ResultName(attempt.result), erased ? "true" : "false", attempt.message,
         Number(attempt.seconds), Number(attempt.id), attempt.kept, attempt.firmwareFile,
         attempt.firmwareProgrammed ? "1" : "0", attempt.verification});
    if (attempt.result == Result::Programmed) {
      for (const std::uint32_t capcode : NumericCapcodes(attempt.capcodes)) {
        Run("INSERT INTO board_capcode (capcode, attempt_id) VALUES ($1, $2) ON CONFLICT DO "
            "NOTHING",
            {Number(std::int64_t{capcode}), Number(attempt.id)});
      }
    }
    if (attempt.result == Result::Failed && !erased) ReturnToPool(attempt.id, 0);
    Run("COMMIT", {});
  }

  ReleaseOutcome TryRelease(int slot, std::uint32_t capcode, bool force) {
    ReleaseOutcome outcome;
    Run("BEGIN", {});
    const Rows holder =
        Run("SELECT attempt_id FROM taken WHERE held AND slot = $1 AND capcode = $2 FOR UPDATE",
            {Number(std::int64_t{slot}), Number(std::int64_t{capcode})});
    if (PQntuples(holder.get()) > 0) {
      ListFilter one;
      one.id = std::stoll(Value(holder, 0, 0));
      const ListQuery query = BuildListQuery(one, kTakenColumn, "held", Dollar);
      const Rows rows = Run(query.sql.c_str(), Texts(query));
      if (PQntuples(rows.get()) > 0) outcome.attempt = AttemptOf(rows.get(), 0);
      outcome.kind = ReleaseKind(outcome.attempt, force);
    }
    if (outcome.kind != ReleaseOutcome::Released) {
      Run("ROLLBACK", {});
      return outcome;
    }
    const std::string id = Number(outcome.attempt.id);
    ReturnToPool(outcome.attempt.id, slot);
    Run("UPDATE attempts SET result = 'failed', message = $1 WHERE id = $2"
        " AND result IN ('reserved', 'erased')",
        {kReleasedUnfinished, id});
    Run("COMMIT", {});
    return outcome;
  }

  // The capcodes of attempt `id` (of one slot, or all with slot 0) go back to the pool.
  void ReturnToPool(std::int64_t id, int slot) {
    const Rows freed =
        Run("UPDATE taken SET held = FALSE WHERE attempt_id = $1 AND held AND ($2 = 0 OR slot = $2)"
            " RETURNING capcode",
            {Number(id), Number(std::int64_t{slot})});
    for (int row = 0; row < PQntuples(freed.get()); ++row) {
      Run(kLowerHints, {Value(freed, row, 0)});
    }
    Run(kReturnListRow, {Number(id)});
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
    Run(("DECLARE listing NO SCROLL CURSOR FOR " + query.sql).c_str(), Texts(query));
    std::optional<Attempt> current;
    const auto emit = [&] {
      std::sort(current->taken.begin(), current->taken.end(),
                [](const Attempt::Taken& x, const Attempt::Taken& y) { return x.slot < y.slot; });
      row(*current);
    };
    Rows batch = Run(kFetch, {});
    bool asked = false;  // a FETCH is on its way whose answer is not collected yet
    try {
      for (;;) {
        const PGresult* rows = batch.get();
        const int count = PQntuples(rows);
        if (count == kFetchRows) {
          Send(kFetch, {});
          asked = true;
        }
        for (int at = 0; at < count; ++at) {
          // What the server has sent meanwhile is taken in, so that it need not wait for room on
          // the socket; libpq only reads it here.
          if (asked && at % kTakeInRows == 0) PQconsumeInput(connection_.get());
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
        batch = Collect();
      }
      if (current) emit();
    } catch (...) {
      // The connection takes no statement before the answer asked for is read (the rollback
      // after a failed row needs it); one that cannot give it is rolled back by the server, as is
      // the connection of a caller that is stopping (dropped by the rollback).
      if (asked && !Stopping()) {
        try {
          while (NextResult()) {
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
    Run("BEGIN", {});
    Run(kSchemaLock, {});
    const Rows present = Run("SELECT to_regclass('schema_version') IS NOT NULL", {});
    if (Value(present, 0, 0) != "t") {
      if (mode_ != OpenMode::Create) throw MissingDatabase("no records database at " + name_);
      Run(kCreateVersion, {});
      for (const char* sql : kCreateTables) Run(sql, {});
      for (const char* sql : kVersion2) Run(sql, {});
      AddVersion3();
      FinishSchema();
      return;
    }
    const Rows version = Run("SELECT version FROM schema_version", {});
    const std::int64_t found = PQntuples(version.get()) > 0 ? std::stoll(Value(version, 0, 0)) : 0;
    if (found > kSchemaVersion) throw RecordsError(NewerSchema(name_, found));
    if (found == kSchemaVersion) {
      Run("ROLLBACK", {});
      return;
    }
    if (mode_ == OpenMode::ReadOnly) {
      throw RecordsError("records database " + name_ + " has schema version " +
                         std::to_string(found) +
                         " of an earlier tuva; it is brought up to date when opened for writing");
    }
    if (found < 2) {
      for (const char* sql : kVersion2) Run(sql, {});
    }
    AddVersion3();
    Run("DELETE FROM schema_version", {});
    FinishSchema();
  }

  void AddVersion3() {
    for (const char* column : kVersion3Columns) {
      Run(("ALTER TABLE attempts ADD COLUMN " + std::string(column)).c_str(), {});
    }
    for (const char* sql : kVersion3Tables) Run(sql, {});
  }

  void FinishSchema() {
    Run("INSERT INTO schema_version (version) VALUES ($1)", {Number(std::int64_t{kSchemaVersion})});
    Run("INSERT INTO identity (token) SELECT $1 WHERE NOT EXISTS (SELECT 1 FROM identity)",
        {RandomToken()});
    Run("COMMIT", {});
  }

  Rows Run(const char* sql, const std::vector<std::string>& parameters) {
    Send(sql, parameters);
    return Collect();
  }

  // Sends a statement without waiting for its answer (Collect reads it).
  void Send(const char* sql, const std::vector<std::string>& parameters) {
    std::vector<const char*> values;
    for (const std::string& parameter : parameters) values.push_back(parameter.c_str());
    if (!PQsendQueryParams(connection_.get(), sql, static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, 0)) {
      throw Failure(nullptr);
    }
    sent_ = Clock::now();
    Flush();
  }

  // What libpq still holds of the statement sent goes out on the socket, within the answer's
  // deadline: a frozen server that has stopped reading leaves the socket full. What the server
  // sends meanwhile is taken in, as libpq asks.
  void Flush() {
    const auto deadline = sent_ + statementLimit_ + kAnswerMargin;
    for (;;) {
      const int flushed = PQflush(connection_.get());
      if (flushed == 0) return;
      if (flushed < 0) throw Failure(nullptr);
      AwaitServer(POLLIN | POLLOUT, deadline);
      if (!PQconsumeInput(connection_.get())) throw Failure(nullptr);
    }
  }

  // Waits for the socket as Await does; a wait that ends without it drops the connection: on a
  // stop (StoppedWaiting), or at `deadline` as lost (Refused): the server is frozen.
  void AwaitServer(short events, Clock::time_point deadline) {
    const Wait wait = Await(events, deadline, true);
    if (wait == Wait::Stopped) {
      connection_.reset();
      throw StoppedWaiting{"stopping; the database did not answer in time"};
    }
    if (wait == Wait::TimedOut) {
      connection_.reset();
      unanswered_ = true;
      throw Refused{"08006", Unanswered(statementLimit_), true};
    }
  }

  // The answer of the statement sent: its last result, or Refused for the first failed one.
  Rows Collect() {
    Rows last(nullptr, &PQclear);
    std::optional<Refused> refused;
    while (Rows rows = NextResult()) {
      const ExecStatusType status = PQresultStatus(rows.get());
      if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !refused) {
        refused = Failure(rows.get());
      }
      last = std::move(rows);
    }
    if (refused) throw *refused;
    if (!last) throw Failure(nullptr);
    return last;
  }

  // The next result of the statement sent (null after the last one), its answer waited for on
  // the socket. Once the caller is stopping, an answer that does not come within the grace drops
  // the connection: the server rolls back the transaction left open. One that does not come
  // within the statement timeout and its margin drops it too, as lost: the server is frozen.
  Rows NextResult() {
    PGconn* connection = connection_.get();
    const auto deadline = Clock::now() + statementLimit_ + kAnswerMargin;
    while (PQisBusy(connection)) {
      AwaitServer(POLLIN, deadline);
      if (!PQconsumeInput(connection)) break;  // broken: PQgetResult says why
    }
    return Rows(PQgetResult(connection), &PQclear);
  }

  Refused Failure(const PGresult* result) const {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    Refused refused{state ? state : "", Reason(), false};
    refused.lost = PQstatus(connection_.get()) != CONNECTION_OK || LostState(refused.state);
    return refused;
  }

  static std::string Value(const Rows& rows, int row, int column) {
    return PQgetvalue(rows.get(), row, column);
  }

  // Ends the open transaction. A connection that cannot (or, when stopping, need not) wait for
  // that is dropped instead: the server rolls back a lost connection's transaction itself.
  void Rollback() {
    if (PQstatus(connection_.get()) != CONNECTION_OK ||
        PQtransactionStatus(connection_.get()) == PQTRANS_IDLE) {
      return;
    }
    try {
      if (!Stopping()) {
        Run("ROLLBACK", {});
        return;
      }
    } catch (...) {
    }
    connection_.reset();
  }

  // libpq's message, on one line and without the password.
  std::string Reason() const {
    return OneLine(connection_ ? PQerrorMessage(connection_.get()) : "no connection", url_);
  }

  std::string Message(const char* what, const std::string& reason) const {
    std::string message = "records database " + name_ + ": ";
    message += what;
    message += " (" + reason + ")";
    return message;
  }

  std::string url_;
  std::string name_;
  OpenMode mode_;
  std::unique_ptr<PGconn, decltype(&PQfinish)> connection_{nullptr, &PQfinish};
  std::set<std::int64_t> open_;    // attempts this store opened and has not finished
  const std::atomic<bool>* stop_;  // the caller's own stop, seen as StopWaiting; may be null
  std::atomic<bool> stopWaiting_{false};
  std::atomic<Clock::rep> stopAt_{0};  // when StopWaiting came
  Clock::time_point sent_;             // when the statement now running was sent
  // The statement timeout the connection has, which the client keeps too.
  std::chrono::milliseconds statementLimit_ = *SettingTime(kStatementTimeout);
  bool unanswered_ = false;  // the call now running met a server that did not answer
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, OpenMode mode,
                                               const std::atomic<bool>* stop) {
  return std::make_unique<PostgresStore>(url, mode, stop);
}

}  // namespace tuva::records
