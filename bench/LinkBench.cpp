// How long the programmer spends building, stuffing and unstuffing the largest frames it handles:
// a 2054-byte configuration write block, and a 4100-byte configuration read reply.
#include <benchmark/benchmark.h>

#include <numeric>

#include "image/ConfigImage.h"
#include "link/Protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The first write block of the start-up image, as the board receives it.
void BuildAndStuffWriteBlock(benchmark::State& state) {
  tuva::ConfigImage image = tuva::ConfigImage::StartupImage();
  image.Seal();
  const auto payload = image.storage().first(2054);
  std::uint8_t sequence = 0x81;
  for (auto _ : state) {
    const Bytes frame =
        tuva::BuildFrame(sequence, tuva::kWriteBlock, tuva::ArgumentOf(tuva::kWriteBlock),
                         tuva::kConfigBase, 2054, payload);
    Bytes wire = tuva::StuffFrame(frame);
    benchmark::DoNotOptimize(wire.data());
    sequence = sequence == 0xFE ? 0x80 : static_cast<std::uint8_t>(sequence + 1);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2054);
}
BENCHMARK(BuildAndStuffWriteBlock);

// A stuffed reply of 4114 bytes before stuffing (14-byte header, 4100 data bytes), with every
// value present so that escapes occur as they do in real data.
void UnstuffReply(benchmark::State& state) {
  Bytes plain(4114);
  std::iota(plain.begin(), plain.end(), std::uint8_t{0});
  Bytes stuffed = tuva::StuffFrame(plain);
  stuffed.pop_back();  // the ETX is not stored
  Bytes buffer(stuffed.size());
  for (auto _ : state) {
    std::copy(stuffed.begin(), stuffed.end(), buffer.begin());
    const std::size_t count = tuva::Unescape(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4114);
}
BENCHMARK(UnstuffReply);

}  // namespace
