// tuvactl records: the list of programmed boards (text, JSON or CSV), each station's boards per
// hour or day, the board that holds a capcode, a programmed board's image as a configuration file,
// and the return of a failed board's capcode to the pool.
#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Commands.h"
#include "files/ConfigFile.h"
#include "image/ConfigImage.h"
#include "image/Utf8.h"
#include "records/ImageRuns.h"
#include "records/RecordStore.h"
#include "records/RecordText.h"
#include "records/Summary.h"
#include "series/CapcodeList.h"
#include "series/Plan.h"
#include "series/SeriesRecords.h"

namespace tuva::cli {
namespace {

using records::Attempt;

// A capcode as a technician types it: decimal digits, at most 4294967295.
std::uint32_t ParseCapcode(const std::string& text, const std::string& option) {
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoull(text) > UINT32_MAX) {
    throw UsageError(option + " wants a decimal capcode, not \"" + text + "\"");
  }
  return static_cast<std::uint32_t>(std::stoull(text));
}

// "3=1500000" into slot and capcode.
std::pair<int, std::uint32_t> ParseRelease(const std::string& text) {
  const std::size_t equals = text.find('=');
  const std::string slot = text.substr(0, equals);
  if (equals == std::string::npos || slot.empty() || slot.size() > 2 ||
      slot.find_first_not_of("0123456789") != std::string::npos || std::stoi(slot) < 1 ||
      std::stoi(slot) > 16) {
    throw UsageError("--release wants SLOT=CAPCODE with a slot from 1 to 16, not \"" + text + "\"");
  }
  return {std::stoi(slot), ParseCapcode(text.substr(equals + 1), "--release")};
}

// An attempt's number as records prints it, "#" optional: "17" or "#17".
std::int64_t AttemptNumber(const std::string& text, const std::string& complaint) {
  const std::size_t digits = text.rfind('#', 0) == 0 ? 1 : 0;
  if (text.size() == digits || text.size() > digits + 18 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos) {
    throw UsageError(complaint + ", not \"" + text + "\"");
  }
  return std::stoll(text.substr(digits));
}

// `option` refuses the first of `others` that was given.
void RequireAlone(const char* option, std::initializer_list<std::pair<bool, const char*>> others) {
  for (const auto& [given, name] : others) {
    if (given) throw UsageError(std::string(option) + " does not go with " + name);
  }
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

std::string Seconds(double seconds) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << seconds;
  return text.str();
}

void PrintText(const Attempt& a) {
  std::cout << '#' << a.id << "  " << a.time << "  " << OrDash(ValidUtf8(a.station)) << "  "
            << OrDash(ValidUtf8(a.port)) << "  " << OrDash(records::TakenText(a)) << "  "
            << OrDash(ValidUtf8(a.firmware)) << "  " << OrDash(a.frequency) << "  "
            << records::ResultText(a) << "  " << Seconds(a.seconds) << " s";
  if (!a.message.empty()) std::cout << "  " << ValidUtf8(a.message);
  std::cout << '\n';
}

nlohmann::json AttemptJson(const Attempt& a) {
  nlohmann::json taken = nlohmann::json::array();
  for (const Attempt::Taken& t : a.taken) {
    taken.push_back({{"slot", t.slot}, {"capcode", t.capcode}, {"held", t.held}});
  }
  return {{"id", a.id},
          {"time", a.time},
          {"station", ValidUtf8(a.station)},
          {"port", ValidUtf8(a.port)},
          {"firmware", ValidUtf8(a.firmware)},
          {"capcodes", a.capcodes},
          {"frequency", a.frequency},
          {"sha256", a.sha256},
          {"result", records::ResultText(a)},
          {"erased", a.erased},
          {"message", ValidUtf8(a.message)},
          {"seconds", a.seconds},
          {"taken", taken},
          {"kept", ValidUtf8(a.kept)},
          {"firmware_file", a.firmwareFile},
          {"firmware_programmed", a.firmwareProgrammed},
          {"verification", a.verification}};
}

// A listing opens the database read-only: it never creates or changes a file. A release opens an
// existing database for writing.
std::unique_ptr<records::RecordStore> OpenStore(const Options& options, records::OpenMode mode) {
  try {
    return records::OpenRecordStore(options.records, mode);
  } catch (const records::RecordsError& error) {
    throw UsageError(error.what());
  }
}

records::ListFilter FilterOf(const Options& options) {
  records::ListFilter filter;
  filter.failedOnly = options.failedOnly;
  if (!options.capcodeQuery.empty()) {
    filter.capcode = ParseCapcode(options.capcodeQuery, "--capcode");
  }
  try {
    if (!options.since.empty()) filter.since = records::ParseSince(options.since);
  } catch (const records::RecordsError& error) {
    throw UsageError("--since " + std::string(error.what()));
  }
  filter.station = options.station;
  filter.limit = options.limit;
  return filter;
}

int Release(records::RecordStore& store, int slot, std::uint32_t capcode, bool force) {
  using records::ReleaseOutcome;
  const ReleaseOutcome outcome = store.Release(slot, capcode, force);
  const std::string name =
      "capcode " + std::to_string(capcode) + " of slot " + std::to_string(slot);
  const std::string holder = records::AttemptText(outcome.attempt);
  std::cerr << "tuvactl: ";
  switch (outcome.kind) {
    case ReleaseOutcome::Released:
      std::cerr << name << " is back in the pool; it was held by " << holder;
      if (outcome.attempt.erased) std::cerr << ", whose board was erased and may still hold it";
      std::cerr << std::endl;
      return kExitSuccess;
    case ReleaseOutcome::NotHeld:
      std::cerr << name << " is not held by any attempt" << std::endl;
      break;
    case ReleaseOutcome::Programmed:
      std::cerr << name << " belongs to a programmed board, " << holder
                << "; a programmed board's capcode is never released" << std::endl;
      break;
    case ReleaseOutcome::Running:
      std::cerr << name << " is held by " << holder
                << ", which a running series is writing now; it cannot be released" << std::endl;
      break;
    case ReleaseOutcome::Erased:
      std::cerr << name << " is held by " << holder
                << (outcome.attempt.result == records::Result::Failed
                        ? ", which failed after its erase"
                        : ", which sent an erase and did not finish")
                << ": that board may hold the capcode. "
                   "Read the board first (tuvactl read, then tuvactl get) and give --force to "
                   "release it anyway"
                << std::endl;
      break;
  }
  return kExitFailed;
}

// Prints the attempts as they are read; returns how many.
std::size_t PrintAll(records::RecordStore& store, const records::ListFilter& filter,
                     const Options& options) {
  std::size_t rows = 0;
  if (options.json) std::cout << "{\n  \"attempts\": [";
  if (options.csv) std::cout << records::CsvHeader();
  store.Each(filter, [&](const Attempt& a) {
    if (options.json) {
      std::cout << (rows == 0 ? "\n    " : ",\n    ") << AttemptJson(a).dump();
    } else if (options.csv) {
      std::cout << records::CsvLine(a);
    } else {
      PrintText(a);
    }
    ++rows;
  });
  // No flush here: standard output is flushed once, at the exit, where a full disk is reported
  // with its cause.
  if (options.json) std::cout << (rows == 0 ? "]\n}\n" : "\n  ]\n}\n");
  return rows;
}

// Why a capcode filter listed nothing: no board holds the capcode, or the other filters left out
// the attempts that do.
void ExplainNoCapcode(records::RecordStore& store, std::uint32_t capcode) {
  records::ListFilter holders;
  holders.capcode = capcode;
  const std::vector<Attempt> found = store.List(holders);
  if (found.empty()) {
    std::cerr << "tuvactl: no board holds capcode " << capcode << std::endl;
    return;
  }
  const auto programmed = std::find_if(found.begin(), found.end(), [](const Attempt& a) {
    return a.result == records::Result::Programmed;
  });
  std::cerr << "tuvactl: capcode " << capcode << " is held by "
            << records::AttemptText(programmed != found.end() ? *programmed : found.back())
            << ", which the other filters leave out" << std::endl;
}

// How far a list has been used, read-only. A list not imported yet has every row free.
int ListState(const Options& options) {
  series::CapcodeList list;
  try {
    list = series::ReadCapcodeList(options.listFile);
  } catch (const series::ListError& error) {
    throw UsageError(error.what());
  }
  const auto store = OpenStore(options, records::OpenMode::ReadOnly);
  const std::optional<records::ListState> state = store->FindList(list.sha256);
  const std::string shown = ValidUtf8(options.listFile);
  if (!state) {
    records::ListState fresh;
    fresh.rows = fresh.free = list.rows.size();
    std::cout << series::ListStateText(shown, fresh) << " (not imported into " << store->Name()
              << " yet)\n";
    return kExitSuccess;
  }
  std::cout << series::ListStateText(shown, *state) << '\n';
  return kExitSuccess;
}

// Drops from the journal results of another database than the one named (a lost database's
// boards, whose capcodes the technician has dealt with by hand).
int DiscardJournal(const Options& options) {
  std::int64_t id = 0;
  if (options.discardJournal != "all") {
    id =
        AttemptNumber(options.discardJournal, "--discard-journal wants an attempt's number or all");
  }
  const auto store = OpenStore(options, records::OpenMode::ReadOnly);
  const auto dropped = series::DiscardForeignResults(*store, records::DefaultJournalPath(), id);
  if (dropped.empty()) {
    std::cerr << "tuvactl: the journal " << records::DefaultJournalPath() << " holds no result "
              << (id == 0 ? std::string("") : "of attempt #" + std::to_string(id) + " ")
              << "of another records database than " << store->Name() << std::endl;
    return kExitFailed;
  }
  for (const auto& text : dropped) {
    std::cerr << "tuvactl: dropped from the journal: " << text << std::endl;
  }
  return kExitSuccess;
}

// records --image N -o FILE.tbl: the 4100 bytes attempt N wrote, rebuilt from its template and
// the bytes it changed, checked against the attempt's SHA-256 before the file is written.
int ImageCommand(const Options& options) {
  RequireAlone("--image", {{options.csv, "--csv"},
                           {options.json, "--json"},
                           {!options.capcodeQuery.empty(), "--capcode"},
                           {options.failedOnly, "--failed"},
                           {!options.since.empty(), "--since"},
                           {!options.station.empty(), "--station"},
                           {options.limit != 0, "--limit"},
                           {options.summary, "--summary"},
                           {!options.release.empty(), "--release"},
                           {options.force, "--force"}});
  records::ListFilter one;
  one.id = AttemptNumber(options.image, "--image wants an attempt's number");
  if (options.output.empty()) throw UsageError("--image wants -o FILE.tbl");
  RequireWritableFile(options.output);
  const auto store = OpenStore(options, records::OpenMode::ReadOnly);
  const std::vector<Attempt> found = store->List(one);
  if (found.empty()) {
    std::cerr << "tuvactl: " << store->Name() << " holds no attempt #" << *one.id << std::endl;
    return kExitFailed;
  }
  const std::vector<std::uint8_t> bytes = records::RebuildImage(*store, found.front());
  ConfigImage image;
  image.Assign(std::span<const std::uint8_t, kImageSize>(bytes.data(), kImageSize));
  return SaveImage(options.output, image);
}

// "Transmit Error! (2); The target board is not found ! (1)": the most frequent first.
std::string CausesText(const records::SummaryRow& row) {
  std::vector<std::pair<std::string, std::size_t>> causes(row.causes.begin(), row.causes.end());
  std::stable_sort(causes.begin(), causes.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (const auto& [cause, count] : causes) {
    if (!text.empty()) text += "; ";
    text += ValidUtf8(cause) + " (" + std::to_string(count) + ")";
  }
  return text;
}

nlohmann::json SummaryJson(const records::SummaryRow& row) {
  nlohmann::json causes = nlohmann::json::object();
  for (const auto& [cause, count] : row.causes) causes[ValidUtf8(cause)] = count;
  return {{"period", row.period},
          {"station", ValidUtf8(row.station)},
          {"programmed", row.programmed},
          {"reprovisioned", row.reprovisioned},
          {"skipped", row.skipped},
          {"failed", row.failed},
          {"open", row.open},
          {"causes", causes},
          {"hours", row.hours},
          {"boards_per_hour", row.boardsPerHour()}};
}

// One line per station and period, the station's column as wide as its longest name.
void PrintSummary(const std::vector<records::SummaryRow>& rows, records::SummaryPeriod by) {
  std::size_t width = std::string("station").size();
  for (const auto& row : rows) width = std::max(width, ValidUtf8(row.station).size());
  const int period = by == records::SummaryPeriod::Hour ? 17 : 10;
  auto line = [&](const std::string& when, const std::string& station,
                  const std::vector<std::string>& numbers, const std::string& causes) {
    std::ostringstream text;
    text << std::left << std::setw(period) << when << "  " << std::setw(static_cast<int>(width))
         << station << std::right;
    const int widths[] = {10, 13, 7, 6, 4, 8};
    for (std::size_t i = 0; i < numbers.size(); ++i)
      text << "  " << std::setw(widths[i]) << numbers[i];
    if (!causes.empty()) text << "  " << causes;
    std::cout << text.str() << '\n';
  };
  line(by == records::SummaryPeriod::Hour ? "hour (UTC)" : "day (UTC)", "station",
       {"programmed", "reprovisioned", "skipped", "failed", "open", "boards/h"}, "failures");
  for (const auto& row : rows) {
    line(row.period, ValidUtf8(row.station),
         {std::to_string(row.programmed), std::to_string(row.reprovisioned),
          std::to_string(row.skipped), std::to_string(row.failed), std::to_string(row.open),
          Seconds(row.boardsPerHour())},
         CausesText(row));
  }
}

// records --summary: the attempts --since and --station let through, counted per station and
// hour (or day).
int SummaryCommand(const Options& options, const records::ListFilter& filter) {
  RequireAlone("--summary", {{options.csv, "--csv"},
                             {!options.capcodeQuery.empty(), "--capcode"},
                             {options.failedOnly, "--failed"},
                             {options.limit != 0, "--limit"},
                             {!options.release.empty(), "--release"},
                             {options.force, "--force"}});
  records::SummaryPeriod by = records::SummaryPeriod::Hour;
  if (options.by == "day") {
    by = records::SummaryPeriod::Day;
  } else if (!options.by.empty() && options.by != "hour") {
    throw UsageError("--by wants hour or day, not \"" + options.by + "\"");
  }
  const auto store = OpenStore(options, records::OpenMode::ReadOnly);
  const std::vector<records::SummaryRow> rows = records::Summarise(*store, filter, by);
  if (!options.json) {
    PrintSummary(rows, by);
    return kExitSuccess;
  }
  std::cout << '[';
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::cout << (i == 0 ? "\n  " : ",\n  ") << SummaryJson(rows[i]).dump();
  }
  std::cout << (rows.empty() ? "]\n" : "\n]\n");
  return kExitSuccess;
}

}  // namespace

int RecordsCommand(const Options& options) {
  if (!options.listFile.empty()) return ListState(options);
  if (!options.discardJournal.empty()) return DiscardJournal(options);
  if (!options.image.empty()) return ImageCommand(options);
  if (!options.output.empty()) throw UsageError("-o goes with --image");
  if (options.json && options.csv) throw UsageError("records prints --json or --csv, not both");
  if (!options.by.empty() && !options.summary) throw UsageError("--by goes with --summary");
  const records::ListFilter filter = FilterOf(options);
  if (options.summary) return SummaryCommand(options, filter);
  std::optional<std::pair<int, std::uint32_t>> release;
  if (!options.release.empty()) release = ParseRelease(options.release);
  if (options.force && !release) throw UsageError("--force goes with --release");

  const auto store =
      OpenStore(options, release ? records::OpenMode::Existing : records::OpenMode::ReadOnly);
  if (release) return Release(*store, release->first, release->second, options.force);
  const std::size_t rows = PrintAll(*store, filter, options);
  if (filter.capcode && rows == 0) {
    ExplainNoCapcode(*store, *filter.capcode);
    return kExitFailed;
  }
  return kExitSuccess;
}

}  // namespace tuva::cli
