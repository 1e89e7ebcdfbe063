// The records in a PostgreSQL database, for several programming stations that share one pool of
// capcodes. A reservation inserts the attempt and its capcodes in one transaction; when another
// station commits the same capcode first, the partial unique index refuses the insert
// (unique_violation), the transaction is rolled back and the reservation starts over with what
// is now held.
#include <libpq-fe.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

constexpr const char* kCreateVersion =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";

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

// Serialises the creation of the schema between stations that open a new database at once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7365101)";

// A reservation that lost every race this often gives up.
constexpr int kReserveTries = 200;

// A statement the server refused, with its SQLSTATE.
struct Refused {
  std::string state;
  std::string reason;
};

bool Retryable(const Refused& refused) {
  return refused.state == "23505" || refused.state == "40001" || refused.state == "40P01";
}

std::string Number(std::int64_t value) {
  return std::to_string(value);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The URL as it may be shown: a password in it is replaced by "***".
std::string Shown(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t at = url.find('@');
  if (scheme == std::string::npos || at == std::string::npos) return url;
  const std::size_t colon = url.find(':', scheme + 3);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

using Rows = std::unique_ptr<PGresult, decltype(&PQclear)>;

class PostgresStore : public RecordStore {
 public:
  explicit PostgresStore(const std::string& url) : name_(Shown(url)) {
    connection_.reset(PQconnectdb(url.c_str()));
    if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK) {
      throw RecordsError("records database " + name_ + ": cannot connect (" + Reason() + ")");
    }
    // CREATE ... IF NOT EXISTS notices are not for the technician's terminal.
    PQsetNoticeProcessor(
        connection_.get(), [](void*, const char*) {}, nullptr);
    Guarded("cannot set up its tables", [&] { EnsureSchema(); });
  }

  Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) override {
    CheckSlots(slots);
    std::lock_guard lock(mutex_);
    const Attempt opened = Opened(start);
    for (int tries = 1;; ++tries) {
      try {
        return TryReserve(opened, slots);
      } catch (const Refused& refused) {
        Rollback();
        if (!Retryable(refused) || tries == kReserveTries) {
          throw RecordsError(Message("cannot reserve capcodes", refused.reason));
        }
      } catch (...) {
        Rollback();
        throw;
      }
    }
  }

  void MarkErased(std::int64_t id) override {
    std::lock_guard lock(mutex_);
    Guarded("cannot record the erase", [&] {
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
    Guarded("cannot record the result", [&] {
      Run("BEGIN", {});
      const Rows open =
          Run("SELECT erased FROM attempts WHERE id = $1 AND result IN ('reserved', 'erased')"
              " FOR UPDATE",
              {Number(attempt.id)});
      if (PQntuples(open.get()) == 0) throw RecordsError(NotOpen(attempt.id));
      const bool erased = Value(open, 0, 0) == "t" || attempt.erased;
      Run("UPDATE attempts SET firmware = $1, capcodes = $2, frequency = $3, sha256 = $4,"
          " result = $5, erased = $6, message = $7, seconds = $8 WHERE id = $9",
          {attempt.firmware, JoinCapcodes(attempt.capcodes), attempt.frequency, attempt.sha256,
           ResultName(attempt.result), erased ? "true" : "false", attempt.message,
           Number(attempt.seconds), Number(attempt.id)});
      if (attempt.result == Result::Failed && !erased) {
        Run("UPDATE taken SET held = FALSE WHERE attempt_id = $1", {Number(attempt.id)});
      }
      Run("COMMIT", {});
    });
  }

  std::vector<Attempt> List(const ListFilter& filter) override {
    std::lock_guard lock(mutex_);
    std::vector<Attempt> attempts;
    Guarded("cannot read the records", [&] {
      Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {});
      const Rows rows = Run(
          "SELECT id, time, station, port, firmware, capcodes, frequency, sha256, result, erased,"
          " message, seconds FROM attempts ORDER BY id",
          {});
      std::map<std::int64_t, std::size_t> index;
      for (int row = 0; row < PQntuples(rows.get()); ++row) {
        Attempt a;
        a.id = std::stoll(Value(rows, row, 0));
        a.time = Value(rows, row, 1);
        a.station = Value(rows, row, 2);
        a.port = Value(rows, row, 3);
        a.firmware = Value(rows, row, 4);
        a.capcodes = SplitCapcodes(Value(rows, row, 5));
        a.frequency = Value(rows, row, 6);
        a.sha256 = Value(rows, row, 7);
        a.result = ParseResult(Value(rows, row, 8));
        a.erased = Value(rows, row, 9) == "t";
        a.message = Value(rows, row, 10);
        a.seconds = std::stod(Value(rows, row, 11));
        index[a.id] = attempts.size();
        attempts.push_back(std::move(a));
      }
      const Rows taken =
          Run("SELECT attempt_id, slot, capcode, held FROM taken ORDER BY attempt_id, slot", {});
      for (int row = 0; row < PQntuples(taken.get()); ++row) {
        const auto found = index.find(std::stoll(Value(taken, row, 0)));
        if (found == index.end()) continue;
        attempts[found->second].taken.push_back(
            {std::stoi(Value(taken, row, 1)),
             static_cast<std::uint32_t>(std::stoull(Value(taken, row, 2))),
             Value(taken, row, 3) == "t"});
      }
      Run("COMMIT", {});
    });
    std::erase_if(attempts, [&](const Attempt& a) { return !Matches(a, filter); });
    return attempts;
  }

  bool Release(int slot, std::uint32_t capcode) override {
    std::lock_guard lock(mutex_);
    bool released = false;
    Guarded("cannot release the capcode", [&] {
      Run("BEGIN", {});
      const Rows holder =
          Run("SELECT a.id, a.result FROM taken t JOIN attempts a ON a.id = t.attempt_id"
              " WHERE t.held AND t.slot = $1 AND t.capcode = $2 FOR UPDATE",
              {Number(std::int64_t{slot}), Number(std::int64_t{capcode})});
      if (PQntuples(holder.get()) == 0 || ParseResult(Value(holder, 0, 1)) == Result::Programmed) {
        Run("ROLLBACK", {});
        return;
      }
      const std::string id = Value(holder, 0, 0);
      Run("UPDATE taken SET held = FALSE WHERE attempt_id = $1 AND slot = $2",
          {id, Number(std::int64_t{slot})});
      Run("UPDATE attempts SET result = 'failed', message = $1 WHERE id = $2"
          " AND result IN ('reserved', 'erased')",
          {kReleasedUnfinished, id});
      Run("COMMIT", {});
      released = true;
    });
    return released;
  }

 private:
  Attempt TryReserve(Attempt attempt, const std::vector<CountingSlot>& slots) {
    Run("BEGIN", {});
    const Rows inserted = Run(
        "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256,"
        " result, message, seconds) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10) RETURNING id",
        {attempt.time, attempt.station, attempt.port, attempt.firmware,
         JoinCapcodes(attempt.capcodes), attempt.frequency, attempt.sha256,
         ResultName(Result::Reserved), attempt.message, Number(attempt.seconds)});
    attempt.id = std::stoll(Value(inserted, 0, 0));
    for (const CountingSlot& slot : slots) {
      // The rows this transaction inserted for earlier slots are among the held ones.
      const Rows held =
          Run("SELECT capcode FROM taken WHERE held AND capcode BETWEEN $1 AND $2 ORDER BY capcode",
              {Number(std::int64_t{slot.first}), Number(std::int64_t{slot.last})});
      std::vector<std::uint32_t> values;
      for (int row = 0; row < PQntuples(held.get()); ++row) {
        values.push_back(static_cast<std::uint32_t>(std::stoull(Value(held, row, 0))));
      }
      bool found = false;
      const std::uint32_t capcode = NextCandidate(slot, values, found);
      if (!found) throw RecordsError(UsedUpMessage(slot));
      Run("INSERT INTO taken (attempt_id, slot, capcode, held) VALUES ($1, $2, $3, TRUE)",
          {Number(attempt.id), Number(std::int64_t{slot.slot}), Number(std::int64_t{capcode})});
      attempt.taken.push_back({slot.slot, capcode, true});
    }
    Run("COMMIT", {});
    return attempt;
  }

  void EnsureSchema() {
    Run("BEGIN", {});
    Run(kSchemaLock, {});
    Run(kCreateVersion, {});
    const Rows version = Run("SELECT version FROM schema_version", {});
    if (PQntuples(version.get()) > 0) {
      const std::int64_t found = std::stoll(Value(version, 0, 0));
      Run("ROLLBACK", {});
      if (found != kSchemaVersion) throw RecordsError(NewerSchema(name_, found));
      return;
    }
    for (const char* sql : kCreateTables) Run(sql, {});
    Run("INSERT INTO schema_version (version) VALUES ($1)", {Number(std::int64_t{kSchemaVersion})});
    Run("COMMIT", {});
  }

  // Runs `body`; a statement the server refuses becomes a RecordsError that names the database
  // and what was being done, and an open transaction is rolled back.
  template <typename Body>
  void Guarded(const char* what, Body body) {
    try {
      body();
    } catch (const Refused& refused) {
      Rollback();
      throw RecordsError(Message(what, refused.reason));
    } catch (...) {
      Rollback();
      throw;
    }
  }

  Rows Run(const char* sql, const std::vector<std::string>& parameters) {
    std::vector<const char*> values;
    for (const std::string& parameter : parameters) values.push_back(parameter.c_str());
    Rows rows(PQexecParams(connection_.get(), sql, static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, 0),
              &PQclear);
    const ExecStatusType status = rows ? PQresultStatus(rows.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const char* state = rows ? PQresultErrorField(rows.get(), PG_DIAG_SQLSTATE) : nullptr;
      throw Refused{state ? state : "", Reason()};
    }
    return rows;
  }

  static std::string Value(const Rows& rows, int row, int column) {
    return PQgetvalue(rows.get(), row, column);
  }

  void Rollback() {
    if (PQtransactionStatus(connection_.get()) != PQTRANS_IDLE) {
      PQclear(PQexec(connection_.get(), "ROLLBACK"));
    }
  }

  std::string Reason() const {
    std::string reason = connection_ ? PQerrorMessage(connection_.get()) : "out of memory";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return reason;
  }

  std::string Message(const char* what, const std::string& reason) const {
    std::string message = "records database " + name_ + ": ";
    message += what;
    message += " (" + reason + ")";
    return message;
  }

  std::string name_;
  std::unique_ptr<PGconn, decltype(&PQfinish)> connection_{nullptr, &PQfinish};
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url) {
  return std::make_unique<PostgresStore>(url);
}

}  // namespace tuva::records
