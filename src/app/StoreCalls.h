// Calls to the records database off the GUI thread. Opening a PostgreSQL store waits for the
// server, and a server that does not answer would freeze the window: each call runs on a thread
// of its own, and its answer comes back as a function run on the GUI thread. A call that has not
// answered within the time limit is given up: the window says so, and the answer, should it come
// later, is dropped.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace tuva::app {

class StoreCalls : public QObject {
  Q_OBJECT
 public:
  using Answer = std::function<void()>;  // run on the GUI thread

  explicit StoreCalls(QObject* parent);
  ~StoreCalls() override;  // answers still to come are dropped

  // Runs `call` on a thread of its own and then its answer here; `timedOut` instead when no
  // answer came within the limit. A call made while another is waiting gives the other up.
  void Run(std::function<Answer()> call, std::function<void()> timedOut);
  // Gives up the waiting call, if any, without a word.
  void Abandon();
  bool waiting() const { return waiting_ != 0; }

  void SetTimeLimit(std::chrono::milliseconds limit) { limit_ = limit; }
  std::chrono::milliseconds timeLimit() const { return limit_; }

 private:
  struct Mailbox;
  void Deliver(std::uint64_t ticket, const Answer& answer);

  std::shared_ptr<Mailbox> mailbox_;
  QTimer timer_;
  std::uint64_t issued_ = 0;
  std::uint64_t waiting_ = 0;  // the ticket of the call still wanted; 0 for none
  std::function<void()> timedOut_;
  std::chrono::milliseconds limit_{10000};
};

}  // namespace tuva::app
