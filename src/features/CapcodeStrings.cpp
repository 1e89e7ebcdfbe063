#include "features/CapcodeStrings.h"

#include <algorithm>
#include <stdexcept>

#include "features/FeatureLayout.h"
#include "features/FlagCodec.h"
#include "image/Utf8.h"

namespace tuva {
namespace {

constexpr std::string_view kNotHexMessage = "Please insert hexadecimal pairs 00 to FF only !";

void CheckCapcode(int capcode) {
  if (capcode < 0 || capcode >= layout::kCapcodeCount) {
    throw std::out_of_range("capcode index " + std::to_string(capcode));
  }
}

// One trimmed, non-blank pair: one or two hexadecimal digits.
std::optional<std::uint8_t> PairValue(std::string_view pair) {
  if (pair.empty() || pair.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : pair) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<std::uint8_t>(value);
}

std::vector<std::string_view> SplitPairs(std::string_view text) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

}  // namespace

std::size_t StringCountOffset(CapcodeString kind, int capcode) {
  CheckCapcode(capcode);
  const std::size_t base = kind == CapcodeString::Header    ? layout::kHeaderCounts
                           : kind == CapcodeString::Trailer ? layout::kTrailerCounts
                                                            : layout::kTimeoutCounts;
  return base + static_cast<std::size_t>(capcode);
}

std::size_t StringBytesOffset(CapcodeString kind, int capcode) {
  CheckCapcode(capcode);
  const std::size_t base = kind == CapcodeString::Header    ? layout::kHeaderBytes
                           : kind == CapcodeString::Trailer ? layout::kTrailerBytes
                                                            : layout::kTimeoutBytes;
  return base + layout::kStringCapacity * static_cast<std::size_t>(capcode);
}

std::size_t FunctionCodeOffset(int capcode) {
  CheckCapcode(capcode);
  return layout::kFunctionCodes + layout::kFunctionCodeSize * static_cast<std::size_t>(capcode);
}

std::size_t InternalFunctionCommandOffset(int capcode) {
  CheckCapcode(capcode);
  return layout::kInternalFunctionCommand + static_cast<std::size_t>(capcode);
}

std::vector<std::uint8_t> ReadCapcodeString(const ConfigImage& image, CapcodeString kind,
                                            int capcode) {
  const std::size_t count =
      std::min<std::size_t>(image.byte(StringCountOffset(kind, capcode)), layout::kStringCapacity);
  const std::size_t start = StringBytesOffset(kind, capcode);
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = image.byte(start + i);
  return bytes;
}

std::array<std::uint8_t, 4> ReadFunctionCode(const ConfigImage& image, int capcode) {
  const std::size_t start = FunctionCodeOffset(capcode);
  std::array<std::uint8_t, 4> code{};
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = image.byte(start + i);
  return code;
}

bool InternalFunctionCommand(const ConfigImage& image, int capcode) {
  return ReadPlainFlag(image, InternalFunctionCommandOffset(capcode));
}

void SetInternalFunctionCommand(ConfigImage& image, int capcode, bool on) {
  WritePlainFlag(image, InternalFunctionCommandOffset(capcode), on);
}

PairParse ParsePairString(std::string_view text, std::size_t capacity) {
  PairParse parse;
  for (std::string_view item : SplitPairs(text)) {
    if (item.empty()) continue;  // ";;" is no pair at all
    const std::string_view pair = TrimSpaces(item);
    if (pair.empty()) break;  // a blank pair ends the string
    const auto value = PairValue(pair);
    if (!value) return {EntryResult::Warning(kNotHexMessage), {}};
    if (parse.bytes.size() == capacity) {
      return {EntryResult::Warning("Can not exceed " + std::to_string(capacity) + " pairs !"), {}};
    }
    parse.bytes.push_back(*value);
  }
  parse.result = EntryResult::Stored();
  return parse;
}

CodeParse ParseFunctionCode(std::string_view text) {
  CodeParse parse;
  const auto items = SplitPairs(text);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string_view pair = TrimSpaces(items[i]);
    if (pair.empty()) continue;  // a blank pair stands for 0x00
    const auto value = PairValue(pair);
    if (!value) return {EntryResult::Warning(kNotHexMessage), {}};
    if (i >= parse.bytes.size()) {
      return {EntryResult::Warning("Can not exceed 4 pairs !"), {}};
    }
    parse.bytes[i] = *value;
  }
  parse.result = EntryResult::Stored();
  return parse;
}

