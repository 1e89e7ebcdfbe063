#include "cli/Signals.h"

#include <pthread.h>

#include <cstdlib>

namespace tuva::cli {
namespace {

// Sent to the signal thread by its owner to end it; taken with the others, so it never reaches
// the program.
constexpr int kEnd = SIGUSR1;

}  // namespace

SignalStop::SignalStop(OnSignal onSignal) : onSignal_(std::move(onSignal)) {
  sigemptyset(&signals_);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, kEnd}) sigaddset(&signals_, signal);
  pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
  waiter_ = std::thread([this] {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals_, &signal) != 0 || signal == kEnd) return;
      stop_.request_stop();
      if (onSignal_) onSignal_(signal);
    }
  });
}

SignalStop::~SignalStop() {
  pthread_kill(waiter_.native_handle(), kEnd);
  waiter_.join();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void SignalStop::EndAs(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  std::_Exit(128 + signal);  // not reached: the signal's default action ends the program
}

}  // namespace tuva::cli
