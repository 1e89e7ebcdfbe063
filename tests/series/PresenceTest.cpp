// Which board is on a jig, driven look by look with scripted probe answers and a clock of the
// test's own: a board that stays, one that is swapped, one that is gone, one put back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "series/Presence.h"

namespace tuva::series {

// A failing row names the states it compared.
void PrintTo(JigState state, std::ostream* out) {
  static const char* const kNames[] = {"Empty", "Same", "Gone", "New", "AlreadyProgrammed"};
  *out << kNames[static_cast<int>(state)];
}

}  // namespace tuva::series

namespace tuva::testing {
namespace {

using series::BoardLook;
using series::JigState;
using series::Presence;

// What the probe finds on one look.
enum class Probe {
  X,         // board X answers everything
  Y,         // another board
  Acked,     // a board acknowledges the probe, nothing after it
  Miss,      // no answer
  NoDevice,  // the adapter's device node is missing
};

struct Step {
  int ms;  // when the look is taken
  Probe probe;
  JigState expected;
};

struct Case {
  const char* name;
  bool xOnJig;       // board X was dealt with at 0 ms and left on the jig
  bool xProgrammed;  // the records hold X's capcode for a programmed board
  std::vector<Step> steps;
};

// The rows' words: what the probe finds, what the jig is taken to hold.
constexpr auto S = JigState::Same;
constexpr auto E = JigState::Empty;
constexpr auto G = JigState::Gone;
constexpr auto N = JigState::New;
constexpr auto P = JigState::AlreadyProgrammed;
constexpr auto X = Probe::X;
constexpr auto Y = Probe::Y;
constexpr auto A = Probe::Acked;
constexpr auto M = Probe::Miss;
constexpr auto D = Probe::NoDevice;

const series::BoardIdentity kX = {1, 2, 3};
const series::BoardIdentity kY = {4, 5, 6};
constexpr std::uint32_t kXCapcode = 1500000;

// Times are milliseconds of the test's clock. The series looks every half second; a busy computer
// looks later, and a row looks sooner where it needs misses close together.
// clang-format off
const Case kCases[] = {
    {"the same board answering stays", true, false,
     {{500, X, S}, {1000, X, S}, {9000, X, S}}},
    {"kept through one miss, then another", true, false,
     {{500, M, S}, {1000, X, S}, {1500, M, S}, {2000, X, S}}},
    {"kept through two misses in a row", true, false,
     {{500, M, S}, {1000, M, S}, {1500, X, S}}},
    {"three quick misses: kept until 1.5 s have passed since the first", true, false,
     {{100, M, S}, {200, M, S}, {300, M, S}, {1000, M, S}, {1599, M, S}, {1600, M, G},
      {2000, M, E}}},
    {"three misses within 1.5 s, then it answers: kept", true, false,
     {{100, M, S}, {200, M, S}, {300, M, S}, {400, X, S}}},
    {"on a slow computer two misses 1.5 s apart are not gone", true, false,
     {{500, M, S}, {2500, M, S}, {2600, X, S}, {3000, M, S}, {5000, M, S}, {7000, M, G}}},
    {"an answer starts the count of misses again", true, false,
     {{100, M, S}, {200, M, S}, {300, X, S}, {400, M, S}, {2000, M, S}, {2100, M, G}}},
    {"an answer starts the 1.5 s again", true, false,
     {{100, M, S}, {200, X, S}, {1000, M, S}, {1100, M, S}, {2499, M, S}, {2500, M, G}}},
    {"an acknowledged probe is an answer too", true, false,
     {{100, M, S}, {200, M, S}, {300, A, S}, {400, M, S}, {2000, M, S}, {2100, M, G}}},
    {"a board answering only the probe is the one on the jig", true, false,
     {{500, A, S}, {1000, A, S}, {1500, A, S}, {2000, A, S}}},
    {"another board is taken at once", true, false,
     {{500, Y, N}, {1000, Y, S}, {1500, X, N}}},
    {"another board after misses is taken at once", true, false,
     {{500, M, S}, {1000, Y, N}}},
    {"the board back after it was gone is new", true, false,
     {{500, M, S}, {1000, M, S}, {2000, M, G}, {2500, X, N}, {3000, X, S}}},
    {"a missing device node: the board is gone at once", true, false,
     {{500, D, G}, {1000, D, E}, {1500, X, N}}},
    {"an empty jig until a board answers", false, false,
     {{0, M, E}, {500, M, E}, {9000, M, E}, {9500, X, N}, {10000, X, S}}},
    {"a board answering only the probe is taken on its third answer", false, false,
     {{0, A, E}, {500, A, E}, {1000, A, N}, {1500, A, S}}},
    {"a full answer starts the probe-only count again", true, false,
     {{100, A, S}, {200, A, S}, {300, X, S}, {400, M, S}, {500, M, S}, {2000, M, G},
      {2100, A, E}, {2200, A, E}, {2300, A, N}}},
    {"a put-back board is refused, and only once while it stays", false, true,
     {{0, X, P}, {500, X, S}, {1000, M, S}, {1500, M, S}, {2500, M, G}, {3000, X, P},
      {3500, Y, N}}},
    {"a programmed board that misses probes is not refused again", true, true,
     {{500, M, S}, {1000, M, S}, {1500, X, S}}},
};
// clang-format on

BoardLook LookOf(Probe probe) {
  BoardLook look;
  switch (probe) {
    case Probe::X:
    case Probe::Y:
      look.answer = BoardLook::Answer::Full;
      look.firmwareLine = "Model : FLEX    Version = 2.41";
      look.identity = probe == Probe::X ? kX : kY;
      break;
    case Probe::Acked:
      look.answer = BoardLook::Answer::ProbeOnly;
      break;
    case Probe::Miss:
    case Probe::NoDevice:
      break;
  }
  return look;
}

TEST(PresenceTest, WhichBoardIsOnTheJig) {
  const auto start = Presence::Clock::time_point{} + std::chrono::hours(1);
  for (const Case& test : kCases) {
    SCOPED_TRACE(test.name);
    Presence presence(std::chrono::milliseconds(1500),
                      [&](const BoardLook& look) -> std::optional<std::uint32_t> {
                        if (test.xProgrammed && look.identity == kX) return kXCapcode;
                        return std::nullopt;
                      });
    if (test.xOnJig) presence.DealtWith(kX);
    for (const Step& step : test.steps) {
      SCOPED_TRACE(step.ms);
      const series::Sighting seen =
          step.probe == Probe::NoDevice
              ? presence.NoDevice()
              : presence.Look(LookOf(step.probe), start + std::chrono::milliseconds(step.ms));
      EXPECT_EQ(seen.state, step.expected);
      EXPECT_EQ(seen.capcode, seen.state == JigState::AlreadyProgrammed ? kXCapcode : 0u);
    }
  }
}

}  // namespace
}  // namespace tuva::testing
