#include "series/CapcodeList.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "features/FieldTable.h"
#include "features/FieldValues.h"
#include "image/CapcodeCodec.h"
#include "image/Utf8.h"
#include "records/RecordText.h"
#include "records/Sha256.h"

namespace tuva::series {
namespace {

// The slot of a "capcode.N.address" name (or of another `suffix`); 0 for any other name.
int CapcodeSlotOf(std::string_view name, std::string_view suffix = ".address") {
  constexpr std::string_view prefix = "capcode.";
  if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - suffix.size()) != suffix) {
    return 0;
  }
  const std::string_view number =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  int slot = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), slot);
  if (error != std::errc() || end != number.data() + number.size()) return 0;
  return slot >= 1 && slot <= kCapcodeSlots ? slot : 0;
}

std::vector<std::pair<std::string, std::string>> Changes(const std::vector<std::string>& header,
                                                         const std::vector<std::string>& values) {
  std::vector<std::pair<std::string, std::string>> changes;
  for (std::size_t i = 0; i < header.size() && i < values.size(); ++i) {
    changes.emplace_back(header[i], values[i]);
  }
  return changes;
}

// What a capcode column puts on the board: its slot, the capcode the slot then answers to (none
// when the slot's words name no number) and whether the slot is enabled.
struct RowCapcode {
  int slot = 0;
  std::optional<std::uint32_t> capcode;
  bool enabled = false;
};

// Read back from `image`, the template with the row applied, column by column: a value in any
// form the setter takes (decimal, "bytes:18 EA 14") comes out as the capcode the board answers
// to, so what is checked and recorded is what is written.
std::vector<RowCapcode> GivenCapcodes(const std::vector<std::string>& header,
                                      const ConfigImage& image) {
  const CapcodeRefill refill = DecodeCapcodes(image);
  std::vector<RowCapcode> capcodes;
  for (const std::string& name : header) {
    const int slot = CapcodeSlotOf(name);
    if (slot == 0) continue;
    const CapcodeSlotView& view = refill.slots[static_cast<std::size_t>(slot - 1)];
    // A slot whose words name no number (or hold the second word of a pair) shows no value.
    capcodes.push_back({slot, view.value, CapcodeEnabled(image, slot - 1)});
  }
  return capcodes;
}

// The capcodes a row gives, (slot, capcode), as the records hold them; none for a row the
// setters refuse (CheckCapcodeList refuses the list).
std::vector<std::pair<int, std::uint32_t>> RowCapcodes(const std::vector<std::string>& header,
                                                       const std::vector<std::string>& values,
                                                       const ConfigImage& templateImage) {
  ConfigImage image = templateImage;
  std::vector<std::pair<int, std::uint32_t>> held;
  if (ApplyFieldTexts(image, Changes(header, values))) return held;
  for (const RowCapcode& given : GivenCapcodes(header, image)) {
    if (given.capcode) held.emplace_back(given.slot, *given.capcode);
  }
  return held;
}

// The setters' refusal of a row's values, as one line.
std::optional<std::string> Refusal(ConfigImage& image, const std::vector<std::string>& header,
                                   const std::vector<std::string>& values) {
  const ConfigImage before = image;
  if (auto refused = ApplyFieldTexts(image, Changes(header, values))) {
    return ValidUtf8(refused->field) + ": " + InTextTerms(before, *refused);
  }
  return std::nullopt;
}

// The records keep a row as one CSV line whose bytes outside printable ASCII, and '%', are
// written %XX: a prompt in Latin-1 survives a database that takes only UTF-8 text.
std::string Escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '%') {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      plain += text[i];
      continue;
    }
    unsigned byte = 0;
    if (i + 2 >= text.size()) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
    if (error != std::errc() || end != text.data() + i + 3) return std::nullopt;
    plain += static_cast<char>(byte);
    i += 2;
  }
  return plain;
}

