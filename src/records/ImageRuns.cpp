#include "records/ImageRuns.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "image/CapcodeCodec.h"
#include "image/ConfigImage.h"
#include "records/Sha256.h"

namespace tuva::records {
namespace {

// Runs closer than this many equal bytes are written as one.
constexpr std::size_t kJoinGap = 3;

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::optional<std::vector<std::uint8_t>> BytesOfHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = Nibble(hex[i]);
    const int low = Nibble(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

namespace {

// The image's 4100 bytes with the bytes that follow from the others made again from them: the
// group map from the capcodes the slots show (as the capcode editors make it) and the sum and
// check bytes as every transfer to the board makes them.
std::vector<std::uint8_t> Derive(std::span<const std::uint8_t> bytes) {
  ConfigImage image;
  image.Assign(std::span<const std::uint8_t, kImageSize>(bytes.data(), kImageSize));
  const CapcodeRefill refill = DecodeCapcodes(image);
  std::array<std::optional<std::uint32_t>, kCapcodeSlots> values;
  for (std::size_t slot = 0; slot < values.size(); ++slot) {
    const CapcodeSlotView& view = refill.slots[slot];
    if (view.refilled && view.textRefilled) values[slot] = view.value;
  }
  UpdateCapcodeGroupMap(image, values);
  image.Seal();
  return {image.bytes().begin(), image.bytes().end()};
}

std::string Runs(std::span<const std::uint8_t> from, std::span<const std::uint8_t> to);

}  // namespace

std::string ImageRuns(std::span<const std::uint8_t> from, std::span<const std::uint8_t> to) {
  // An image whose group map and sum and check bytes are what its other bytes make of them (every
  // image a series writes) keeps only the others: "=" and the runs without them. Kept so only when
  // they rebuild it.
  if (from.size() == kImageSize && to.size() == kImageSize) {
    // The bytes that follow from the others, left as the template has them: the group map with
    // its seven copies (130..131, 134..135, ... 158..159) and the sum and check bytes.
    std::vector<std::uint8_t> others(to.begin(), to.end());
    for (std::size_t at = kCapcodeGroupMap; at < kCapcodeGroupMap + 32; at += 4) {
      others[at] = from[at];
      others[at + 1] = from[at + 1];
    }
    std::copy(from.begin() + kImageDataSize, from.end(), others.begin() + kImageDataSize);
    std::string runs = "=";
    runs += Runs(from, others);
    const auto rebuilt = ApplyRuns({from.begin(), from.end()}, runs);
    if (rebuilt && std::equal(rebuilt->begin(), rebuilt->end(), to.begin())) return runs;
  }
  return Runs(from, to);
}

namespace {

std::string Runs(std::span<const std::uint8_t> from, std::span<const std::uint8_t> to) {
  std::string runs;
  std::size_t at = 0;
  for (;;) {
    const auto differs = std::mismatch(to.begin() + static_cast<std::ptrdiff_t>(at), to.end(),
                                       from.begin() + static_cast<std::ptrdiff_t>(at));
    if (differs.first == to.end()) break;
    at = static_cast<std::size_t>(differs.first - to.begin());
    // A run ends where kJoinGap equal bytes in a row (or the end) follow it.
    std::size_t end = at + 1;
    std::size_t equal = 0;
    for (std::size_t i = end; i < to.size() && equal < kJoinGap; ++i) {
      if (from[i] == to[i]) {
        ++equal;
      } else {
        equal = 0;
        end = i + 1;
      }
    }
    if (!runs.empty()) runs += ' ';
    runs += std::to_string(at) + ':' + HexBytes(to.subspan(at, end - at));
    at = end;
  }
  return runs;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ApplyRuns(std::vector<std::uint8_t> base,
                                                   std::string_view runs) {
  const bool derive = runs.starts_with('=');
  if (derive) {
    if (base.size() != kImageSize) return std::nullopt;
    runs.remove_prefix(1);
  }
  while (!runs.empty()) {
    const std::size_t space = runs.find(' ');
    const std::string_view run = runs.substr(0, space);
    runs = space == std::string_view::npos ? std::string_view() : runs.substr(space + 1);
    const std::size_t colon = run.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::size_t offset = 0;
    const auto [end, error] = std::from_chars(run.data(), run.data() + colon, offset);
    if (error != std::errc() || end != run.data() + colon) return std::nullopt;
    const auto bytes = BytesOfHex(run.substr(colon + 1));
    if (!bytes || bytes->empty() || offset > base.size() || bytes->size() > base.size() - offset) {
      return std::nullopt;
    }
    std::copy(bytes->begin(), bytes->end(), base.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return derive ? Derive(base) : base;
}

void KeepImage(Attempt& attempt, std::span<const std::uint8_t> templateImage,
               std::span<const std::uint8_t> written) {
  attempt.templateImage.assign(templateImage.begin(), templateImage.end());
  attempt.templateSha256 = Sha256Hex(templateImage.data(), templateImage.size());
  attempt.imageRuns = ImageRuns(templateImage, written);
}

std::vector<std::uint8_t> RebuildImage(RecordStore& store, const Attempt& attempt) {
  const std::string name = "attempt #" + std::to_string(attempt.id);
  if (attempt.result != Result::Programmed) throw RecordsError(name + " was not programmed");
  if (!ImageKept(attempt)) throw RecordsError(name + " was recorded before images were kept");
  const auto templateImage = store.TemplateImage(attempt.templateSha256);
  if (!templateImage || templateImage->size() != kImageSize) {
    throw RecordsError(name + ": the records lack its template image " + attempt.templateSha256);
  }
  const auto image = ApplyRuns(*templateImage, attempt.imageRuns);
  if (!image || Sha256Hex(image->data(), image->size()) != attempt.sha256) {
    throw RecordsError(name +
                       ": its image rebuilt from the records is not the one recorded (SHA-256 " +
                       attempt.sha256 + ")");
  }
  return *image;
}

}  // namespace tuva::records
