// Encode and decode of a full advertisement: a "NEST" with its "TERM" and four sources, the
// largest message the spy decodes at every advertisement round.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/sample_advertisement.h"
#include "vqscwlib/message/message.h"

namespace {

CMessage FullAdvertisement() { return vqscw::bench::SampleAdvertisement(/*full=*/true); }

void BM_EncodeAdvertisement(benchmark::State& state) {
  CMessage message = FullAdvertisement();
  std::vector<uint8_t> buffer(message.EncodedSize());
  for (auto _ : state) {
    const uint16_t size = message.EncodedSize();
    benchmark::DoNotOptimize(message.Encode(buffer.data()) == size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_EncodeAdvertisement);

void BM_DecodeAdvertisement(benchmark::State& state) {
  CMessage message = FullAdvertisement();
  std::vector<uint8_t> buffer(message.EncodedSize());
  message.Encode(buffer.data());
  CMessage received;  // reused, as the spy reuses its message
  for (auto _ : state) {
    benchmark::DoNotOptimize(received.Decode(buffer.data(), static_cast<uint32_t>(buffer.size())));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_DecodeAdvertisement);

}  // namespace

BENCHMARK_MAIN();