// What the reader takes, said with every refusal of the file's form.
constexpr const char* kListForm =
    "the list takes CSV: values separated by commas, lines ending in LF or CR LF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// One row of CSV: the values, or why the line is none. The operator's file gives values with
// spaces around them ("1500000, 1500001") as it gives its header names: with `trim`, spaces and
// tabs outside quotes do not belong to a value, and a value in quotes keeps its own. The records'
// form of a row keeps every byte.
struct CsvRow {
  std::vector<std::string> values;
  std::string fault;  // empty when the line is a row
};

CsvRow ParseRow(std::string_view line, bool trim) {
  CsvRow row;
  row.values.emplace_back();
  bool quoted = false;     // inside a quoted value
  bool wasQuoted = false;  // the current value was quoted: only a comma may follow its end
  std::size_t kept = 0;    // the current value up to its last byte that is no blank
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    std::string& value = row.values.back();
    if (quoted) {
      if (c != '"') {
        value += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        value += '"';
        ++i;
      } else {
        quoted = false;
      }
      kept = value.size();
    } else if (c == ',') {
      if (trim) value.resize(kept);
      row.values.emplace_back();
      wasQuoted = false;
      kept = 0;
    } else if (trim && IsBlank(c) && (value.empty() || wasQuoted)) {
      continue;  // before a value, or after its closing quote
    } else if (wasQuoted) {
      row.fault = "text follows a closing quote (a quote inside a quoted value is written \"\")";
      return row;
    } else if (c == '"' && value.empty()) {
      quoted = wasQuoted = true;
    } else {
      value += c;
      if (!IsBlank(c)) kept = value.size();
    }
  }
  if (quoted) {
    row.fault = "a quoted value does not end on its line (a value may not span lines)";
    return row;
  }
  if (trim) row.values.back().resize(kept);
  return row;
}

}  // namespace

std::optional<std::vector<std::string>> ParseCsvLine(std::string_view line) {
  CsvRow row = ParseRow(line, false);
  if (!row.fault.empty()) return std::nullopt;
  return std::move(row.values);
}

std::string CsvLine(const std::vector<std::string>& values) {
  std::string line;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += ',';
    records::AppendCsvField(line, values[i]);
  }
  return line;
}

CapcodeList ReadCapcodeList(const std::string& path) {
  const std::string shown = ValidUtf8(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ListError("the list " + shown + " cannot be read");
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) throw ListError("the list " + shown + " cannot be read");
  CapcodeList list;
  list.path = path;
  list.sha256 =
      records::Sha256Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    const std::string where = shown + " line " + std::to_string(number) + ": ";
    // A file saved with the old Mac line ends is one long line to this reader.
    if (line.find('\r') != std::string_view::npos) {
      throw ListError(where + "a line ends in a carriage return alone; " + kListForm);
    }
    CsvRow row = ParseRow(line, true);
    if (!row.fault.empty()) throw ListError(where + "not a CSV row: " + row.fault);
    if (list.header.empty()) {
      // No field name holds either: a spreadsheet that saved its CSV with another separator.
      for (const std::string& name : row.values) {
        const auto other = name.find_first_of(";\t");
        if (other == std::string::npos) continue;
        throw ListError(where + "the header's names are separated by " +
                        (name[other] == ';' ? "semicolons" : "tabs") + "; " + kListForm);
      }
      list.header = std::move(row.values);
      continue;
    }
    if (row.values.size() != list.header.size()) {
      throw ListError(where + std::to_string(row.values.size()) + " values for the header's " +
                      std::to_string(list.header.size()) + " fields");
    }
    list.rows.push_back({number, std::move(row.values)});
  }
  return list;
}

