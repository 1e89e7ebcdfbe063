#include "features/FieldValues.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include "features/CapcodeEntry.h"
#include "features/FieldTexts.h"
#include "image/CapcodeCodec.h"
#include "image/FrequencyCodec.h"
#include "image/Utf8.h"

namespace tuva {
namespace {

// The group map and its copies follow the capcodes: every capcode entry rebuilds them.
bool SameOutsideGroupMap(const ConfigImage& a, const ConfigImage& b) {
  const auto x = a.bytes();
  const auto y = b.bytes();
  // The map words lie at 130, 134, ..., 158: compare the runs between them.
  std::size_t from = 0;
  for (std::size_t map = kCapcodeGroupMap; map < kCapcodeGroupMap + 32; map += 4) {
    if (!std::equal(x.begin() + from, x.begin() + map, y.begin() + from)) return false;
    from = map + 2;
  }
  return std::equal(x.begin() + from, x.begin() + kImageDataSize, y.begin() + from);
}

void CopyFieldBits(const Field& field, const ConfigImage& from, ConfigImage& to) {
  for (std::size_t i = field.offset; i < field.offset + field.width; ++i) {
    to.setByte(i,
               static_cast<std::uint8_t>((to.byte(i) & ~field.mask) | (from.byte(i) & field.mask)));
  }
}

const ConfigImage& Startup() {
  static const ConfigImage image = ConfigImage::StartupImage();
  return image;
}

// The editor's text stands for the field's bits when setting it changes nothing else of the image
// (but the group map, which the capcodes rebuild) and when it writes those bits over the start-up
// configuration's: then export and apply carry it as the technician reads it.
bool TextCarriesBits(const ConfigImage& image, const Field& field, const FieldTextCodec& codec,
                     std::string_view text) {
  ConfigImage again = image;
  if (!codec.set(again, text).ok || !SameOutsideGroupMap(again, image)) return false;
  if (!field.Differs(image, Startup())) return true;  // the image is its own start-up case
  ConfigImage fresh = image;
  CopyFieldBits(field, Startup(), fresh);
  return codec.set(fresh, text).ok && !field.Differs(fresh, image);
}

EntryResult SetBytes(ConfigImage& image, const Field& field, std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::size_t at = 0;
  bool readable = true;
  while (readable) {
    while (at < text.size() && text[at] == ' ') ++at;
    if (at == text.size()) break;
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view pair = text.substr(at, end - at);
    readable = pair.size() == 2 && HexDigit(pair[0]) >= 0 && HexDigit(pair[1]) >= 0;
    if (readable)
      bytes.push_back(static_cast<std::uint8_t>(HexDigit(pair[0]) * 16 + HexDigit(pair[1])));
    at = end;
  }
  if (!readable || bytes.size() != field.width) {
    return EntryResult::Warning(
        "Please write " + std::to_string(field.width) + (field.width == 1 ? " byte" : " bytes") +
        " as hexadecimal pairs separated by spaces, such as \"" + field.Hex(image) + "\" !");
  }
  if (std::any_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b & ~field.mask; })) {
    return EntryResult::Warning("Only the bits " + HexByte(field.mask) +
                                " of this byte belong to the field !");
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t offset = field.offset + i;
    image.setByte(offset, static_cast<std::uint8_t>((image.byte(offset) & ~field.mask) | bytes[i]));
  }
  return EntryResult::Stored();
}

bool IsBytesForm(std::string_view text) {
  return text.substr(0, kBytesPrefix.size()) == kBytesPrefix;
}

