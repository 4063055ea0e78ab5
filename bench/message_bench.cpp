// Encode and decode of a full advertisement: a "NEST" with its "TERM" and four sources, the
// largest message the spy decodes at every advertisement round.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "vqscwlib/message/message.h"

namespace {

CMessage FullAdvertisement() {
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU32(Tag("ADVV"), 17);
  term.SetU16(Tag("HWID"), 0x0102);
  term.SetU32(Tag("INIP"), 0x0501A8C0);
  term.SetU16(Tag("UDPC"), 1);
  term.SetU16(Tag("NUMS"), 4);
  const char terminal_name[32] = "Studio terminal";
  term.SetBlob(Tag("ATRN"), sizeof terminal_name, terminal_name);
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), 1);
  message.SetList(Tag("TERM"), &term);
  for (int slot = 1; slot <= 4; ++slot) {
    char name[16] = {};
    std::snprintf(name, sizeof name, "Mic %d", slot);
    CFieldList source;
    source.SetCode(Tag("INDI"));
    source.SetU32(Tag("PSID"), 256 + slot);
    source.SetU8(Tag("SHAB"), 1);
    source.SetU32(Tag("FSID"), 1000 + slot);
    source.SetU8(Tag("FAST"), 2);
    source.SetU8(Tag("FASM"), 0);
    source.SetU32(Tag("BSID"), 0);
    source.SetU8(Tag("BAST"), 0);
    source.SetU8(Tag("BASM"), 0);
    source.SetU32(Tag("LPID"), 0);
    source.SetU8(Tag("STPL"), 0);
    source.SetBlob(Tag("PSNM"), 16, name);
    source.SetBlob(Tag("LABL"), 10, name);
    message.SetList(SourceSlotTag(slot), &source);
  }
  return message;
}

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
