// Decode + register of short advertisements, the message every terminal sends most often, in
// random order with many terminals known: through the spy's indexed table (what the listening
// thread does for each datagram) and through the exported walk of the linked table. The
// "allocs/msg" counter gives the operator new calls per message of one pass over every terminal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/allocation_counter.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/spy_table.h"

namespace {

CMessage Advertisement(uint8_t type, uint16_t hwid, uint32_t inip) {
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU32(Tag("ADVV"), 3);
  term.SetU16(Tag("HWID"), hwid);
  term.SetU32(Tag("INIP"), inip);
  term.SetU16(Tag("UDPC"), 1);
  term.SetU16(Tag("NUMS"), 4);
  if (type == kAdvertisementFull) term.SetBlob(Tag("ATRN"), 32, "Bench terminal");
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), type);
  message.SetList(Tag("TERM"), &term);
  if (type == kAdvertisementFull) {
    for (int slot = 1; slot <= 4; ++slot) {
      CFieldList source;
      source.SetCode(Tag("INDI"));
      source.SetU32(Tag("PSID"), static_cast<uint32_t>(hwid * 4 + slot) & 0x7FFF);
      source.SetU32(Tag("FSID"), static_cast<uint32_t>(slot));
      source.SetU8(Tag("FAST"), 2);
      source.SetBlob(Tag("PSNM"), 16, "Bench source");
      message.SetList(SourceSlotTag(slot), &source);
    }
  }
  return message;
}

// `terminals` terminals, each registered from its full advertisement, and the encodings of their
// short advertisements in a random order.
struct Network {
  explicit Network(int terminals) {
    std::mt19937 rng(7);
    for (int i = 0; i < terminals; ++i) {
      const auto hwid = static_cast<uint16_t>(i % 60000 + 1);
      const uint32_t inip = 0x0000A8C0u | (static_cast<uint32_t>(i / 250) << 16) |
                            (static_cast<uint32_t>(i % 250 + 1) << 24);  // 192.168.x.y
      const CMessage full = Advertisement(kAdvertisementFull, hwid, inip);
      indexed.Register(full, nullptr, nullptr, nullptr);
      CMessage copy(full);
      advspy_Register(&plain, &copy, nullptr, nullptr, nullptr);
      const CMessage short_form = Advertisement(kAdvertisementShort, hwid, inip);
      bodies.emplace_back(short_form.EncodedSize());
      short_form.Encode(bodies.back().data());
    }
    std::shuffle(bodies.begin(), bodies.end(), rng);
  }
  ~Network() { ReleaseSourceTable(&plain); }

  vqscw::FakeClock clock;
  vqscw::SpyTable indexed;
  SpyTerminal* plain = nullptr;
  std::vector<std::vector<uint8_t>> bodies;
};

template <typename RegisterFn>
void Run(benchmark::State& state, Network* network, RegisterFn register_message) {
  CMessage received;
  // The first decode makes the nested lists that every later one reuses.
  received.Decode(network->bodies[0].data(), static_cast<uint32_t>(network->bodies[0].size()));
  // One untimed pass over every terminal: the allocations it makes, per message.
  long allocations = 0;
  int changed = 0;
  {
    vqscw::testing::AllocationCounter counter;
    for (const std::vector<uint8_t>& body : network->bodies) {
      received.Decode(body.data(), static_cast<uint32_t>(body.size()));
      changed += register_message(received);
    }
    allocations = counter.count();
  }
  size_t next = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& body = network->bodies[next];
    next = next + 1 == network->bodies.size() ? 0 : next + 1;
    received.Decode(body.data(), static_cast<uint32_t>(body.size()));
    changed += register_message(received);
  }
  if (changed != 0) state.SkipWithError("a known terminal changed the table");
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs/msg"] = benchmark::Counter(static_cast<double>(allocations) /
                                                    static_cast<double>(network->bodies.size()));
}

void BM_DecodeRegisterShort_SpyTable(benchmark::State& state) {
  Network network(static_cast<int>(state.range(0)));
  Run(state, &network, [&network](const CMessage& message) {
    return network.indexed.Register(message, nullptr, nullptr, nullptr);
  });
}
BENCHMARK(BM_DecodeRegisterShort_SpyTable)->Arg(100)->Arg(10000);

void BM_DecodeRegisterShort_LinkedWalk(benchmark::State& state) {
  Network network(static_cast<int>(state.range(0)));
  Run(state, &network, [&network](CMessage& message) {
    return advspy_Register(&network.plain, &message, nullptr, nullptr, nullptr);
  });
}
BENCHMARK(BM_DecodeRegisterShort_LinkedWalk)->Arg(100)->Arg(10000);

// A collection round of the listening thread when nothing has expired.
void BM_GarbageCollectNothingDue(benchmark::State& state) {
  Network network(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(network.indexed.GarbageCollect());
  }
}
BENCHMARK(BM_GarbageCollectNothingDue)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
