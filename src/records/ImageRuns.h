// The image an attempt wrote, kept as what it changed of its template: runs of bytes, each its
// offset in the 4100 bytes and the bytes written there, as text ("=161:801763 2048:41", offsets
// in decimal, bytes in lower-case hex, runs separated by spaces). A leading "=" says the bytes
// that follow from the others are not kept but made again from them: the capcode group map (with
// its seven copies) from the capcodes, as the capcode editors make it, and the sum and check bytes
// (4094..4099), as every transfer to the board makes them. A board of a counted series differs
// from its template in a capcode's few bytes, so an attempt keeps a dozen characters instead of
// 4100 bytes, and its image is rebuilt exactly.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

// The runs where `to` differs from `from` (both the same size; with the leading "=" and without
// the bytes that follow from the others when both are images and those bytes rebuild `to`). Two
// runs with fewer than three equal bytes between them are written as one: the equal bytes cost less
// than a new offset.
std::string ImageRuns(std::span<const std::uint8_t> from, std::span<const std::uint8_t> to);

// `base` with the runs written over it (and the bytes that follow from the others made again when
// they begin with "="); nullopt when the text is not runs or a run reaches past the end.
std::optional<std::vector<std::uint8_t>> ApplyRuns(std::vector<std::uint8_t> base,
                                                   std::string_view runs);

// Fills the attempt's template image, its SHA-256 and the runs of the image written (all 4100
// bytes, sealed) against it.
void KeepImage(Attempt& attempt, std::span<const std::uint8_t> templateImage,
               std::span<const std::uint8_t> written);

// Whether the records keep the attempt's image (false for one recorded before they did).
inline bool ImageKept(const Attempt& attempt) {
  return !attempt.templateSha256.empty();
}

// The 4100 bytes programmed attempt `attempt` wrote, rebuilt from its template in `store` and its
// runs, and checked against its SHA-256. Throws RecordsError with the reason when it cannot be:
// "attempt #12 was not programmed", "attempt #12 was recorded before images were kept", its
// template missing, or the rebuilt image not the one recorded.
std::vector<std::uint8_t> RebuildImage(RecordStore& store, const Attempt& attempt);

// Bytes as lower-case hex and back (nullopt for text that is not hex pairs).
std::string HexBytes(std::span<const std::uint8_t> bytes);
std::optional<std::vector<std::uint8_t>> BytesOfHex(std::string_view hex);

}  // namespace tuva::records
