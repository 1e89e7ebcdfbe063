// The parts of the records that do not depend on the database: names, times, the next free
// capcode of a counting slot, and the choice of the store from the name the user gave.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <set>

#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

constexpr const char* kResultNames[] = {"reserved", "erased", "programmed", "failed", "skipped"};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  throw RecordsError("no home folder to keep the records in; name a database with --records");
}

}  // namespace

std::string ResultName(Result result) {
  return kResultNames[static_cast<int>(result)];
}

Result ParseResult(const std::string& name) {
  for (int i = 0; i < static_cast<int>(std::size(kResultNames)); ++i) {
    if (name == kResultNames[i]) return static_cast<Result>(i);
  }
  throw RecordsError("unknown attempt result \"" + name + "\" in the records database");
}

std::string NowIso() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string DefaultRecordsPath() {
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    data = xdg;
  } else {
    data = HomeFolder();
    data += "/.local/share";
  }
  data += "/tuva/records.sqlite";
  return data;
}

std::string DefaultStation() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string JoinCapcodes(const std::vector<std::string>& capcodes) {
  std::string column;
  for (std::size_t i = 0; i < capcodes.size(); ++i) {
    if (i > 0) column += ',';
    column += capcodes[i];
  }
  return column;
}

std::vector<std::string> SplitCapcodes(const std::string& column) {
  std::vector<std::string> capcodes;
  if (column.empty()) return capcodes;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = column.find(',', start);
    capcodes.push_back(column.substr(start, comma - start));
    if (comma == std::string::npos) return capcodes;
    start = comma + 1;
  }
}

void CheckSlots(const std::vector<CountingSlot>& slots) {
  std::set<int> seen;
  for (const CountingSlot& slot : slots) {
    const std::string name = "slot " + std::to_string(slot.slot);
    if (slot.slot < 1 || slot.slot > 16) throw RecordsError(name + " is not a slot from 1 to 16");
    if (!seen.insert(slot.slot).second) throw RecordsError(name + " counts twice");
    if (slot.step == 0) throw RecordsError(name + " counts in steps of 0");
    if (slot.first > slot.last) {
      throw RecordsError(name + ": capcode " + std::to_string(slot.first) + " is above " +
                         std::to_string(slot.last));
    }
  }
}

std::uint32_t NextCandidate(const CountingSlot& slot, const std::vector<std::uint32_t>& held,
                            bool& found) {
  std::uint64_t candidate = slot.first;
  for (const std::uint32_t value : held) {
    if (value < candidate || (value - slot.first) % slot.step != 0) continue;
    if (value > candidate) break;
    candidate += slot.step;
  }
  found = candidate <= slot.last;
  return found ? static_cast<std::uint32_t>(candidate) : 0;
}

std::string UsedUpMessage(const CountingSlot& slot) {
  return "slot " + std::to_string(slot.slot) + " has no free capcode left (" +
         std::to_string(slot.first) + " in steps of " + std::to_string(slot.step) + " up to " +
         std::to_string(slot.last) + ")";
}

std::string NotOpen(std::int64_t id) {
  return "attempt #" + std::to_string(id) + " is no longer open (finished, or released by hand)";
}

std::string NewerSchema(const std::string& database, std::int64_t version) {
  std::string message = "records database " + database + " has schema version ";
  message += std::to_string(version) + "; this tuva knows version ";
  message += std::to_string(kSchemaVersion) + " and leaves it alone (update tuva)";
  return message;
}

Attempt Opened(const Attempt& start) {
  Attempt attempt = start;
  if (attempt.station.empty()) attempt.station = DefaultStation();
  attempt.time = NowIso();
  attempt.result = Result::Reserved;
  attempt.erased = false;
  attempt.taken.clear();
  return attempt;
}

bool Matches(const Attempt& attempt, const ListFilter& filter) {
  if (filter.failedOnly && attempt.result != Result::Failed) return false;
  if (!filter.capcode) return true;
  const std::uint32_t wanted = *filter.capcode;
  for (const Attempt::Taken& taken : attempt.taken) {
    if (taken.held && taken.capcode == wanted) return true;
  }
  if (attempt.result != Result::Programmed) return false;
  return std::any_of(attempt.capcodes.begin(), attempt.capcodes.end(), [&](const std::string& c) {
    return !c.empty() && c.find_first_not_of("0123456789") == std::string::npos && c.size() <= 10 &&
           std::stoull(c) == wanted;
  });
}

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& where,
                                             std::chrono::milliseconds busyTimeout) {
  if (StartsWith(where, "postgresql://") || StartsWith(where, "postgres://")) {
    return OpenPostgresStore(where);
  }
  return OpenSqliteStore(where.empty() ? DefaultRecordsPath() : where, busyTimeout);
}

}  // namespace tuva::records
