#include "records/RecordText.h"

#include <cstdio>

#include "image/Utf8.h"

namespace tuva::records {
namespace {

std::string Csv(const std::string& raw) {
  const std::string field = ValidUtf8(raw);
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string TakenText(const Attempt& attempt) {
  std::string text;
  for (const Attempt::Taken& taken : attempt.taken) {
    if (!text.empty()) text += ' ';
    text += std::to_string(taken.slot) + "=" + std::to_string(taken.capcode);
    if (!taken.held) text += "(free)";
  }
  return text;
}

std::string CsvHeader() {
  return "id,time,station,port,firmware,capcodes,frequency,sha256,result,erased,message,"
         "seconds,taken\n";
}

std::string CsvLine(const Attempt& a) {
  // Built by appending: a listing of a million boards spends its time here.
  std::string capcodes;
  for (std::size_t i = 0; i < a.capcodes.size(); ++i) {
    if (i) capcodes += ' ';
    capcodes += a.capcodes[i];
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", a.seconds);
  std::string line = std::to_string(a.id);
  for (const std::string& field :
       {Csv(a.time), Csv(a.station), Csv(a.port), Csv(a.firmware), Csv(capcodes), Csv(a.frequency),
        a.sha256, ResultName(a.result), std::string(a.erased ? "yes" : "no"), Csv(a.message),
        std::string(seconds), Csv(TakenText(a))}) {
    line += ',';
    line += field;
  }
  line += '\n';
  return line;
}

std::string AttemptsCsv(const std::vector<Attempt>& attempts) {
  std::string text = CsvHeader();
  for (const Attempt& a : attempts) text += CsvLine(a);
  return text;
}

std::string AttemptText(const Attempt& a) {
  return "attempt #" + std::to_string(a.id) + " (" + ResultName(a.result) + ", " +
         (a.port.empty() ? "-" : a.port) + ", station " + (a.station.empty() ? "-" : a.station) +
         ", " + a.time + ")";
}

}  // namespace tuva::records
