// The parts of the records that do not depend on the database: names, times, the next free
// capcode of a counting slot, and the choice of the store from the name the user gave.
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <random>
#include <regex>
#include <set>

#include "records/PostgresUrl.h"
#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

constexpr const char* kResultNames[] = {"reserved", "erased", "programmed", "failed", "skipped"};

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  throw RecordsError("no home folder to keep the records in; name a database");
}

}  // namespace

std::string ResultName(Result result) {
  return kResultNames[static_cast<int>(result)];
}

std::string ResultText(const Attempt& attempt) {
  if (attempt.result == Result::Programmed && !attempt.kept.empty()) return "reprovisioned";
  return ResultName(attempt.result);
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

std::string RecordsName(const std::string& where) {
  if (NamesPostgres(where)) return ShownPostgresUrl(where);
  return std::filesystem::absolute(where.empty() ? DefaultRecordsPath() : where)
      .lexically_normal()
      .string();
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

std::vector<std::string> SplitCapcodes(std::string_view column) {
  std::vector<std::string> capcodes;
  if (column.empty()) return capcodes;
  capcodes.reserve(static_cast<std::size_t>(std::count(column.begin(), column.end(), ',')) + 1);
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = column.find(',', start);
    capcodes.emplace_back(column.substr(start, comma - start));
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

std::string UsedUpMessage(const CountingSlot& slot) {
  return "slot " + std::to_string(slot.slot) + " has no free capcode left (" +
         std::to_string(slot.first) + " in steps of " + std::to_string(slot.step) + " up to " +
         std::to_string(slot.last) + ")";
}

std::string NotOpen(std::int64_t id) {
  return "attempt #" + std::to_string(id) + " is no longer open (finished, or released by hand)";
}

std::string NewerSchema(const std::string& database, std::int64_t version) {
  return "records database " + database + " has schema version " + std::to_string(version) +
         "; this tuva knows version " + std::to_string(kSchemaVersion) +
         " and leaves it alone (update tuva)";
}

Attempt Opened(const Attempt& start) {
  Attempt attempt = start;
  if (attempt.station.empty()) attempt.station = DefaultStation();
  attempt.time = NowIso();
  attempt.process = ::getpid();
  attempt.heartbeat = NowSeconds();
  attempt.result = Result::Reserved;
  attempt.erased = false;
  attempt.taken.clear();
  return attempt;
}

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& where, OpenMode mode,
                                             std::chrono::milliseconds busyTimeout,
                                             std::stop_token stop) {
  if (NamesPostgres(where)) {
    if (const std::string problem = PostgresUrlProblem(where); !problem.empty())
      throw RecordsError("records database " + ShownPostgresUrl(where) + ": " + problem);
    return OpenPostgresStore(where, mode, std::move(stop));
  }
  return OpenSqliteStore(where.empty() ? DefaultRecordsPath() : where, mode, busyTimeout,
                         std::move(stop));
}

OpenMode SeriesOpenMode(const std::string& where, bool startNew) {
  if (where.empty() || startNew) return OpenMode::Create;
  // The default database named in full (as the series window shows it) is still the default.
  if (NamesPostgres(where)) return OpenMode::Existing;
  try {
    std::error_code error;
    const auto named = std::filesystem::absolute(where, error).lexically_normal();
    const auto standard = std::filesystem::absolute(DefaultRecordsPath(), error).lexically_normal();
    return !error && named == standard ? OpenMode::Create : OpenMode::Existing;
  } catch (const RecordsError&) {
    return OpenMode::Existing;  // no home folder: no default database either
  }
}

std::vector<Attempt> RecordStore::List(const ListFilter& filter) {
  std::vector<Attempt> attempts;
  Each(filter, [&](const Attempt& attempt) { attempts.push_back(attempt); });
  return attempts;
}

void RecordStore::EachGroup(const ListFilter& filter,
                            const std::function<void(const Attempt&, std::size_t)>& group) {
  Each(filter, [&](const Attempt& attempt) { group(attempt, 1); });
}

bool RecordStore::HasHandedOut(std::uint32_t first, std::uint32_t step) {
  bool found = false;
  Each({}, [&](const Attempt& attempt) {
    for (const Attempt::Taken& taken : attempt.taken) {
      found = found || (taken.capcode >= first && (taken.capcode - first) % step == 0);
    }
  });
  return found;
}

std::vector<CapcodeHolders> RecordStore::HoldersOf(const std::vector<std::uint32_t>& capcodes) {
  std::vector<CapcodeHolders> holders;
  for (const std::uint32_t capcode : capcodes) holders.push_back({capcode, 0, 0});
  Each({}, [&](const Attempt& attempt) {
    if (attempt.result != Result::Programmed) return;
    const std::vector<std::uint32_t> onBoard = NumericCapcodes(attempt.capcodes);
    for (CapcodeHolders& holder : holders) {
      for (const Attempt::Taken& taken : attempt.taken) {
        if (taken.held && taken.capcode == holder.capcode) holder.taker = attempt.id;
      }
      if (std::find(onBoard.begin(), onBoard.end(), holder.capcode) != onBoard.end()) {
        holder.newest = std::max(holder.newest, attempt.id);
      }
    }
  });
  return holders;
}

LeaseCheck ThisComputer() {
  return {NowSeconds(), DefaultStation(), [](std::int64_t process) {
            // EPERM: the process is there, it belongs to another user.
            return process != static_cast<pid_t>(process) ||
                   ::kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH;
          }};
}

bool Running(const Attempt& attempt, const LeaseCheck& check) {
  if (attempt.result != Result::Reserved && attempt.result != Result::Erased) return false;
  if (check.now - attempt.heartbeat >= kLeaseTimeout.count()) return false;
  // A process number is only known on the station that opened the attempt; 0 and below name no
  // single process (kill would signal a group).
  if (attempt.station == check.station && attempt.process > 0 && check.processExists) {
    return check.processExists(attempt.process);
  }
  return true;
}

bool Running(const Attempt& attempt) {
  return Running(attempt, ThisComputer());
}

ReleaseOutcome::Kind ReleaseKind(const Attempt& attempt, bool force) {
  if (attempt.result == Result::Programmed) return ReleaseOutcome::Programmed;
  if (Running(attempt)) return ReleaseOutcome::Running;
  // Open after its erase, or failed after it: either way the board may hold the capcode.
  if (attempt.erased && !force) return ReleaseOutcome::Erased;
  return ReleaseOutcome::Released;
}

std::string ParseSince(const std::string& text) {
  static const std::regex form(R"((\d{4}-\d\d-\d\d)(?:[T ](\d\d:\d\d(?::\d\d)?)Z?)?)");
  std::smatch parts;
  if (!std::regex_match(text, parts, form)) {
    throw RecordsError("\"" + text + "\" is not a date (YYYY-MM-DD, or YYYY-MM-DDTHH:MM)");
  }
  std::string since = parts[1];
  if (parts[2].matched) since += "T" + parts[2].str();
  return since;
}

std::string NotRecords(const std::string& database) {
  return database + " is not a tuva records database";
}

std::int64_t NowSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::string RandomToken() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::lock_guard lock(mutex);
  char text[40];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(generator()),
                static_cast<unsigned long long>(generator()));
  return text;
}

