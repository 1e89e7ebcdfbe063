// Which board is on a jig: told look by look, from what the probe answered and when.
//
// A board answering with the identity of the one dealt with last is that board; another identity
// is a new board, however fast the swap. The board dealt with counts as gone only once the probe
// has gone unanswered three looks in a row and `goneAfter` has passed since the first of them:
// a spring contact that misses a probe, or a computer so busy that one look comes long after the
// other, never gets a board written twice. A board that acknowledges the probe but not the reads
// after it is taken on its third such answer (the port then says what fails). A board that
// arrives holding a capcode the records hold for a programmed board (a finished board put back)
// is refused, and stays the jig's board until it is gone.
//
// The probe and the clock are the caller's: the series gives it LookAtBoard and the steady clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "series/JigBoard.h"

namespace tuva::series {

enum class JigState {
  Empty,  // no board to deal with (none there, or one that so far answers only the probe)
  Same,   // the board dealt with last is there, or has not yet missed enough to be gone
  Gone,   // the board dealt with last has just counted as gone
  New,    // a board to program
  AlreadyProgrammed,  // a board that holds a programmed board's capcode: refused
};

struct Sighting {
  JigState state = JigState::Empty;
  std::uint32_t capcode = 0;  // AlreadyProgrammed: the capcode the records hold for it
};

class Presence {
 public:
  using Clock = std::chrono::steady_clock;
  // The capcode an arriving board holds that the records hold for a programmed board; nullopt
  // for a board to program.
  using ProgrammedCapcode = std::function<std::optional<std::uint32_t>(const BoardLook&)>;

  Presence(std::chrono::milliseconds goneAfter, ProgrammedCapcode programmed);

  // One look at the jig, taken at `now`.
  Sighting Look(const BoardLook& look, Clock::time_point now);
  // The port has no device node: its adapter is unplugged, and no board is on it.
  Sighting NoDevice();
  // The board found is left holding `identity` (the image written, or what it held).
  void DealtWith(BoardIdentity identity);

 private:
  Sighting Arrived(const BoardLook& look);

  std::chrono::milliseconds goneAfter_;
  ProgrammedCapcode programmed_;
  std::optional<BoardIdentity> onJig_;
  int unanswered_ = 0;          // looks in a row without an answer
  Clock::time_point missedAt_;  // the first of them
  int probeOnly_ = 0;           // answers of the probe alone since the last full answer
};

}  // namespace tuva::series
