// tuvactl records: the list of programmed boards (text, JSON or CSV), the board that holds a
// capcode, and the return of a failed board's capcode to the pool.
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Commands.h"
#include "image/Utf8.h"
#include "records/RecordStore.h"
#include "records/RecordText.h"

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

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

std::string Seconds(double seconds) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << seconds;
  return text.str();
}

void PrintText(const std::vector<Attempt>& attempts) {
  for (const Attempt& a : attempts) {
    std::cout << '#' << a.id << "  " << a.time << "  " << OrDash(ValidUtf8(a.station)) << "  "
              << OrDash(ValidUtf8(a.port)) << "  " << OrDash(records::TakenText(a)) << "  "
              << OrDash(ValidUtf8(a.firmware)) << "  " << OrDash(a.frequency) << "  "
              << records::ResultName(a.result) << "  " << Seconds(a.seconds) << " s";
    if (!a.message.empty()) std::cout << "  " << ValidUtf8(a.message);
    std::cout << '\n';
  }
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
          {"result", records::ResultName(a.result)},
          {"erased", a.erased},
          {"message", ValidUtf8(a.message)},
          {"seconds", a.seconds},
          {"taken", taken}};
}

std::unique_ptr<records::RecordStore> OpenStore(const Options& options) {
  try {
    return records::OpenRecordStore(options.records);
  } catch (const records::RecordsError& error) {
    throw UsageError(error.what());
  }
}

}  // namespace

int RecordsCommand(const Options& options) {
  if (options.json && options.csv) throw UsageError("records prints --json or --csv, not both");
  records::ListFilter filter;
  filter.failedOnly = options.failedOnly;
  if (!options.capcodeQuery.empty())
    filter.capcode = ParseCapcode(options.capcodeQuery, "--capcode");
  std::optional<std::pair<int, std::uint32_t>> release;
  if (!options.release.empty()) release = ParseRelease(options.release);

  const auto store = OpenStore(options);
  try {
    if (release) {
      const auto [slot, capcode] = *release;
      const std::string name =
          "capcode " + std::to_string(capcode) + " of slot " + std::to_string(slot);
      if (!store->Release(slot, capcode)) {
        std::cerr << "tuvactl: " << name
                  << " is not held by a failed board (a programmed board's capcode is never "
                     "released)"
                  << std::endl;
        return kExitFailed;
      }
      std::cout << name << " is back in the pool" << std::endl;
      return kExitSuccess;
    }
    const std::vector<Attempt> attempts = store->List(filter);
    if (options.json) {
      nlohmann::json rows = nlohmann::json::array();
      for (const Attempt& a : attempts) rows.push_back(AttemptJson(a));
      std::cout << nlohmann::json{{"attempts", rows}}.dump(2) << std::endl;
    } else if (options.csv) {
      std::cout << records::AttemptsCsv(attempts);
    } else {
      PrintText(attempts);
    }
    if (filter.capcode && attempts.empty()) {
      std::cerr << "tuvactl: no board holds capcode " << *filter.capcode << std::endl;
      return kExitFailed;
    }
    return kExitSuccess;
  } catch (const records::RecordsError& error) {
    std::cerr << "tuvactl: " << error.what() << std::endl;
    return kExitFailed;
  }
}

}  // namespace tuva::cli