std::vector<std::uint32_t> NumericCapcodes(const std::vector<std::string>& capcodes) {
  std::vector<std::uint32_t> numbers;
  for (const std::string& c : capcodes) {
    if (c.empty() || c.size() > 10 || c.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const unsigned long long value = std::stoull(c);
    if (value <= UINT32_MAX) numbers.push_back(static_cast<std::uint32_t>(value));
  }
  return numbers;
}

std::vector<Attempt::Taken> ParseTaken(std::string_view column) {
  std::vector<Attempt::Taken> taken;
  const char* at = column.data();
  const char* end = at + column.size();
  while (at < end) {
    Attempt::Taken t;
    std::uint64_t capcode = 0;
    int held = 0;
    const auto slot = std::from_chars(at, end, t.slot);
    if (slot.ec != std::errc() || slot.ptr == end || *slot.ptr != ':') break;
    const auto value = std::from_chars(slot.ptr + 1, end, capcode);
    if (value.ec != std::errc() || value.ptr == end || *value.ptr != ':') break;
    const auto flag = std::from_chars(value.ptr + 1, end, held);
    if (flag.ec != std::errc()) break;
    t.capcode = static_cast<std::uint32_t>(capcode);
    t.held = held != 0;
    taken.push_back(t);
    at = flag.ptr;
    while (at < end && *at == ' ') ++at;
  }
  std::sort(taken.begin(), taken.end(),
            [](const Attempt::Taken& a, const Attempt::Taken& b) { return a.slot < b.slot; });
  return taken;
}

std::string ListWhere(const ListFilter& filter, const std::string& held,
                      std::string (*placeholder)(int), ListQuery& query) {
  std::string where;
  auto condition = [&](const std::string& text) {
    where += (where.empty() ? " WHERE " : " AND ") + text;
  };
  auto number = [&](std::int64_t value) {
    query.parameters.push_back({false, "", value});
    return placeholder(static_cast<int>(query.parameters.size()));
  };
  auto text = [&](const std::string& value) {
    query.parameters.push_back({true, value, 0});
    return placeholder(static_cast<int>(query.parameters.size()));
  };
  if (filter.capcode) {
    // Both halves are index lookups: the held capcodes and a programmed board's capcodes.
    const std::string taken = number(*filter.capcode);
    const std::string board = number(*filter.capcode);
    condition("a.id IN (SELECT attempt_id FROM taken WHERE " + held + " AND capcode = " + taken +
              " UNION SELECT attempt_id FROM board_capcode WHERE capcode = " + board + ")");
  }
  if (filter.failedOnly) condition("a.result <> 'programmed'");
  if (filter.openOnly) condition("a.result IN " + std::string(kOpenResults));
  if (!filter.since.empty()) condition("a.time >= " + text(filter.since));
  if (!filter.station.empty()) condition("a.station = " + text(filter.station));
  if (filter.id) condition("a.id = " + number(*filter.id));
  return where;
}

ListQuery BuildListQuery(const ListFilter& filter, const std::string& takenColumn,
                         const std::string& held, std::string (*placeholder)(int),
                         const std::string& join) {
  ListQuery query;
  const std::string where = ListWhere(filter, held, placeholder, query);
  auto number = [&](std::int64_t value) {
    query.parameters.push_back({false, "", value});
    return placeholder(static_cast<int>(query.parameters.size()));
  };
  std::string select =
      "SELECT a.id AS id, a.time AS time, a.station AS station, a.port AS port,"
      " a.firmware AS firmware, a.capcodes AS capcodes, a.frequency AS frequency,"
      " a.sha256 AS sha256, a.result AS result, a.erased AS erased, a.message AS message,"
      " a.seconds AS seconds, a.process AS process, a.heartbeat AS heartbeat, a.kept AS kept,"
      " a.firmware_file AS firmware_file, a.firmware_programmed AS firmware_programmed,"
      " a.verification AS verification, a.image_runs AS image_runs,"
      " (SELECT ti.sha256 FROM template_image ti WHERE ti.id = a.template_id) AS "
      "template_sha256, " +
      takenColumn + " FROM attempts a" + (join.empty() ? "" : " " + join) + where;
  if (filter.limit == 0) {
    query.sql = select + " ORDER BY a.id";
  } else {
    query.sql = "SELECT * FROM (" + select + " ORDER BY a.id DESC LIMIT " +
                number(static_cast<std::int64_t>(filter.limit)) + ") newest ORDER BY id";
  }
  return query;
}

}  // namespace tuva::records
