#include "features/FieldDiff.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace tuva {
namespace {

constexpr int kCapcodes = 16;
constexpr int kOutputs = 9;
constexpr int kPrompts = 16;

std::string Numbered(const char* prefix, int number, const char* suffix = "") {
  return prefix + std::to_string(number) + suffix;
}

std::vector<std::string> BuildWindowOrder() {
  std::vector<std::string> order;
  const auto add = [&order](std::string name) { order.push_back(std::move(name)); };
  // Capcode & Freq & Features: the frequency group, the capcodes column by column, then on the
  // right the output features and the features group.
  for (const char* name : {"pll.band", "pll.n", "pll.r", "receiver.polarity"}) add(name);
  add("capcode.address_mode");
  for (int c = 1; c <= kCapcodes; ++c) {
    add(Numbered("capcode.", c, ".address"));
    add(Numbered("capcode.", c, ".enabled"));
  }
  add("serial.function_checksum");
  add("serial.function_enable");
  for (int which = 1; which <= 2; ++which) {
    add(Numbered("security.function_password.", which, ".count"));
    add(Numbered("security.function_password.", which));
  }
  add("outputs.power_up_enable");
  for (int i = 1; i <= kOutputs; ++i) add(Numbered("outputs.", i, ".power_up"));
  add("outputs.pre_scaler");
  for (int i = 1; i <= kOutputs; ++i) add(Numbered("outputs.", i, ".period"));
  for (const char* name :
       {"outputs.receiving_output", "outputs.out_of_range_output", "outputs.syn_output",
        "security.read_password", "security.sequential_lock", "security.out_of_range_timeout",
        "security.test_mode"})
    add(name);
  // Serial Output Features: the parameters row by row, then the strings of each capcode.
  for (const char* name :
       {"serial.enable", "serial.baud", "serial.parity", "serial.data_bits", "serial.stop_bits",
        "serial.led", "serial.message_delay", "security.fc_as_password", "serial.rts",
        "serial.function_filter_disable", "serial.insert_cr", "serial.insert_lf",
        "serial.time_update"})
    add(name);
  for (int c = 1; c <= kCapcodes; ++c) {
    for (const char* kind : {".header", ".trailer", ".timeout"}) {
      add(Numbered("capcode.", c, kind) + ".count");
      add(Numbered("capcode.", c, kind));
    }
    add(Numbered("capcode.", c, ".internal_function_command"));
    add(Numbered("capcode.", c, ".function_code"));
  }
  // Source Prompts.
  add("prompt.source_mode");
  for (int i = 1; i <= kPrompts; ++i) add(Numbered("prompt.", i));
  return order;
}

// A family of derived fields: what its members are, how its folded row is named, and how the count
// names it.
struct Family {
  const char* name;
  const char* label;
  const char* counted;  // "the group map"
  bool plural;          // "the time update copies that follow"
  bool copies;          // the label counts its differing members as copies
  bool (*member)(const std::string& name);
};

const std::array<Family, 4> kFamilies = {{
    {"capcode.group_map", "Capcode group map", "the group map", false, true,
     [](const std::string& name) { return name.starts_with("capcode.group_map"); }},
    {"serial.time_update.copies", "Time Update copies", "the time update copies", true, true,
     [](const std::string& name) {
       return name == "serial.time_update.bit" || name == "serial.time_update.copy";
     }},
    {"serial.message_delay.in_use", "Message time-out delay in use", "the message delay flag",
     false, false, [](const std::string& name) { return name == "serial.message_delay.in_use"; }},
    {"image.sum", "Image sum and check bytes", "the image sum", false, false,
     [](const std::string& name) { return name == "image.sum" || name == "image.check"; }},
}};

int FamilyOf(const Field& field) {
  for (std::size_t i = 0; i < kFamilies.size(); ++i)
    if (kFamilies[i].member(field.name)) return static_cast<int>(i);
  return -1;
}

// The value as the programmer shows it; with the bytes when the two shown values alone look equal.
std::string Shown(const Field& field, const ConfigImage& image, bool withHex) {
  std::string text = field.Text(image);
  if (withHex) text += " [" + field.Hex(image) + "]";
  return text;
}

void AddDistinct(std::string& joined, std::vector<std::string>& seen, const std::string& value) {
  if (std::find(seen.begin(), seen.end(), value) != seen.end()) return;
  seen.push_back(value);
  if (!joined.empty()) joined += ", ";
  joined += value;
}

DiffRow FoldFamily(const Family& family, const std::vector<const Field*>& members,
                   const ConfigImage& a, const ConfigImage& b) {
  DiffRow row;
  row.name = family.name;
  row.label = family.label;
  if (family.copies) {
    const std::size_t n = members.size();
    row.copies = std::to_string(n) + (n == 1 ? " copy" : " copies");
    row.label += " (" + row.copies + ")";
  }
  row.fields = members;
  row.derived = true;
  std::vector<std::string> seenA;
  std::vector<std::string> seenB;
  for (const Field* field : members) {
    const bool sameText = field->Text(a) == field->Text(b);
    AddDistinct(row.a, seenA, Shown(*field, a, sameText));
    AddDistinct(row.b, seenB, Shown(*field, b, sameText));
  }
  return row;
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

const std::vector<std::string>& WindowFieldOrder() {
  static const std::vector<std::string> order = BuildWindowOrder();
  return order;
}

ReadableDiff ReadableDifferences(const std::vector<const Field*>& differing, const ConfigImage& a,
                                 const ConfigImage& b) {
  static const std::unordered_map<std::string, std::size_t> rank = [] {
    std::unordered_map<std::string, std::size_t> ranks;
    for (const std::string& name : WindowFieldOrder()) ranks.emplace(name, ranks.size());
    return ranks;
  }();
  // Editor fields by their place in the window; any other field after them, in table order.
  std::vector<std::pair<std::size_t, const Field*>> stored;
  std::array<std::vector<const Field*>, kFamilies.size()> families;
  for (std::size_t i = 0; i < differing.size(); ++i) {
    const Field* field = differing[i];
    if (const int family = FamilyOf(*field); family >= 0) {
      families[static_cast<std::size_t>(family)].push_back(field);
      continue;
    }
    const auto found = rank.find(field->name);
    stored.emplace_back(found != rank.end() ? found->second : rank.size() + i, field);
  }
  std::stable_sort(stored.begin(), stored.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });

  ReadableDiff diff;
  for (const auto& [place, field] : stored) {
    const bool sameText = field->Text(a) == field->Text(b);
    diff.rows.push_back(DiffRow{field->name,
                                field->label,
                                Shown(*field, a, sameText),
                                Shown(*field, b, sameText),
                                {field},
                                false,
                                {}});
  }
  diff.fields = static_cast<int>(diff.rows.size());
  for (std::size_t i = 0; i < kFamilies.size(); ++i) {
    if (families[i].empty()) continue;
    diff.rows.push_back(FoldFamily(kFamilies[i], families[i], a, b));
    diff.derived.emplace_back(kFamilies[i].counted);
    diff.derivedPlural = diff.derived.size() > 1 || kFamilies[i].plural;
  }
  return diff;
}

ReadableDiff ReadableDifferences(const ConfigImage& a, const ConfigImage& b) {
  return ReadableDifferences(DiffImages(a, b), a, b);
}

std::string DiffCount(const ReadableDiff& diff) {
  const std::string derived = Listed(diff.derived);
  if (diff.fields == 0) {
    if (derived.empty()) return {};
    std::string text = derived + (diff.derivedPlural ? " differ" : " differs");
    text[0] = 'T';  // "the ..." begins the sentence
    return text;
  }
  std::string text =
      diff.fields == 1 ? "1 field differs" : std::to_string(diff.fields) + " fields differ";
  if (!derived.empty()) {
    text += " (and " + derived + (diff.derivedPlural ? " that follow" : " that follows") +
            (diff.fields == 1 ? " from it)" : " from them)");
  }
  return text;
}

}  // namespace tuva
