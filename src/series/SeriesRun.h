// Series programming: one template, many boards, a capcode that counts up from board to board.
//
// Each port gets a session of its own in a thread of its own. A port waits until a board answers,
// takes the next capcodes from the records store, writes the template with them (the full Write
// with its read-back), verifies, records the result and then waits until that board is gone, so
// that a board left on the jig is never programmed twice. The store is the only thing the ports
// share: it hands out every capcode once, whatever the number of ports or stations.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "image/ConfigImage.h"
#include "records/RecordStore.h"
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
};

// What one board came to, as the line printed for it says.
struct BoardReport {
  std::string port;
  std::string capcodes;  // the counting capcodes, "1500000" or "1500000,1600000"
  std::string firmware;  // "FLEX 2.41"; empty when the board did not say
  std::string result;    // "programmed", or "failed: " and the message
  double seconds = 0;
  bool programmed = false;
  bool recorded = true;      // false: the result is kept in the journal, not in the database
  std::string Line() const;  // port  capcodes  firmware  result  seconds
};

class SeriesRun {
 public:
  // `report` is called once per board, from the port's thread, one call at a time.
  SeriesRun(records::RecordStore& store, SeriesPlan plan,
            std::function<void(const BoardReport&)> report);
  SeriesRun(const SeriesRun&) = delete;
  SeriesRun& operator=(const SeriesRun&) = delete;

  // Runs every port until `count` boards are programmed, Stop is called or the pool runs out.
  // Boards being written when the run ends are finished and recorded first.
  void Run();

  // Ends the run: ports waiting for a board give up, boards being written are finished. Safe from
  // any thread.
  void Stop();

  int programmed() const;
  // Why the run stopped before its count (a capcode out of range, the pool used up, the
  // store failing); empty otherwise.
  std::string problem() const;
  // The boards whose result could not be recorded, and the journal that keeps them.
  const RecordKeeper& records() const { return keeper_; }

 private:
  void ServePort(const std::string& device);
  // Until a board answers on `device` (true, with its firmware line) or the run stops (false).
  bool WaitForBoard(const std::string& device, std::string& firmwareLine);
  void WaitUntilGone(const std::string& device);
  bool TakeTicket();
  void ReturnTicket(bool programmed);
  void Halt(const std::string& problem);
  bool Stopping() const;
  // Waits `interval` unless the run stops first; false when it stops.
  bool Pause(std::chrono::milliseconds interval);
  BoardReport ProgramBoard(const std::string& device, const std::string& firmwareLine);

  // The store, which is thread-safe: the ports call it directly.
  records::Attempt Reserve(const records::Attempt& start);
  void MarkErased(std::int64_t id);

  records::RecordStore& store_;
  SeriesPlan plan_;
  std::vector<records::CountingSlot> slots_;
  std::function<void(const BoardReport&)> report_;
  RecordKeeper keeper_;

  mutable std::mutex mutex_;  // guards the counts, the problem and the report
  std::condition_variable changed_;
  int programmed_ = 0;
  int inFlight_ = 0;
  bool stop_ = false;
  std::string problem_;
};

}  // namespace tuva::series
