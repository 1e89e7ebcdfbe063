#include "records/RecordText.h"

#include <charconv>
#include <initializer_list>
#include <string_view>

#include "image/Utf8.h"

namespace tuva::records {
namespace {

// A spreadsheet opening the file runs a cell starting with one of these as a formula (a station
// named =HYPERLINK(...), a list value "-1+2"); such a text cell is written with a leading ' so it
// is shown as the text it is. The numbers the program writes itself (id, seconds) never come here.
bool StartsFormula(const std::string& field) {
  return !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos;
}

// Appends a text field, quoted when it holds a comma, a quote or a line break. Plain ASCII (nearly
// every field) is copied as it is in one pass; anything else goes through ValidUtf8 first.
void AppendCsv(std::string& line, const std::string& raw) {
  bool plain = !StartsFormula(raw);
  for (const char c : raw) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == ',' || c == '"' || c == '\r' || c == '\n') {
      plain = false;
      break;
    }
  }
  if (plain) {
    line += raw;
    return;
  }
  std::string field = ValidUtf8(raw);
  if (StartsFormula(field)) field.insert(0, 1, '\'');
  AppendCsvField(line, field);
}

}  // namespace

void AppendCsvField(std::string& line, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    line += field;
    return;
  }
  line += '"';
  for (const char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

void AppendListed(std::string& list, std::string_view item, std::string_view separator) {
  if (!list.empty()) list += separator;
  list += item;
}

std::string TakenText(const Attempt& attempt) {
  std::string text;
  for (const Attempt::Taken& taken : attempt.taken) {
    AppendListed(text, std::to_string(taken.slot) + "=" + std::to_string(taken.capcode), " ");
    if (!taken.held) text += "(free)";
  }
  return text;
}

std::string CsvHeader() {
  return "id,time,station,port,firmware,capcodes,frequency,sha256,result,erased,message,"
         "seconds,taken,kept,firmware_file,firmware_programmed,verification\n";
}

std::string CsvLine(const Attempt& a) {
  // Built by appending into one string: a listing of a million boards spends its time here.
  std::string capcodes;
  for (std::size_t i = 0; i < a.capcodes.size(); ++i) {
    if (i) capcodes += ' ';
    capcodes += a.capcodes[i];
  }
  // As printf's "%g" writes it (the same digits by definition), without printf's cost.
  char seconds[32];
  *std::to_chars(seconds, seconds + sizeof seconds - 1, a.seconds, std::chars_format::general, 6)
       .ptr = '\0';
  std::string line = std::to_string(a.id);
  line.reserve(256);
  for (const std::string* field : std::initializer_list<const std::string*>{
           &a.time, &a.station, &a.port, &a.firmware, &capcodes, &a.frequency}) {
    line += ',';
    AppendCsv(line, *field);
  }
  line += ',';
  line += a.sha256;
  line += ',';
  line += ResultText(a);
  line += a.erased ? ",yes," : ",no,";
  AppendCsv(line, a.message);
  line += ',';
  line += seconds;
  line += ',';
  AppendCsv(line, TakenText(a));
  line += ',';
  AppendCsv(line, a.kept);
  line += ',';
  line += a.firmwareFile;
  line += a.firmwareProgrammed ? ",yes," : ",no,";
  line += a.verification;
  line += '\n';
  return line;
}

std::string AttemptsCsv(const std::vector<Attempt>& attempts) {
  std::string text = CsvHeader();
  for (const Attempt& a : attempts) text += CsvLine(a);
  return text;
}

std::string AttemptText(const Attempt& a) {
  return "attempt #" + std::to_string(a.id) + " (" + ResultText(a) + ", " +
         (a.port.empty() ? "-" : a.port) + ", station " + (a.station.empty() ? "-" : a.station) +
         ", " + a.time + ")";
}

}  // namespace tuva::records
