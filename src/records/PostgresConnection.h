// One connection to a PostgreSQL server that never blocks: it is made, its statements written
// (in libpq's non-blocking mode) and its answers read on the socket in short slices, so a caller
// that is stopping (Ctrl+C) is never held up by a server that does not answer. Every wait has a
// deadline of our own too: a server that is frozen (stopped, or its machine hung) cannot keep its
// own timeouts, so an answer that does not come within the statement timeout and a margin drops the
// connection, which the store then makes again as a lost one.
#pragma once

#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "records/SqlSession.h"

namespace tuva::records {

// A statement the server refused (or a connection that broke), with its SQLSTATE.
struct Refused {
  std::string state;
  std::string reason;
  bool lost = false;  // the connection was lost: the call may be run again
};

// A unique violation, a serialisation failure or a deadlock: the transaction may be run again.
bool Retryable(const Refused& refused);

// A call given up because the caller is stopping.
struct StoppedWaiting {
  std::string reason;
};

using Rows = std::unique_ptr<PGresult, decltype(&PQclear)>;

// A row of an answer as the server sent it (text).
class PostgresRow : public SqlRow {
 public:
  PostgresRow(const PGresult* rows, int row) : rows_(rows), row_(row) {}
  void At(int row) { row_ = row; }
  int Find(std::string_view name) const override;
  bool Null(int column) const override { return PQgetisnull(rows_, row_, column); }
  std::string_view Text(int column) const override {
    return {PQgetvalue(rows_, row_, column),
            static_cast<std::size_t>(PQgetlength(rows_, row_, column))};
  }
  std::int64_t Int(int column) const override;
  double Real(int column) const override;
  bool Bool(int column) const override {
    const std::string_view text = Text(column);
    return text == "t" || text == "1";
  }

 private:
  const PGresult* rows_;
  int row_;
};

// The connection is the store's SQL session too: each parameter goes as text.
class PostgresConnection : public SqlSession {
 public:
  // `name` is the server as messages show it; `stop` is the caller's (see OpenRecordStore): once
  // it is requested a lost connection is not made again, and an answer gets the stop's grace.
  PostgresConnection(std::string url, std::string name, std::stop_token stop);

  // Makes a new connection and returns nothing, or why none was made. libpq leaves the connect
  // timeout to a caller that drives the connection itself: each host (and address) tried gets
  // that long, as libpq would give it. Throws StoppedWaiting once the caller is stopping.
  std::optional<std::string> Open();
  // A lost connection made again; throws StoppedWaiting, or Refused (lost) when it cannot be.
  void Reconnect();
  bool Connected() const { return PQstatus(connection_.get()) == CONNECTION_OK; }

  void Begin() override { Run("BEGIN", {}); }
  void BeginRead() override { Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}); }
  void Commit() override { Run("COMMIT", {}); }
  std::int64_t Execute(const std::string& sql, const std::vector<SqlValue>& parameters,
                       const RowReader& row = nullptr) override;

  // Sends a statement and reads its answer.
  Rows Run(const char* sql, const std::vector<std::string>& parameters);
  // Sends a statement without waiting for its answer (Collect reads it).
  void Send(const char* sql, const std::vector<std::string>& parameters);
  // The answer of the statement sent: its last result, or Refused for the first failed one.
  Rows Collect();
  // The next result of the statement sent (null after the last one), its answer waited for on
  // the socket. Once the caller is stopping, an answer that does not come within the grace drops
  // the connection: the server rolls back the transaction left open. One that does not come
  // within the statement timeout and its margin drops it too, as lost: the server is frozen.
  Rows NextResult();
  // Takes in what the server has sent so far, so that it need not wait for room on the socket.
  void TakeIn() { PQconsumeInput(connection_.get()); }

  // Ends the open transaction. A connection that cannot (or, when stopping, need not) wait for
  // that is dropped instead: the server rolls back a lost connection's transaction itself.
  void Rollback() override;

  // The caller's stop has been requested.
  bool Stopping() const { return stop_.stop_requested(); }
  // Waits `pause`, or less when the caller's stop comes first.
  void Pause(std::chrono::milliseconds pause);

  // Whether a wait since the last ResetUnanswered met a server that did not answer.
  bool Unanswered() const { return unanswered_; }
  void ResetUnanswered() { unanswered_ = false; }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Wait { Ready, TimedOut, Stopped };

  Wait Await(short events, Clock::time_point deadline, bool grace);
  void AwaitServer(short events, Clock::time_point deadline);
  void Flush();
  void SetTimeouts();
  Clock::time_point StoppedAt();
  std::string UnansweredWithin(std::chrono::milliseconds limit) const;
  Refused Failure(const PGresult* result) const;
  // libpq's message, on one line and without the password.
  std::string Reason() const;

  std::string url_;
  std::string name_;
  std::unique_ptr<PGconn, decltype(&PQfinish)> connection_{nullptr, &PQfinish};
  std::stop_token stop_;
  std::atomic<Clock::rep> stopAt_{0};  // when the stop came (the grace counts from it)
  std::stop_callback<std::function<void()>> noteStop_;  // notes stopAt_
  Clock::time_point sent_;                              // when the statement now running was sent
  // The statement timeout the connection has, which the client keeps too.
  std::chrono::milliseconds statementLimit_;
  bool unanswered_ = false;
};

}  // namespace tuva::records
