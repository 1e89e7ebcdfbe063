// Calls to the records database off the GUI thread. Opening a PostgreSQL store waits for the
// server, and a server that does not answer would freeze the window: the calls run one after
// another on one worker thread of the calls object's own, and each answer comes back as a function
// run on the GUI thread. A call that has not answered within the time limit is given up: the
// window says so, the call is told (its stop token), and its answer, should it come later, is
// dropped. A call given up writes nothing to the database from then on: it opens its store with
// series::OpenStoppable, whose waits then end at once, and asks its token before each step that
// writes.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "records/RecordStore.h"

namespace tuva::app {

class StoreCalls : public QObject {
  Q_OBJECT
 public:
  using Answer = std::function<void()>;  // run on the GUI thread
  using Call = std::function<Answer(std::stop_token abandoned)>;

  explicit StoreCalls(QObject* parent);
  // Gives up every call still to answer and waits for the worker: a store given up stops
  // waiting at once (a PostgreSQL statement running then gets its second of grace).
  ~StoreCalls() override;
  StoreCalls(const StoreCalls&) = delete;
  StoreCalls& operator=(const StoreCalls&) = delete;

  // Runs `call` on the worker once the calls before it are done, and then its answer here;
  // `timedOut` instead when no answer came within the limit. A call made while another is
  // waiting gives the other up. The call's token is `stop`'s: giving the call up requests it, and
  // so does its owner when the call's store (opened with the token) is to stop waiting for good.
  void Run(Call call, std::function<void()> timedOut, std::stop_source stop = {});
  // Gives up the waiting call, if any, without a word.
  void Abandon();
  // An answer is still wanted.
  bool waiting() const { return waiting_ != 0; }

  void SetTimeLimit(std::chrono::milliseconds limit) { limit_ = limit; }
  // What the window says of a call to the records database `where` that was given up.
  QString NoAnswerText(const QString& where) const {
    return QStringLiteral("The records database did not answer within %1 s: %2")
        .arg(limit_.count() / 1000.0)
        .arg(where);
  }

 private:
  struct Job {
    std::uint64_t ticket;
    Call call;
    std::stop_source stop;
  };
  void Work();
  void Deliver(std::uint64_t ticket, const Answer& answer);

  QTimer timer_;
  std::uint64_t issued_ = 0;
  std::uint64_t waiting_ = 0;  // the ticket of the call still wanted; 0 for none
  std::function<void()> timedOut_;
  std::chrono::milliseconds limit_{10000};

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  std::stop_source running_{std::nostopstate};  // of the call the worker runs, while it runs
  bool givenUp_ = false;                        // the call the worker runs: its answer is dropped
  bool closing_ = false;
  std::thread worker_;  // last: started once the rest is made
};

}  // namespace tuva::app