ApplyStage StageOf(const Field& field, std::string_view text) {
  if (field.codec == FieldCodec::PllReference) return ApplyStage::Reference;
  const FieldTextCodec* codec = EditorCodec(field);
  if (codec && !IsBytesForm(text)) return codec->stage;
  // The records as they stand come before any capcode is typed, so that the Long mode a long
  // pair selects is there when the capcodes are checked.
  if (field.kind == FieldKind::CapcodeRecord) return ApplyStage::Reference;
  return ApplyStage::Exact;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string_view LastPart(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

// How far a dotted name lies from a field's name, case aside: a group the name spells out whole
// ("capcode.1") is nearest to its fields; otherwise the whole names are compared and the last
// parts, which tell the fields of a group apart, count a second time.
std::size_t NameDistance(std::string_view given, std::string_view field) {
  const std::string a = Lower(given);
  const std::string b = Lower(field);
  if (b.size() > a.size() && b.starts_with(a) && b[a.size()] == '.') return 0;
  return EditDistance(a, b) + EditDistance(LastPart(a), LastPart(b));
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), std::size_t{0});
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string UnknownFieldMessage(std::string_view name) {
  std::string message = "unknown field ";
  message += name;
  const auto closest = ClosestFieldNames(name);
  for (std::size_t i = 0; i < closest.size(); ++i) {
    message += i == 0 ? " (did you mean " : ", ";
    message += closest[i];
  }
  if (!closest.empty()) message += "?)";
  return message;
}

namespace {

// A value the editor takes without writing it is no change at all: the file would keep its old
// value while the command reports success. An empty number, capcode, period or frequency leaves
// the field as it stood; a capcode from 2031615 to 2101248 has no record form in its mode (the
// window refuses it when its edit is left).
std::optional<EntryResult> Unstored(const ConfigImage& image, const Field& field,
                                    std::string_view text, const EntryResult& result) {
  if (!result.ok || result.stored || !EditorCodec(field) || IsBytesForm(text)) return std::nullopt;
  const bool keepsWhenEmpty = field.kind == FieldKind::Number || field.kind == FieldKind::Period ||
                              field.kind == FieldKind::MessageDelay ||
                              field.kind == FieldKind::CapcodeRecord ||
                              field.kind == FieldKind::PllWord;
  if (keepsWhenEmpty && TrimSpaces(text).empty()) {
    return EntryResult::Warning("a value is needed: an empty one would change nothing");
  }
  if (field.kind == FieldKind::CapcodeRecord) {
    // Record i holds its address in bytes 1 to 3 of its four.
    const int slot = static_cast<int>((field.offset - kCapcodeRecordBase) / 4);
    return RefuseUnstoredCapcode(image, slot, text, CapcodeLongMode(image));
  }
  return std::nullopt;
}

}  // namespace

bool IsSettable(const Field& field) {
  return field.kind != FieldKind::ImageSum && field.kind != FieldKind::CheckBytes;
}

std::vector<const Field*> SettableFields() {
  std::vector<const Field*> fields;
  for (const Field& field : ConfigFields()) {
    if (IsSettable(field)) fields.push_back(&field);
  }
  return fields;
}

std::string GetFieldText(const ConfigImage& image, const Field& field) {
  const FieldTextCodec* codec = EditorCodec(field);
  if (!codec) return field.Hex(image);
  if (const auto text = codec->get(image)) {
    if (TextCarriesBits(image, field, *codec, *text)) return *text;
  }
  return std::string(kBytesPrefix) + field.Hex(image);
}

EntryResult SetFieldText(ConfigImage& image, const Field& field, std::string_view text) {
  if (!IsSettable(field)) {
    return EntryResult::Warning(field.name + " is not settable: Save and Write seal the image");
  }
  const FieldTextCodec* codec = EditorCodec(field);
  if (IsBytesForm(text)) return SetBytes(image, field, text.substr(kBytesPrefix.size()));
  if (!codec) return SetBytes(image, field, text);
  return codec->set(image, text);
}

std::vector<std::string> ClosestFieldNames(std::string_view name, std::size_t count) {
  std::vector<std::pair<std::size_t, const Field*>> ranked;
  for (const Field* field : SettableFields()) {
    ranked.emplace_back(NameDistance(name, field->name), field);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (std::size_t i = 0; i < ranked.size() && i < count; ++i)
    names.push_back(ranked[i].second->name);
  return names;
}

std::string InTextTerms(const ConfigImage& image, const FieldRefusal& refusal) {
  const std::string& message = refusal.result.message;
  PllState state;
  SelectStoredBand(image, state);
  if (refusal.field != "pll.n" || !state.band) return message;
  const std::string_view band = kBands[static_cast<std::size_t>(*state.band)].text;
  const auto limits = ReadBandLimits(band);
  if (!limits || message != FrequencyRangeMessage(band)) return message;
  return "Frequency setting error( " + std::to_string(limits->low / 10000) +
         ".0000 < = Frequency < = " + std::to_string(limits->high / 10000) + ".0000 MHz )";
}

std::vector<std::pair<std::string, std::string>> ExportFieldTexts(const ConfigImage& image) {
  const std::vector<const Field*> fields = SettableFields();
  std::vector<std::pair<std::string, std::string>> texts;
  for (const Field* field : fields) texts.emplace_back(field->name, GetFieldText(image, *field));
  // A value entered in the window can write into the bytes of a field entered before it (a
  // capcode in "Auto Cap." mode writes its prompt, past the prompt's text too). Where applying the
  // texts to the start-up configuration does not give a field's bits, the field is carried as its
  // bytes, which are written last and exactly.
  for (int round = 0; round < 4; ++round) {
    ConfigImage applied = ConfigImage::StartupImage();
    bool same = !ApplyFieldTexts(applied, texts);
    for (std::size_t i = 0; same && i < fields.size(); ++i)
      same = !fields[i]->Differs(applied, image);
    if (same) return texts;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i]->Differs(applied, image) && EditorCodec(*fields[i])) {
        texts[i].second = std::string(kBytesPrefix) + fields[i]->Hex(image);
      }
    }
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    texts[i].second = (EditorCodec(*fields[i]) ? std::string(kBytesPrefix) : std::string()) +
                      fields[i]->Hex(image);
  }
  return texts;
}

std::optional<FieldRefusal> ApplyFieldTexts(
    ConfigImage& image, const std::vector<std::pair<std::string, std::string>>& changes) {
  struct Change {
    ApplyStage stage;
    std::size_t order;
    const Field* field;
    const std::string* text;
  };
  const std::vector<Field>& table = ConfigFields();
  std::vector<Change> ordered;
  for (const auto& [name, text] : changes) {
    const Field* field = FindField(name);
    if (!field) return FieldRefusal{name, EntryResult::Warning(UnknownFieldMessage(name))};
    for (const Change& earlier : ordered) {
      if (earlier.field == field) return FieldRefusal{name, EntryResult::Warning("given twice")};
    }
    if (!IsSettable(*field)) return FieldRefusal{name, SetFieldText(image, *field, text)};
    ordered.push_back(
        {StageOf(*field, text), static_cast<std::size_t>(field - table.data()), field, &text});
  }
  std::stable_sort(ordered.begin(), ordered.end(), [](const Change& a, const Change& b) {
    if (a.stage != b.stage) return a.stage < b.stage;
    return a.order < b.order;
  });
  ConfigImage changed = image;
  for (const Change& change : ordered) {
    const EntryResult result = SetFieldText(changed, *change.field, *change.text);
    if (!result.ok) return FieldRefusal{change.field->name, result};
    if (auto unstored = Unstored(changed, *change.field, *change.text, result)) {
      return FieldRefusal{change.field->name, std::move(*unstored)};
    }
  }
  image = changed;
  return std::nullopt;
}

}  // namespace tuva
