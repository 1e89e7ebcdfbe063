// Series programming: one template, many boards, a capcode that counts up from board to board.
//
// Each port gets a session of its own in a thread of its own. A port waits until a board answers,
// takes the next capcodes from the records store, writes the template with them (the full Write
// with its read-back of both copies, which is the verification; a Verify pass follows only when
// the plan asks for it), records the result and then waits until that board is gone, so
// that a board left on the jig is never programmed twice. The store is the only thing the ports
// share: it hands out every capcode once, whatever the number of ports or stations.
//
// Which board is on the jig is told by its identity (see JigBoard.h), not by luck of the probe: a
// board answering with the identity of the one just programmed is that board; another identity
// is a new board, however fast the swap; and a board counts as gone only once the probe has gone
// unanswered for `goneAfter` and three looks in a row, so a spring contact that misses a probe
// does not get a board written twice. A board that arrives holding a capcode these records hold for
// a programmed board (a finished board put back) is recorded as skipped and not written.
//
// With a firmware file in the plan, each board's firmware is looked at before its configuration
// and programmed when it differs (see SeriesFirmware.h). A board programmed there and lost before
// its configuration comes back running the file, so its firmware is not programmed again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "image/ConfigImage.h"
#include "records/RecordStore.h"
#include "series/CapcodeList.h"
#include "series/JigBoard.h"
#include "series/Presence.h"
#include "series/Reprovision.h"
#include "series/SeriesFirmware.h"
#include "series/SeriesRecords.h"

namespace tuva::series {

// A slot whose capcode counts up: 1..16 as the window numbers them.
struct CountingCapcode {
  int slot = 1;
  std::uint32_t first = 0;
  std::uint32_t step = 1;
};

struct SeriesPlan {
  ConfigImage templateImage = ConfigImage::StartupImage();
  std::vector<CountingCapcode> counting;
  int count = 1;                   // programmed boards after which the run ends
  std::vector<std::string> ports;  // one session per device
  std::string station;             // recorded with every attempt
  std::chrono::milliseconds probeInterval{500};
  std::chrono::milliseconds goneAfter{1500};  // of unanswered probes in a row: the board is gone
  bool reprogram = false;  // write boards that already hold a programmed capcode (a second pass)
  // Re-provisioning: the fields each board keeps (settable field names, "capcodes" for every
  // slot's capcode), read from the board before it is written; empty for new boards.
  std::vector<std::string> keep;
  std::optional<std::string> readPassword;  // answers a kept board's read password
  // The Write reads back every byte of both copies and compares it: that read-back is the
  // verification. `verify` adds the separate Verify pass over copy 0 as well.
  bool verify = false;
  // Firmware put on each board before its configuration (see SeriesFirmware.h); none when null.
  std::shared_ptr<const SeriesFirmware> firmware;
  // Per-board values from the operator's list: each board takes the next free row of the list
  // the records imported (`listId`, set as Prepare imports it).
  std::optional<CapcodeList> list;
  std::int64_t listId = 0;
  bool countFromList = false;  // the count is every row the list has left
};

// What one board came to, as the line printed for it says.
struct BoardReport {
  std::string port;
  std::string capcodes;  // the counting capcodes, "1500000" or "1500000,1600000"
  std::string firmware;  // "FLEX 2.41"; empty when the board did not say
  // "programmed", "already programmed (1500003)", or "failed: " and the message
  std::string result;
  double seconds = 0;
  bool programmed = false;
  bool skipped = false;      // already programmed: recorded, not written
  bool recorded = true;      // false: the result is kept in the journal, not in the database
  std::string Line() const;  // port  capcodes  firmware  result  seconds
};

// The board's firmware identification text as a series shows it: "Model : FLEX    Version = 2.41"
// as "FLEX 2.41"; other texts as they are.
std::string ShortFirmware(const std::string& line);

// What a port is doing, for a live view of the jigs.
enum class PortState {
  NoDevice,
  Waiting,
  Writing,
  Verifying,
  Programmed,
  AlreadyProgrammed,
  Failed,
  Reading,   // re-provisioning: the board's configuration is read before it is written
  Firmware,  // the board's firmware is being compared or programmed
};

struct PortStatus {
  std::string port;
  PortState state = PortState::Waiting;
  int percent = 0;       // Writing and Verifying: 0..100
  std::string capcodes;  // the counting capcodes of the board on the port, as BoardReport has them
  double seconds = 0;    // since the board on the port was found
  std::string message;   // Failed: the reason
};

// The boards a run has dealt with, each counted once: programmed (re-provisioned ones among them),
// skipped as already programmed, and failed (written or tried, and not programmed).
struct SeriesCounts {
  int programmed = 0;
  int reprovisioned = 0;  // of the programmed: written keeping fields read from the board
  int skipped = 0;
  int failed = 0;
};

// "3 of 3 boards programmed (1 re-provisioned), 1 skipped (already programmed), 0 failed": the
// re-provisioned and skipped only when there are some.
std::string CountsText(const SeriesCounts& counts, int wanted);

// What a failed board's row says after its result: what the technician does with the board.
inline constexpr const char* kFailedAdvice = "not programmed \u2014 remove the board and check it";

// "waiting for a board", "no such device yet", "reading the board", "writing 43 %", "verifying",
// "programmed 1500003 — remove the board", "already programmed (1500003)", "failed: <message>",
// "firmware 43 %"; a failed board's followed by "; " and kFailedAdvice
std::string StatusText(const PortStatus& status);

class PortView;

class SeriesRun {
 public:
  // `report` is called once per board, from the port's thread, one call at a time. `status` is
  // called from the ports' threads whenever a port's state or percentage changes (the percentage
  // at most every 1 %). Neither is called under the run's locks, so a slow front end holds up only
  // the port it is told about.
  //
  // `stop` is the run's stop: Stop requests it, and so may its owner (a signal, a window that
  // closes). Its waits (ports looking for a board, the records' pauses between tries) end at once,
  // and a store opened with its token (OpenRecordStore) no longer waits for a server or a lock.
  SeriesRun(records::RecordStore& store, SeriesPlan plan,
            std::function<void(const BoardReport&)> report,
            std::function<void(const PortStatus&)> status = {}, std::stop_source stop = {});
  SeriesRun(const SeriesRun&) = delete;
  SeriesRun& operator=(const SeriesRun&) = delete;

