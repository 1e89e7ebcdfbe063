#include "series/Presence.h"

#include <utility>

namespace tuva::series {
namespace {

// A board that acknowledges the probe but not what follows is looked at this often before it is
// taken for a board and written (its Write then says what fails).
constexpr int kProbeOnlyLooks = 3;
// A board is gone only after this many unanswered probes in a row (and `goneAfter`), however
// slowly a busy computer goes round.
constexpr int kGoneLooks = 3;

}  // namespace

Presence::Presence(std::chrono::milliseconds goneAfter, ProgrammedCapcode programmed)
    : goneAfter_(goneAfter), programmed_(std::move(programmed)) {}

Sighting Presence::Look(const BoardLook& look, Clock::time_point now) {
  if (look.answer == BoardLook::Answer::None) {
    if (unanswered_++ == 0) missedAt_ = now;
    if (!onJig_) return {JigState::Empty};
    if (unanswered_ < kGoneLooks || now - missedAt_ < goneAfter_) return {JigState::Same};
    onJig_.reset();
    return {JigState::Gone};
  }
  unanswered_ = 0;
  const bool full = look.answer == BoardLook::Answer::Full;
  probeOnly_ = full ? 0 : probeOnly_ + 1;
  if (onJig_) {
    return full && look.identity != *onJig_ ? Arrived(look) : Sighting{JigState::Same};
  }
  return full || probeOnly_ >= kProbeOnlyLooks ? Arrived(look) : Sighting{JigState::Empty};
}

Sighting Presence::NoDevice() {
  if (!onJig_) return {JigState::Empty};
  onJig_.reset();
  return {JigState::Gone};
}

void Presence::DealtWith(BoardIdentity identity) {
  onJig_ = std::move(identity);
}

Sighting Presence::Arrived(const BoardLook& look) {
  // The board found stays the jig's board, whatever is done with it, until it is gone.
  onJig_ = look.identity;
  probeOnly_ = 0;
  if (programmed_) {
    if (const auto capcode = programmed_(look)) return {JigState::AlreadyProgrammed, *capcode};
  }
  return {JigState::New};
}

}  // namespace tuva::series