std::string PairListText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += ';';
    text += HexByte(bytes[i]);
  }
  return text;
}

std::string MaskedPairText(std::span<const std::uint8_t> bytes, std::size_t pairs) {
  std::string text;
  for (std::size_t i = 0; i < pairs; ++i) {
    if (i > 0) text += ';';
    text += i < bytes.size() ? HexByte(bytes[i]) : std::string("  ");
  }
  return text;
}

namespace {

void WriteString(ConfigImage& image, CapcodeString kind, int capcode,
                 const std::vector<std::uint8_t>& bytes) {
  const std::size_t start = StringBytesOffset(kind, capcode);
  for (std::size_t i = 0; i < bytes.size(); ++i) image.setByte(start + i, bytes[i]);
  image.setByte(StringCountOffset(kind, capcode), static_cast<std::uint8_t>(bytes.size()));
}

void WriteCode(ConfigImage& image, int capcode, const std::array<std::uint8_t, 4>& code) {
  const std::size_t start = FunctionCodeOffset(capcode);
  for (std::size_t i = 0; i < code.size(); ++i) image.setByte(start + i, code[i]);
}

}  // namespace

EntryResult StoreCapcodeString(ConfigImage& image, CapcodeString kind, int capcode,
                               std::string_view text) {
  CheckCapcode(capcode);
  PairParse parse = ParsePairString(text, layout::kStringCapacity);
  if (parse.result.ok) WriteString(image, kind, capcode, parse.bytes);
  return parse.result;
}

EntryResult StoreFunctionCode(ConfigImage& image, int capcode, std::string_view text) {
  CheckCapcode(capcode);
  CodeParse parse = ParseFunctionCode(text);
  if (parse.result.ok) WriteCode(image, capcode, parse.bytes);
  return parse.result;
}

CapcodeStringEdits ShowCapcodeEdits(const ConfigImage& image, int capcode) {
  CapcodeStringEdits edits;
  const auto masked = [&](CapcodeString kind) {
    return MaskedPairText(ReadCapcodeString(image, kind, capcode), layout::kStringCapacity);
  };
  edits.header = masked(CapcodeString::Header);
  edits.trailer = masked(CapcodeString::Trailer);
  edits.timeout = masked(CapcodeString::Timeout);
  edits.functionCode = MaskedPairText(ReadFunctionCode(image, capcode), layout::kFunctionCodeSize);
  edits.internalFunctionCommand = InternalFunctionCommand(image, capcode);
  return edits;
}

EntryResult CollectCapcodeEdits(ConfigImage& image, int capcode, const CapcodeStringEdits& edits) {
  CheckCapcode(capcode);
  const std::array<PairParse, 3> strings = {
      ParsePairString(edits.header, layout::kStringCapacity),
      ParsePairString(edits.trailer, layout::kStringCapacity),
      ParsePairString(edits.timeout, layout::kStringCapacity)};
  for (const PairParse& parse : strings) {
    if (!parse.result.ok) return parse.result;
  }
  const CodeParse code = ParseFunctionCode(edits.functionCode);
  if (!code.result.ok) return code.result;
  for (std::size_t i = 0; i < kCapcodeStrings.size(); ++i) {
    WriteString(image, kCapcodeStrings[i], capcode, strings[i].bytes);
  }
  SetInternalFunctionCommand(image, capcode, edits.internalFunctionCommand);
  WriteCode(image, capcode, code.bytes);
  return EntryResult::Stored();
}

int CapcodeInRange(int range, int position) {
  if (range < 0 || range >= kCapcodeRangeCount || position < 0 || position >= kCapcodesPerRange) {
    throw std::out_of_range("capcode range " + std::to_string(range) + " position " +
                            std::to_string(position));
  }
  return range * kCapcodesPerRange + position;
}

std::string CapcodeGroupCaption(int range, int position) {
  return "Capcode #" + std::to_string(CapcodeInRange(range, position) + 1) + " ( Hex Only )";
}

std::optional<char> FilterHexKey(char key) {
  if (key >= 'a' && key <= 'f') key = static_cast<char>(key - 'a' + 'A');
  if (HexDigit(key) < 0) return std::nullopt;
  return key;
}

}  // namespace tuva