std::optional<std::string> CheckCapcodeList(const CapcodeList& list,
                                            const ConfigImage& templateImage,
                                            std::string_view templateName,
                                            const std::vector<int>& countingSlots) {
  const std::string shown = ValidUtf8(list.path);
  if (list.header.empty()) return "the list " + shown + " is empty";
  std::set<std::string> named;
  for (const std::string& name : list.header) {
    const Field* field = FindField(name);
    if (!field || !IsSettable(*field)) return shown + " line 1: " + UnknownFieldMessage(name);
    if (!named.insert(name).second) return shown + " line 1: " + name + " is named twice";
    // A counted slot's capcode, and its ON box, come from the count alone.
    const int slot = std::max(CapcodeSlotOf(name), CapcodeSlotOf(name, ".enabled"));
    for (const int counted : countingSlots) {
      if (slot != 0 && slot == counted) {
        return "capcode slot " + std::to_string(slot) + " is counted and also given by the list " +
               shown + " (" + name + "): count another slot, or leave the column out";
      }
    }
  }
  if (list.rows.empty()) return "the list " + shown + " is empty: it has no row under its header";
  const std::string file(templateName);
  std::map<std::uint32_t, int> seen;  // capcode -> the line that gives it first
  for (const CapcodeList::Row& row : list.rows) {
    const std::string where = shown + " line " + std::to_string(row.line) + ": ";
    ConfigImage trial = templateImage;
    if (auto refused = Refusal(trial, list.header, row.values)) return where + *refused;
    for (const RowCapcode& given : GivenCapcodes(list.header, trial)) {
      const std::string slot = std::to_string(given.slot);
      if (!given.capcode) {
        return where + "capcode." + slot + ".address names no capcode the board answers to (" +
               GetFieldText(trial, *FindField("capcode." + slot + ".address")) + ")";
      }
      // A capcode in a slot that is off is one the board never answers to.
      if (!given.enabled) {
        return where + "capcode slot " + slot + " is disabled in " + file +
               ": enable it with `tuvactl set " + file + " capcode." + slot +
               ".enabled=on`, or give the list a capcode." + slot + ".enabled column";
      }
      const auto [earlier, fresh] = seen.emplace(*given.capcode, row.line);
      if (!fresh) {
        return where + "capcode " + std::to_string(*given.capcode) +
               " is given twice (also on line " + std::to_string(earlier->second) + ")";
      }
    }
  }
  return std::nullopt;
}

std::vector<int> ListSlots(const CapcodeList& list) {
  std::vector<int> slots;
  for (const std::string& name : list.header) {
    if (const int slot = CapcodeSlotOf(name)) slots.push_back(slot);
  }
  return slots;
}

std::vector<ListCapcode> ListCapcodes(const CapcodeList& list, const ConfigImage& templateImage) {
  std::vector<ListCapcode> capcodes;
  for (const CapcodeList::Row& row : list.rows) {
    for (const auto& [slot, capcode] : RowCapcodes(list.header, row.values, templateImage)) {
      capcodes.push_back({row.line, capcode});
    }
  }
  return capcodes;
}

records::ListImport ListImportOf(const CapcodeList& list, const ConfigImage& templateImage) {
  records::ListImport import;
  import.sha256 = list.sha256;
  import.name = ValidUtf8(list.path);
  import.header = CsvLine(list.header);
  for (const CapcodeList::Row& row : list.rows) {
    import.rows.push_back({row.line, Escaped(CsvLine(row.values)),
                           RowCapcodes(list.header, row.values, templateImage)});
  }
  return import;
}

std::optional<std::string> ApplyListRow(ConfigImage& image, const CapcodeList& list,
                                        const records::ListRow& row) {
  const std::string where = ValidUtf8(list.path) + " line " + std::to_string(row.line) + ": ";
  const auto line = Unescaped(row.fields);
  const auto values = line ? ParseCsvLine(*line) : std::nullopt;
  if (!values || values->size() != list.header.size()) {
    return where + "the records keep this row in another form than the list's header";
  }
  if (auto refused = Refusal(image, list.header, *values)) return where + *refused;
  return std::nullopt;
}

}  // namespace tuva::series
