// SIGINT (Ctrl+C), SIGTERM (a shutdown) and SIGHUP (a closed terminal) as a stop request: for as
// long as a SignalStop lives they are taken by one thread of its own (sigwait), never by a handler
// inside another thread's call, and the ports' threads never see them. Each signal requests the
// stop and is then handed to the owner's function, on the signal thread: the series (whose run and
// records have the stop) says it is stopping, a device command puts the terminal and the serial
// line right and ends as the signal would.
#pragma once

#include <signal.h>

#include <functional>
#include <stop_token>
#include <thread>

namespace tuva::cli {

class SignalStop {
 public:
  using OnSignal = std::function<void(int signal)>;

  // Blocks the signals in the calling thread (and so in every thread it starts from now on); make
  // it before the threads that must not see them.
  explicit SignalStop(OnSignal onSignal);
  ~SignalStop();  // the signals are the program's again, as before
  SignalStop(const SignalStop&) = delete;
  SignalStop& operator=(const SignalStop&) = delete;

  // Requested by the first signal.
  const std::stop_source& stop() const { return stop_; }

  // Ends the program as `signal` does when nobody takes it. Called on the signal thread.
  [[noreturn]] static void EndAs(int signal);

 private:
  sigset_t signals_{};
  sigset_t previous_{};
  OnSignal onSignal_;
  std::stop_source stop_;
  std::thread waiter_;  // last: started once the rest is made
};

}  // namespace tuva::cli