  // Runs every port until `count` boards are programmed, Stop is called, the pool runs out or
  // the list has no row left.
  // Boards being written when the run ends are finished and recorded first.
  void Run();

  // Requests the run's stop: ports waiting for a board give up, boards being written are
  // finished. Safe from any thread.
  void Stop();

  SeriesCounts counts() const;
  int programmed() const { return counts().programmed; }
  int failed() const { return counts().failed; }
  // Why the run ended before its count with nothing gone wrong: every row of its list has gone
  // to a board ("no row of the list FILE is left"); empty otherwise. The board that found no row
  // was left untouched: it is neither reported nor counted.
  std::string listUsedUp() const;
  // Why the run stopped before its count (a capcode out of range, the pool used up, the
  // store failing); empty otherwise.
  std::string problem() const;
  // The boards whose result could not be recorded, and the journal that keeps them.
  const RecordKeeper& records() const { return keeper_; }

 private:
  struct BoardJob;

  void ServePort(const std::string& device);
  void ServeBoards(const std::string& device, PortView& view);
  // Looks at `device` until a board arrives that `presence` takes for another one (true, `board`
  // and `sighting` filled: new, or already programmed) or the run stops (false).
  bool WaitForNewBoard(const std::string& device, PortView& view, Presence& presence,
                       BoardLook& board, Sighting& sighting);
  // Programs the board found; returns the identity it leaves on the jig.
  BoardIdentity DealWith(const std::string& device, PortView& view, const BoardLook& board);
  std::optional<std::uint32_t> ProgrammedCapcodeOn(const BoardLook& board);
  BoardReport SkipBoard(const std::string& device, PortView& view, const BoardLook& board,
                        std::uint32_t capcode);
  bool TakeTicket();
  // `touched`: the board was written or tried (false for one that got no row of the list).
  void ReturnTicket(bool programmed, bool touched = true);
  void Halt(const std::string& problem);
  void EndOfList(const std::string& why);
  // The run ends or is stopped: no board is taken any more.
  bool Stopping() const;
  // Waits `interval` unless the run ends or is stopped first; false when it does.
  bool Pause(std::chrono::milliseconds interval);
  void Report(const BoardReport& report);

  // One board, in the steps below: its capcodes reserved, its image made, written and verified,
  // its attempt finished.
  BoardReport ProgramBoard(BoardJob& job, PortView& view);
  bool ReserveCapcodes(BoardJob& job);
  bool PrepareImage(BoardJob& job);
  bool WriteAndVerify(BoardJob& job, PortView& view, std::string& message);
  // Re-provisioning: the board read and its kept fields put into the template; then its kept
  // capcodes checked against the other boards (the reason when one holds them).
  bool KeepFromBoard(BoardJob& job, PortView& view);
  std::optional<std::string> ClaimKept(BoardJob& job);
  // The plan's firmware onto the board (compared first); false with `message` when it failed.
  bool FirmwareStep(BoardJob& job, PortView& view, std::string& message);
  BoardReport FinishBoard(BoardJob& job, PortView& view, bool programmed,
                          const std::string& message);

  bool HeldByProgrammedBoard(std::uint32_t capcode);

  // The store, which is thread-safe: the ports call it directly. A result is recorded through
  // keeper_, which keeps in the journal what the store will not take.
  records::RecordStore& store_;
  SeriesPlan plan_;
  std::vector<records::CountingSlot> slots_;
  std::vector<const Field*> kept_;  // plan_.keep's fields
  KeptThisRun keptThisRun_;
  std::function<void(const BoardReport&)> report_;
  std::function<void(const PortStatus&)> status_;
  std::mutex reportMutex_;  // one report at a time; never held with mutex_

  std::stop_source stop_;
  mutable std::mutex mutex_;             // guards the counts and the problem
  std::condition_variable_any changed_;  // its waits end at the stop too
  SeriesCounts counts_;
  int inFlight_ = 0;
  // The run ends by itself: its count reached, its list used up, a problem. Unlike a stop, the
  // boards being finished still wait for the records.
  bool ended_ = false;
  std::string problem_;
  std::string listUsedUp_;
  // Last: its worker, which may halt the run, is ended before the run's state goes.
  RecordKeeper keeper_;
};

}  // namespace tuva::series
