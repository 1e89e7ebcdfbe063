#include "records/Summary.h"

#include <cctype>
#include <string_view>

namespace tuva::records {
namespace {

bool Digit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool HexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The start of an attempt's time ("2026-12-07T14:02:03Z") that names its period:
// "2026-12-07T14" for an hour, "2026-12-07" for a day. A time of another shape is its own period.
std::string_view PeriodKey(std::string_view time, SummaryPeriod period) {
  if (!NamesAnHour(time)) return time;
  return time.substr(0, period == SummaryPeriod::Hour ? 13 : 10);
}

// The hour of the day (0-23) an attempt began in, or -1 when its time does not say.
int HourOfDay(std::string_view time) {
  if (!NamesAnHour(time)) return -1;
  const int hour = (time[11] - '0') * 10 + (time[12] - '0');
  return hour < 24 ? hour : -1;
}

}  // namespace

bool NamesAnHour(std::string_view time) {
  return time.size() >= 13 && time[10] == 'T' && Digit(time[11]) && Digit(time[12]);
}

double SummaryRow::boardsPerHour() const {
  return hours == 0 ? 0.0 : static_cast<double>(boards()) / static_cast<double>(hours);
}

std::string FailureCause(const Attempt& attempt) {
  std::string cause;
  const std::string& message = attempt.message;
  int depth = 0;  // inside parentheses
  for (std::size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '(') ++depth;
    if (depth > 0) {
      if (c == ')') --depth;
      continue;
    }
    if (Digit(c)) {
      // 1500001, 2.41 or 0x1f00: one N. A full stop after a number ends the sentence.
      std::size_t end = i + 1;
      const auto at = [&](std::size_t k) { return k < message.size() ? message[k] : '\0'; };
      if (c == '0' && (at(end) == 'x' || at(end) == 'X') && HexDigit(at(end + 1))) {
        ++end;
        while (HexDigit(at(end))) ++end;
      } else {
        while (Digit(at(end)) || (at(end) == '.' && Digit(at(end + 1)))) ++end;
      }
      cause += 'N';
      i = end - 1;
      continue;
    }
    const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (space && (cause.empty() || cause.back() == ' ')) continue;
    cause += space ? ' ' : c;
  }
  while (!cause.empty() && cause.back() == ' ') cause.pop_back();
  if (!cause.empty()) return cause;
  return attempt.erased ? "failed after its erase" : "failed before its erase";
}

void Summary::Add(const Attempt& attempt, std::size_t count) {
  const std::string_view key = PeriodKey(attempt.time, period_);
  if (!last_ || last_->key != key || last_->row.station != attempt.station) {
    const auto [at, added] = rows_.try_emplace({std::string(key), attempt.station});
    if (added) {
      at->second.key = key;
      at->second.row.period = std::string(key) + (key.size() == 13 ? ":00Z" : "");
      at->second.row.station = attempt.station;
    }
    last_ = &at->second;
  }
  SummaryRow& row = last_->row;
  switch (attempt.result) {
    case Result::Programmed:
      (attempt.kept.empty() ? row.programmed : row.reprovisioned) += count;
      break;
    case Result::Skipped:
      row.skipped += count;
      break;
    case Result::Failed:
      row.failed += count;
      row.causes[FailureCause(attempt)] += count;
      break;
    case Result::Reserved:
    case Result::Erased:
      row.open += count;
      break;
  }
  if (const int hour = HourOfDay(attempt.time); hour >= 0 && !last_->hours.test(hour)) {
    last_->hours.set(hour);
    row.hours = last_->hours.count();
  }
}

std::vector<SummaryRow> Summary::Rows() const {
  std::vector<SummaryRow> rows;
  rows.reserve(rows_.size());
  for (const auto& [key, counts] : rows_) rows.push_back(counts.row);
  return rows;
}

std::vector<SummaryRow> Summarise(RecordStore& store, const ListFilter& filter,
                                  SummaryPeriod period) {
  Summary summary(period);
  store.EachGroup(
      filter, [&summary](const Attempt& group, std::size_t count) { summary.Add(group, count); });
  return summary.Rows();
}

}  // namespace tuva::records
