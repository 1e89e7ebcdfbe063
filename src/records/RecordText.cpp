#include "records/RecordText.h"

#include "image/Utf8.h"

#include <sstream>

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

std::string AttemptsCsv(const std::vector<Attempt>& attempts) {
  std::ostringstream out;
  out << "id,time,station,port,firmware,capcodes,frequency,sha256,result,erased,message,"
         "seconds,taken\n";
  for (const Attempt& a : attempts) {
    std::string capcodes;
    for (std::size_t i = 0; i < a.capcodes.size(); ++i) {
      if (i) capcodes += ' ';
      capcodes += a.capcodes[i];
    }
    out << a.id << ',' << Csv(a.time) << ',' << Csv(a.station) << ',' << Csv(a.port) << ','
        << Csv(a.firmware) << ',' << Csv(capcodes) << ',' << Csv(a.frequency) << ',' << a.sha256
        << ',' << ResultName(a.result) << ',' << (a.erased ? "yes" : "no") << ',' << Csv(a.message)
        << ',' << a.seconds << ',' << Csv(TakenText(a)) << '\n';
  }
  return out.str();
}

}  // namespace tuva::records
