#include "app/StoreCalls.h"

#include <QMetaObject>
#include <mutex>
#include <thread>

namespace tuva::app {

// What a call's thread posts its answer to: the calls object while it lives. The threads are not
// joined (a server that never answers would hold the window's closing), so they reach the object
// only through this, under its lock.
struct StoreCalls::Mailbox {
  std::mutex mutex;
  StoreCalls* receiver = nullptr;
};

StoreCalls::StoreCalls(QObject* parent) : QObject(parent), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->receiver = this;
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    waiting_ = 0;
    if (timedOut_) timedOut_();
  });
}

StoreCalls::~StoreCalls() {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->receiver = nullptr;
}

void StoreCalls::Run(std::function<Answer()> call, std::function<void()> timedOut) {
  const std::uint64_t ticket = ++issued_;
  waiting_ = ticket;
  timedOut_ = std::move(timedOut);
  timer_.start(limit_);
  std::thread([mailbox = mailbox_, call = std::move(call), ticket] {
    const Answer answer = call();
    std::lock_guard lock(mailbox->mutex);
    if (StoreCalls* receiver = mailbox->receiver) {
      QMetaObject::invokeMethod(
          receiver, [receiver, ticket, answer] { receiver->Deliver(ticket, answer); },
          Qt::QueuedConnection);
    }
  }).detach();
}

void StoreCalls::Abandon() {
  waiting_ = 0;
  timer_.stop();
}

void StoreCalls::Deliver(std::uint64_t ticket, const Answer& answer) {
  if (ticket != waiting_) return;  // given up
  waiting_ = 0;
  timer_.stop();
  if (answer) answer();
}

}  // namespace tuva::app
