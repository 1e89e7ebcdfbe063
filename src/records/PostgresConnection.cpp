// The non-blocking connection to a PostgreSQL server: see PostgresConnection.h.
#include "records/PostgresConnection.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "records/PostgresUrl.h"
#include "records/RecordStore.h"

namespace tuva::records {
namespace {
// The server-side limits set when neither the URL nor the server chose any.
constexpr const char* kLockTimeout = "3s";
constexpr const char* kStatementTimeout = "15s";

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

// Connection exceptions (class 08) and a server shutting down or restarting.
bool LostState(const std::string& state) {
  return state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03";
}

using Clock = std::chrono::steady_clock;

}  // namespace

bool Retryable(const Refused& refused) {
  return refused.state == "23505" || refused.state == "40001" || refused.state == "40P01";
}

int PostgresRow::Find(std::string_view name) const {
  return PQfnumber(rows_, std::string(name).c_str());
}

std::int64_t PostgresRow::Int(int column) const {
  const std::string_view text = Text(column);
  std::int64_t number = 0;
  const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || last != text.data() + text.size() || text.empty()) {
    throw RecordsError("the database sent \"" + std::string(text) + "\" for a number");
  }
  return number;
}

double PostgresRow::Real(int column) const {
  return std::stod(std::string(Text(column)));
}

PostgresConnection::PostgresConnection(std::string url, std::string name, std::stop_token stop)
    : url_(std::move(url)),
      name_(std::move(name)),
      stop_(std::move(stop)),
      noteStop_(stop_, [this] { StoppedAt(); }),
      statementLimit_(*SettingTime(kStatementTimeout)) {}

// Makes a new connection and returns nothing, or why none was made. libpq leaves the connect
// timeout to a caller that drives the connection itself: each host (and address) tried gets
// that long, as libpq would give it. Throws StoppedWaiting once the caller is stopping.
std::optional<std::string> PostgresConnection::Open() {
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
      return UnansweredWithin(*timeout);
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

// Waits until the socket is ready for `events`, in short slices, until `deadline`. A stop ends
// the wait at once, or with `grace` once kStopGrace has passed since the stop or the sending of
// the statement, whichever came later.
PostgresConnection::Wait PostgresConnection::Await(short events, Clock::time_point deadline,
                                                   bool grace) {
  for (;;) {
    const auto now = Clock::now();
    if (Stopping() && (!grace || now >= std::max(StoppedAt(), sent_) + kStopGrace)) {
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

// When the stop came: noted by the stop's own callback, or now by a wait that sees the stop
// before that callback has run.
Clock::time_point PostgresConnection::StoppedAt() {
  Clock::rep none = 0;
  stopAt_.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
  return Clock::time_point(Clock::duration(stopAt_.load()));
}

// Waits `pause`, or less when the caller's stop comes first.
void PostgresConnection::Pause(std::chrono::milliseconds pause) {
  std::mutex mutex;
  std::condition_variable_any stopped;
  std::unique_lock lock(mutex);
  stopped.wait_for(lock, stop_, pause, [] { return false; });
}

// The lock and statement timeouts, unless the URL (options=-c ...) or the server set them.
void PostgresConnection::SetTimeouts() {
  const Rows now =
      Run("SELECT current_setting('lock_timeout'), current_setting('statement_timeout')", {});
  if (std::string(PQgetvalue(now.get(), 0, 0)) == "0")
    Run(("SET lock_timeout = '" + std::string(kLockTimeout) + "'").c_str(), {});
  std::string statement = PQgetvalue(now.get(), 0, 1);
  if (statement == "0") {
    Run(("SET statement_timeout = '" + std::string(kStatementTimeout) + "'").c_str(), {});
    statement = kStatementTimeout;
  }
  statementLimit_ = SettingTime(statement).value_or(*SettingTime(kStatementTimeout));
}

// Why a call ended on a server that did not answer within `limit`.
std::string PostgresConnection::UnansweredWithin(std::chrono::milliseconds limit) const {
  return "the PostgreSQL server at " + name_ + " did not answer within " + Took(limit);
}

void PostgresConnection::Reconnect() {
  if (Stopping()) throw StoppedWaiting{"stopping; the lost connection is not made again"};
  if (const auto failure = Open()) throw Refused{"08006", *failure, true};
}

Rows PostgresConnection::Run(const char* sql, const std::vector<std::string>& parameters) {
  Send(sql, parameters);
  return Collect();
}

// Sends a statement without waiting for its answer (Collect reads it).
void PostgresConnection::Send(const char* sql, const std::vector<std::string>& parameters) {
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
void PostgresConnection::Flush() {
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
void PostgresConnection::AwaitServer(short events, Clock::time_point deadline) {
  const Wait wait = Await(events, deadline, true);
  if (wait == Wait::Stopped) {
    connection_.reset();
    throw StoppedWaiting{"stopping; the database did not answer in time"};
  }
  if (wait == Wait::TimedOut) {
    connection_.reset();
    unanswered_ = true;
    throw Refused{"08006", UnansweredWithin(statementLimit_), true};
  }
}

// The answer of the statement sent: its last result, or Refused for the first failed one.
Rows PostgresConnection::Collect() {
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
Rows PostgresConnection::NextResult() {
  PGconn* connection = connection_.get();
  const auto deadline = Clock::now() + statementLimit_ + kAnswerMargin;
  while (PQisBusy(connection)) {
    AwaitServer(POLLIN, deadline);
    if (!PQconsumeInput(connection)) break;  // broken: PQgetResult says why
  }
  return Rows(PQgetResult(connection), &PQclear);
}

Refused PostgresConnection::Failure(const PGresult* result) const {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  Refused refused{state ? state : "", Reason(), false};
  refused.lost = PQstatus(connection_.get()) != CONNECTION_OK || LostState(refused.state);
  return refused;
}

// Ends the open transaction. A connection that cannot (or, when stopping, need not) wait for
// that is dropped instead: the server rolls back a lost connection's transaction itself.
void PostgresConnection::Rollback() {
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
std::string PostgresConnection::Reason() const {
  return OneLine(connection_ ? PQerrorMessage(connection_.get()) : "no connection", url_);
}

std::int64_t PostgresConnection::Execute(const std::string& sql,
                                         const std::vector<SqlValue>& parameters,
                                         const RowReader& row) {
  std::vector<std::string> texts;
  for (const SqlValue& parameter : parameters) {
    if (const auto* number = std::get_if<std::int64_t>(&parameter)) {
      texts.push_back(std::to_string(*number));
    } else if (const auto* real = std::get_if<double>(&parameter)) {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", *real);
      texts.emplace_back(text);
    } else {
      texts.push_back(std::get<std::string>(parameter));
    }
  }
  const Rows rows = Run(sql.c_str(), texts);
  if (row) {
    PostgresRow reader(rows.get(), 0);
    for (int at = 0; at < PQntuples(rows.get()); ++at) {
      reader.At(at);
      row(reader);
    }
  }
  const char* changed = PQcmdTuples(rows.get());
  return *changed ? std::stoll(changed) : 0;
}

}  // namespace tuva::records
