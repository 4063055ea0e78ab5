#include "vqscwlib/spy/spy_table.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/source_table_testing.h"
#include "vqscwlib/spy/allocation_counter.h"

namespace {

using vqscw::testing::Advertisement;
using vqscw::testing::MaskTimes;
using vqscw::testing::TestSource;
using vqscw::testing::TestTerminal;

using Reports = std::vector<std::pair<uint32_t, uint32_t>>;  // (tag, psid) of each slot filled

int Record(SpySource* source, void* user) {
  static_cast<Reports*>(user)->emplace_back(source->tag, source->psid);
  return 0;
}

// Everything of a table that the plain operations define, first record to last.
std::string Describe(const SpyTerminal* table) {
  std::string text;
  for (; table != nullptr; table = table->next) {
    text += std::to_string(table->hwid) + "/" + std::to_string(table->inip) + " v" +
            std::to_string(table->advv) + " e" + std::to_string(table->expiry) + " " + table->name +
            " n" + std::to_string(table->nums) + ":";
    for (int i = 0; i < table->nums; ++i) {
      const SpySource& s = table->sources()[i];
      if (s.terminal != (s.tag != 0 ? table : nullptr)) text += "<bad terminal>";
      text += " " + std::to_string(s.tag) + "=" + std::to_string(s.psid) + "," +
              std::to_string(s.fsid) + "," + std::to_string(s.fast) + "," + s.name;
    }
    text += "\n";
  }
  return text;
}

// The indexed table against the plain walk: the same random stream of advertisements, version
// changes and collections must give the same results, callbacks, lines and table.
TEST(SpyTableTest, BehavesExactlyLikeThePlainTable) {
  vqscw::FakeClock clock(0xFFFFFFFFu - 200000);  // runs across the tick counter's wrap
  std::mt19937 rng(20240531);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  // Terminals share hardware ids and addresses pairwise, so only the pair tells them apart.
  std::vector<TestTerminal> terminals;
  for (int i = 0; i < 400; ++i) {
    TestTerminal t;
    t.hwid = static_cast<uint16_t>(pick(1, 40));
    t.inip = 0x0100007Fu + (static_cast<uint32_t>(pick(0, 30)) << 24);
    t.advv = 1;
    t.nums = static_cast<uint16_t>(pick(0, 6));
    t.name = "T" + std::to_string(i);
    terminals.push_back(t);
  }

  SpyTerminal* plain = nullptr;
  vqscw::SpyTable indexed;
  Reports plain_reports;
  Reports indexed_reports;
  dbg_spy = 1;
  for (int step = 0; step < 6000; ++step) {
    const int action = pick(0, 99);
    if (action < 8) {
      clock.Advance(static_cast<uint32_t>(pick(0, 12000)));
      ::testing::internal::CaptureStdout();
      const int plain_result = advspy_GarbageCollect(&plain);
      const std::string plain_lines = ::testing::internal::GetCapturedStdout();
      ::testing::internal::CaptureStdout();
      const int indexed_result = indexed.GarbageCollect();
      const std::string indexed_lines = ::testing::internal::GetCapturedStdout();
      ASSERT_EQ(plain_result, indexed_result) << "step " << step;
      ASSERT_EQ(MaskTimes(plain_lines), MaskTimes(indexed_lines)) << "step " << step;
    } else {
      TestTerminal& t = terminals[static_cast<size_t>(pick(0, 399))];
      if (pick(0, 99) < 3) {
        t.advv = static_cast<uint32_t>(pick(1, 4));
        t.nums = static_cast<uint16_t>(pick(0, 6));
      }
      std::vector<TestSource> sources;
      const bool full = action < 50;
      if (full) {
        for (int slot = 1; slot <= 7; ++slot) {
          if (pick(0, 2) == 0)
            sources.push_back({slot, static_cast<uint32_t>(pick(1, 9)), 5, 2, "s"});
        }
      }
      CMessage message = Advertisement(full ? 1 : 2, t, sources);
      ::testing::internal::CaptureStdout();
      const int plain_result = advspy_Register(&plain, &message, nullptr, &Record, &plain_reports);
      const std::string plain_lines = ::testing::internal::GetCapturedStdout();
      ::testing::internal::CaptureStdout();
      const int indexed_result = indexed.Register(message, nullptr, &Record, &indexed_reports);
      const std::string indexed_lines = ::testing::internal::GetCapturedStdout();
      ASSERT_EQ(plain_result, indexed_result) << "step " << step;
      ASSERT_EQ(MaskTimes(plain_lines), MaskTimes(indexed_lines)) << "step " << step;
    }
    ASSERT_EQ(plain_reports, indexed_reports) << "step " << step;
    ASSERT_EQ(Describe(plain), Describe(indexed.first())) << "step " << step;
  }
  dbg_spy = 0;
  EXPECT_GT(plain_reports.size(), 500u);
  ReleaseSourceTable(&plain);
}

TEST(SpyTableTest, KnownTerminalCostsNoAllocation) {
  vqscw::FakeClock clock;
  vqscw::SpyTable table;
  std::vector<std::vector<uint8_t>> bodies;
  for (uint16_t id = 1; id <= 2000; ++id) {
    TestTerminal t;
    t.hwid = id;
    t.inip = 0x0100007Fu + id;
    t.nums = 4;
    CMessage full = Advertisement(1, t, vqscw::testing::NumberedSources(1, 4, id));
    ASSERT_EQ(table.Register(full, nullptr, nullptr, nullptr), 1);
    const CMessage short_form = Advertisement(2, t);
    bodies.emplace_back(short_form.EncodedSize());
    short_form.Encode(bodies.back().data());
  }
  ASSERT_EQ(table.size(), 2000u);

  CMessage received;
  received.Decode(bodies[0].data(), static_cast<uint32_t>(bodies[0].size()));
  int changed = 0;
  long allocations = 0;
  {
    vqscw::testing::AllocationCounter counter;
    for (const auto& body : bodies) {
      received.Decode(body.data(), static_cast<uint32_t>(body.size()));
      changed += table.Register(received, nullptr, nullptr, nullptr);
    }
    allocations = counter.count();
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(changed, 0);
}

TEST(SpyTableTest, ReleaseEmptiesTableAndIndex) {
  vqscw::FakeClock clock;
  vqscw::SpyTable table;
  TestTerminal t;
  t.nums = 1;
  table.Register(Advertisement(1, t, vqscw::testing::NumberedSources(1, 1, 3)), nullptr, nullptr,
                 nullptr);
  table.Release();
  EXPECT_EQ(table.first(), nullptr);
  EXPECT_EQ(table.size(), 0u);
  // The same terminal is new again: a short advertisement changes nothing, a full one adds it.
  EXPECT_EQ(table.Register(Advertisement(2, t), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(table.Register(Advertisement(1, t), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(table.size(), 1u);
}

}  // namespace
