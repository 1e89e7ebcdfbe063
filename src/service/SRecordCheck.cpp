// What makes an S-record file safe to burn into the board. The loader reads every line by the
// columns of an S2 record and never looks at a record's type or checksum, so any other text (a
// configuration file picked by mistake, S1 or S3 records, a file damaged in transit) loads as
// garbage, or as nothing but the sum bytes, and programming then erases a working board for it.
// The check reads each record as what it is, and the file as a whole as firmware for the window,
// whose count record must tally its data records: a file that lost a line would otherwise load,
// program and verify against itself as good.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "service/SRecordLines.h"
#include "service/SRecordLoader.h"

namespace tuva {
namespace {

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// One line of the file as a record: its type digit and its bytes (count, address, data,
// checksum).
struct Record {
  char type = 0;
  std::vector<std::uint8_t> bytes;
};

// The record on `line`, or the reason it is none.
std::string ReadRecord(std::string_view line, Record& record) {
  if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
    return "not an S-record";
  }
  record.type = line[1];
  const std::string_view digits = line.substr(2);
  if (digits.size() % 2 != 0) return "an odd number of hexadecimal digits";
  record.bytes.clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexDigit(digits[i]);
    const int low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return "a character that is not a hexadecimal digit";
    record.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  if (record.bytes.empty() || record.bytes[0] + 1u != record.bytes.size()) {
    return "its byte count does not match its length";
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < record.bytes.size(); ++i) sum += record.bytes[i];
  const std::uint8_t expected = static_cast<std::uint8_t>(~sum & 0xFF);
  if (record.bytes.back() != expected) {
    return "bad checksum " + Hex(record.bytes.back(), 2) + " (the record's bytes give " +
           Hex(expected, 2) + ")";
  }
  return {};
}

// Walks the records in order and keeps what the file as a whole must show.
class Checker {
 public:
  std::string Next(std::string_view line) {
    Record record;
    std::string problem = ReadRecord(line, record);
    if (!problem.empty()) return problem;
    const bool first = !headerSeen_;
    headerSeen_ = true;
    if (first) return record.type == '0' ? "" : "the file does not begin with an S0 header record";
    switch (record.type) {
      case '2':
        ++dataRecords_;
        return Data(record);
      case '5':
      case '6':
        return Count(record);
      case '8':
        if (record.bytes[0] != 4) return "an S8 record with data";
        if (ended_) return "a second S8 end record";
        ended_ = true;
        return {};
      case '0':
        return "a second S0 header record";
      default:
        return std::string("an S") + record.type +
               " record, which a firmware file for this board (S2 records, 24-bit addresses) "
               "does not hold";
    }
  }

  bool HasData() const { return hasData_; }
  bool Counted() const { return counted_; }

 private:
  // The S5 record (S6 once there are more than 65535) holds in its address field the number of
  // data records before it: the one sign in the file that a record went missing in transit. Only
  // the S8 end record may follow it.
  std::string Count(const Record& record) {
    const std::string name = std::string("S") + record.type;
    const std::size_t fieldBytes = record.type == '5' ? 2 : 3;
    if (record.bytes[0] != fieldBytes + 1) return "an " + name + " record with data";
    if (counted_) return "a second count record";
    if (ended_) return "an " + name + " record after the S8 end record";
    counted_ = true;
    std::size_t counted = 0;
    for (std::size_t i = 1; i <= fieldBytes; ++i) counted = counted * 256 + record.bytes[i];
    if (counted == dataRecords_) return {};
    const std::string numbers = "the " + name + " record counts " + std::to_string(counted) +
                                " data records, the file has " + std::to_string(dataRecords_);
    if (counted > dataRecords_) {
      return numbers +
             (counted - dataRecords_ == 1 ? " (a record is missing)" : " (records are missing)");
    }
    return numbers + " (more than it counts)";
  }

  std::string Data(const Record& record) {
    if (record.bytes[0] < 4) return "an S2 record too short for its address";
    if (counted_ || ended_) return "an S2 record after the count or end record";
    const std::uint32_t address = static_cast<std::uint32_t>(record.bytes[1]) << 16 |
                                  static_cast<std::uint32_t>(record.bytes[2]) << 8 |
                                  record.bytes[3];
    const std::uint32_t size = record.bytes[0] - 4u;
    if (size == 0) return {};
    if (address < kWindowBase || address + size > kWindowEnd) {
      return "data at 0x" + Hex(address, 5) + "-0x" + Hex(address + size - 1, 5) +
             " lies outside the firmware window 0xE0000-0xEFFFF";
    }
    hasData_ = true;
    return {};
  }

  bool headerSeen_ = false;
  bool counted_ = false;
  bool ended_ = false;
  std::size_t dataRecords_ = 0;
  bool hasData_ = false;
};

}  // namespace

std::optional<SRecordProblem> CheckSRecordText(std::string_view text) {
  Checker checker;
  std::optional<SRecordProblem> found;
  EachSRecordLine(text, [&](std::size_t number, std::string_view line) {
    std::string problem = checker.Next(line);
    if (!problem.empty()) found = SRecordProblem{number, std::move(problem)};
    return !found;
  });
  if (found) return found;
  if (!checker.HasData()) {
    return SRecordProblem{0, "no S2 record holds data for the firmware window 0xE0000-0xEFFFF"};
  }
  if (!checker.Counted()) {
    return SRecordProblem{0, "the file has no S5 or S6 record counting its data records"};
  }
  FirmwareBuffer loaded;
  LoadSRecordText(text, loaded);
  const std::string identification = loaded.Identification();
  const bool printable =
      identification.size() >= 6 && std::all_of(identification.begin(), identification.end(),
                                                [](char c) { return c >= 0x20 && c <= 0x7E; });
  if (!printable) {
    return SRecordProblem{
        0, "no identification text at 0xEFFE0 (the model and version the board reports)"};
  }
  return std::nullopt;
}

std::string SRecordProblem::Text() const {
  return line == 0 ? reason : "line " + std::to_string(line) + ": " + reason;
}

}  // namespace tuva
