// The line at a glance: what each station did in each hour (or day) of the records, counted from
// the attempts one at a time as a listing reads them, or from the groups of alike attempts a
// store counts itself, so a database of a million boards is summed without holding its attempts.
#pragma once

#include <bitset>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

enum class SummaryPeriod { Hour, Day };

// One station in one hour or day (UTC).
struct SummaryRow {
  std::string period;  // "2026-12-07T14:00Z" for an hour, "2026-12-07" for a day
  std::string station;
  std::size_t programmed = 0;     // written with the template's values
  std::size_t reprovisioned = 0;  // written keeping fields of the board
  std::size_t skipped = 0;        // already programmed, not written
  std::size_t failed = 0;
  std::size_t open = 0;  // reserved or erased: being written, or left by a run that ended
  std::map<std::string, std::size_t> causes;  // the failed attempts by FailureCause
  std::size_t hours = 0;  // hours of the period in which the station began an attempt

  std::size_t boards() const { return programmed + reprovisioned; }
  // Boards programmed per hour the station was at work in the period.
  double boardsPerHour() const;
  bool operator==(const SummaryRow&) const = default;
};

// Whether an attempt's time names its hour: "T" and two digits after its date
// ("2026-12-07T14..."). A time that does not is a period of its own.
bool NamesAnHour(std::string_view time);

// Why a failed attempt failed, short enough to count boards by: its message as recorded without
// what belongs to the one board (each number becomes N, text in parentheses is left out), so
// "capcode 1500001 is held by another board: attempt #4 (programmed, ...)" counts with every other
// board whose capcode was held. A failure that recorded no message is told by whether its erase
// was sent.
std::string FailureCause(const Attempt& attempt);

class Summary {
 public:
  explicit Summary(SummaryPeriod period = SummaryPeriod::Hour) : period_(period) {}

  // Counts `count` alike attempts (see RecordStore::EachGroup) in their station's period.
  void Add(const Attempt& attempt, std::size_t count = 1);
  // The periods oldest first, each period's stations by name.
  std::vector<SummaryRow> Rows() const;

 private:
  struct Counts {
    std::string key;  // the start of the time its attempts share
    SummaryRow row;
    std::bitset<24> hours;  // of the day, UTC
  };
  SummaryPeriod period_;
  std::map<std::pair<std::string, std::string>, Counts> rows_;  // by (period, station)
  Counts* last_ = nullptr;  // consecutive attempts nearly always share their row
};

// The attempts of `store` that `filter` lets through, summed by `period`.
std::vector<SummaryRow> Summarise(RecordStore& store, const ListFilter& filter,
                                  SummaryPeriod period);

}  // namespace tuva::records
