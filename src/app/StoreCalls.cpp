#include "app/StoreCalls.h"

#include <QMetaObject>

namespace tuva::app {

StoreCalls::StoreCalls(QObject* parent) : QObject(parent), worker_([this] { Work(); }) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    Abandon();
    if (timedOut_) timedOut_();
  });
}

StoreCalls::~StoreCalls() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    queue_.clear();
    givenUp_ = true;
    running_.request_stop();
  }
  wake_.notify_all();
  worker_.join();
}

void StoreCalls::Run(Call call, std::function<void()> timedOut, std::stop_source stop) {
  Abandon();
  const std::uint64_t ticket = ++issued_;
  waiting_ = ticket;
  timedOut_ = std::move(timedOut);
  timer_.start(limit_);
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({ticket, std::move(call), std::move(stop)});
  }
  wake_.notify_all();
}

void StoreCalls::Abandon() {
  waiting_ = 0;
  timer_.stop();
  std::lock_guard lock(mutex_);
  queue_.clear();
  givenUp_ = true;
  running_.request_stop();
}

void StoreCalls::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (closing_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    running_ = job.stop;
    givenUp_ = false;
    lock.unlock();
    Answer answer = job.call(job.stop.get_token());
    lock.lock();
    // Nothing gives a finished call up any more: a store it opened stays as it is.
    running_ = std::stop_source(std::nostopstate);
    // The object waits for the worker before it goes, so it is still here; an answer given up
    // meanwhile is dropped here, and one given up after posting by the ticket.
    if (!givenUp_) {
      QMetaObject::invokeMethod(
          this,
          [this, ticket = job.ticket, answer = std::move(answer)] { Deliver(ticket, answer); },
          Qt::QueuedConnection);
    }
  }
}

void StoreCalls::Deliver(std::uint64_t ticket, const Answer& answer) {
  if (ticket != waiting_) return;  // given up
  waiting_ = 0;
  timer_.stop();
  if (answer) answer();
}

}  // namespace tuva::app
