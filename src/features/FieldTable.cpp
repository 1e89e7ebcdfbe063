#include "features/FieldTable.h"

#include <algorithm>
#include <array>
#include <bit>
#include <stdexcept>
#include <unordered_map>

#include "features/FeatureEntry.h"
#include "features/FieldRows.h"

namespace tuva {
namespace {

// Pass-through runs are cut at 16-byte boundaries, so a dump stays readable and a diff points at
// the line of a hex dump that changed.
constexpr std::size_t kRawChunk = 16;

std::string RawName(std::size_t offset) {
  std::string digits;
  for (int shift = offset > 0xFFF ? 12 : 8; shift >= 0; shift -= 4) {
    digits += "0123456789ABCDEF"[(offset >> shift) & 0xF];
  }
  return "raw.0x" + digits;
}

Field RawField(std::size_t offset, std::size_t width, std::uint8_t mask) {
  Field field;
  field.name = RawName(offset);
  field.offset = offset;
  field.width = width;
  field.mask = mask;
  field.kind = FieldKind::Raw;
  field.codec = FieldCodec::Bytes;
  field.label = "Pass-through bytes";
  field.display = [offset, width, mask](const ConfigImage& image) {
    std::string text;
    for (std::size_t i = 0; i < width; ++i) {
      if (i > 0) text += ' ';
      text += HexByte(image.byte(offset + i) & mask);
    }
    return text;
  };
  return field;
}

// Marks the bits of every named field; two fields claiming one bit is a fault of the table.
std::array<std::uint8_t, kImageSize> Coverage(const std::vector<Field>& fields) {
  std::array<std::uint8_t, kImageSize> covered{};
  for (const Field& field : fields) {
    if (field.width == 0 || field.offset + field.width > kImageSize) {
      throw std::logic_error("field " + field.name + " lies outside the image");
    }
    for (std::size_t i = field.offset; i < field.offset + field.width; ++i) {
      if (covered[i] & field.mask) throw std::logic_error("field " + field.name + " overlaps");
      covered[i] |= field.mask;
    }
  }
  return covered;
}

void AddPassThrough(std::vector<Field>& fields) {
  const auto covered = Coverage(fields);
  std::size_t offset = 0;
  while (offset < kImageSize) {
    if (covered[offset] == 0xFF) {
      ++offset;
    } else if (covered[offset] != 0) {
      fields.push_back(RawField(offset, 1, static_cast<std::uint8_t>(~covered[offset])));
      ++offset;
    } else {
      std::size_t end = offset + 1;
      while (end < kImageSize && covered[end] == 0 && end % kRawChunk != 0) ++end;
      fields.push_back(RawField(offset, end - offset, 0xFF));
      offset = end;
    }
  }
}

std::vector<Field> BuildTable() {
  std::vector<Field> fields = BuildNamedFields();
  AddPassThrough(fields);
  std::sort(fields.begin(), fields.end(), [](const Field& a, const Field& b) {
    if (a.offset != b.offset) return a.offset < b.offset;
    return std::countr_zero(a.mask) < std::countr_zero(b.mask);
  });
  return fields;
}

}  // namespace

std::string_view KindName(FieldKind kind) {
  switch (kind) {
    case FieldKind::Number:
      return "number";
    case FieldKind::Count:
      return "count";
    case FieldKind::PlainFlag:
      return "plain_flag";
    case FieldKind::InvertedFlag:
      return "inverted_flag";
    case FieldKind::Bit:
      return "bit";
    case FieldKind::BaudCode:
      return "baud_code";
    case FieldKind::Parity:
      return "parity";
    case FieldKind::MessageDelay:
      return "message_delay";
    case FieldKind::PairString:
      return "pair_string";
    case FieldKind::FunctionCode:
      return "function_code";
    case FieldKind::Period:
      return "period";
    case FieldKind::PreScaler:
      return "pre_scaler";
    case FieldKind::CountedText:
      return "counted_text";
    case FieldKind::ZeroText:
      return "zero_text";
    case FieldKind::PromptSlot:
      return "prompt_slot";
    case FieldKind::SourceMode:
      return "source_mode";
    case FieldKind::Band:
      return "band";
    case FieldKind::PllWord:
      return "pll_word";
    case FieldKind::Polarity:
      return "polarity";
    case FieldKind::AddressMode:
      return "address_mode";
    case FieldKind::CapcodeRecord:
      return "capcode_record";
    case FieldKind::GroupMap:
      return "group_map";
    case FieldKind::ImageSum:
      return "image_sum";
    case FieldKind::CheckBytes:
      return "check_bytes";
    case FieldKind::Raw:
      return "raw";
  }
  return "unknown";
}

bool Field::Differs(const ConfigImage& a, const ConfigImage& b) const {
  for (std::size_t i = offset; i < offset + width; ++i) {
    if ((a.byte(i) ^ b.byte(i)) & mask) return true;
  }
  return false;
}

std::string Field::Hex(const ConfigImage& image) const {
  std::string text;
  for (std::size_t i = offset; i < offset + width; ++i) {
    if (i > offset) text += ' ';
    text += HexByte(image.byte(i) & mask);
  }
  return text;
}

const std::vector<Field>& ConfigFields() {
  static const std::vector<Field> fields = BuildTable();
  return fields;
}

const Field* FindField(std::string_view name) {
  static const std::unordered_map<std::string_view, const Field*> byName = [] {
    std::unordered_map<std::string_view, const Field*> names;
    for (const Field& field : ConfigFields()) names.emplace(field.name, &field);
    return names;
  }();
  const auto found = byName.find(name);
  return found == byName.end() ? nullptr : found->second;
}

std::vector<const Field*> DiffImages(const ConfigImage& a, const ConfigImage& b) {
  std::vector<const Field*> differing;
  for (const Field& field : ConfigFields()) {
    if (field.Differs(a, b)) differing.push_back(&field);
  }
  return differing;
}

}  // namespace tuva
