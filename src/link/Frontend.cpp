#include "link/Frontend.h"

namespace tuva {

const char* StatusText(Status status) {
  switch (status) {
    case Status::Ready:
      return " Ready";
    case Status::Read:
      return " Read ......";
    case Status::Write:
      return " Write ......";
    case Status::Erase:
      return " Erase ......";
    case Status::Verify:
      return " Verify ......";
    case Status::Waiting:
      return " Waiting ......";
    case Status::Error:
      return " Error";
    case Status::ReadyDots:
      return " Ready ......";
  }
  return "";
}

bool Transferring(Status status) {
  return status != Status::Ready && status != Status::Error && status != Status::ReadyDots;
}

void ProgressMeter::Begin(Phase phase, long total) {
  value_.phase = phase;
  value_.total = total;
  frontend_.ShowProgress(value_);
  Restart();
}

void ProgressMeter::Step(long count) {
  value_.done += count;
  moved_ += count;
  frontend_.ShowProgress(value_);
}

void ProgressMeter::Restart() {
  value_.done = 0;
  frontend_.ShowProgress(value_);
}

}  // namespace tuva
