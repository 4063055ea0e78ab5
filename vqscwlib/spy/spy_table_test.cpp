#include "vqscwlib/spy/spy_table.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/allocation_counter.h"
#include "tests/support/source_table_helpers.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/clock.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using vqscw::testing::Advertisement;
using vqscw::testing::MaskTimes;
using vqscw::testing::TestTerminal;

int Record(SpySource* source, void* user) {
  *static_cast<std::string*>(user) += std::to_string(source->tag) + " ";
  return 0;
}

// Everything of a table that the plain operations define, first record to last.
std::string Describe(const SpyTerminal* t) {
  std::string text;
  for (; t != nullptr; t = t->next) {
    text += std::to_string(t->hwid) + "/" + std::to_string(t->inip) + "/" +
            std::to_string(t->advv) + "/" + std::to_string(t->expiry) + "/" +
            std::to_string(t->nums) + ":";
    for (int i = 0; i < t->nums; ++i) {
      const SpySource& s = t->sources()[i];
      text += " " + std::to_string(s.tag) + (s.terminal == (s.tag != 0 ? t : nullptr) ? "" : "!");
    }
    text += "\n";
  }
  return text;
}

// The indexed table against the plain walk: the same random stream of advertisements, version
// changes and collections, across the tick counter's wrap, must give the same results,
// callbacks, lines and table.
TEST(SpyTableTest, BehavesExactlyLikeThePlainTable) {
  vqscw::FakeClock clock(0xFFFFFFFFu - 200000);
  std::mt19937 rng(20240531);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Terminals share hardware ids and addresses, so only the pair tells them apart.
  std::vector<TestTerminal> terminals(400);
  for (TestTerminal& t : terminals) {
    t.hwid = static_cast<uint16_t>(pick(1, 40));
    t.inip = 0x0100007Fu + (static_cast<uint32_t>(pick(0, 30)) << 24);
  }

  SpyTerminal* plain = nullptr;
  vqscw::SpyTable indexed;
  std::string plain_reports, indexed_reports;
  dbg_spy = 1;
  for (int step = 0; step < 4000; ++step) {
    int plain_result = 0, indexed_result = 0;
    std::string plain_lines, indexed_lines;
    if (pick(0, 99) < 8) {
      clock.Advance(static_cast<uint32_t>(pick(0, 12000)));
      CaptureStdout();
      plain_result = advspy_GarbageCollect(&plain);
      plain_lines = GetCapturedStdout();
      CaptureStdout();
      indexed_result = indexed.GarbageCollect();
      indexed_lines = GetCapturedStdout();
    } else {
      TestTerminal& t = terminals[static_cast<size_t>(pick(0, 399))];
      if (pick(0, 99) < 3) {
        t.advv = static_cast<uint32_t>(pick(1, 4));
        t.nums = static_cast<uint16_t>(pick(0, 6));
      }
      std::vector<vqscw::testing::TestSource> sources;
      for (int slot = 1; slot <= 7; ++slot) {
        if (pick(0, 2) == 0) sources.push_back({slot, static_cast<uint32_t>(slot), 5, 2, "s"});
      }
      CMessage message = Advertisement(pick(0, 1) == 0 ? 1 : 2, t, sources);
      CaptureStdout();
      plain_result = advspy_Register(&plain, &message, nullptr, &Record, &plain_reports);
      plain_lines = GetCapturedStdout();
      CaptureStdout();
      indexed_result = indexed.Register(message, nullptr, &Record, &indexed_reports);
      indexed_lines = GetCapturedStdout();
    }
    ASSERT_EQ(plain_result, indexed_result) << "step " << step;
    ASSERT_EQ(MaskTimes(plain_lines), MaskTimes(indexed_lines)) << "step " << step;
    ASSERT_EQ(plain_reports, indexed_reports) << "step " << step;
    ASSERT_EQ(Describe(plain), Describe(indexed.first())) << "step " << step;
  }
  dbg_spy = 0;
  EXPECT_GT(plain_reports.size(), 2000u);
  ReleaseSourceTable(&plain);
}

TEST(SpyTableTest, ShortAdvertisementOfAKnownTerminalDecodesAndRegistersWithoutAllocating) {
  vqscw::FakeClock clock;
  vqscw::SpyTable table;
  std::vector<std::vector<uint8_t>> bodies;
  for (uint16_t id = 1; id <= 2000; ++id) {
    const TestTerminal t{id, 0x0100007Fu + id, 1, 4, "T"};
    table.Register(Advertisement(1, t, vqscw::testing::NumberedSources(1, 4, id)), nullptr, nullptr,
                   nullptr);
    const CMessage short_form = Advertisement(2, t);
    bodies.emplace_back(short_form.EncodedSize());
    short_form.Encode(bodies.back().data());
  }
  ASSERT_EQ(table.size(), 2000u);
  CMessage received;  // the first decode makes the nested lists later ones reuse
  received.Decode(bodies[0].data(), static_cast<uint32_t>(bodies[0].size()));
  vqscw::testing::AllocationCounter counter;
  int changed = 0;
  for (const auto& body : bodies) {
    received.Decode(body.data(), static_cast<uint32_t>(body.size()));
    changed += table.Register(received, nullptr, nullptr, nullptr);
  }
  EXPECT_EQ(counter.count(), 0);
  EXPECT_EQ(changed, 0);
}

// Every record that leaves the table is told to the removal hook once, with why; records
// released with the table are not.
TEST(SpyTableTest, RemovalHookTellsExpiriesAndReplacementsButNotRelease) {
  vqscw::FakeClock clock;
  std::vector<std::string> removals;
  {
    vqscw::SpyTable table;
    table.set_removal_hook(
        [](const SpyTerminal& t, vqscw::SpyTable::Removal why, void* user) {
          static_cast<std::vector<std::string>*>(user)->push_back(
              std::to_string(t.hwid) +
              (why == vqscw::SpyTable::Removal::kExpired ? " expired" : " replaced"));
        },
        &removals);
    TestTerminal a{1, 0x0100007Fu, 1, 2, "A"};
    const TestTerminal b{2, 0x0200007Fu, 1, 2, "B"};
    table.Register(Advertisement(1, a, vqscw::testing::NumberedSources(1, 2, 10)), nullptr, nullptr,
                   nullptr);
    table.Register(Advertisement(1, b, vqscw::testing::NumberedSources(1, 2, 20)), nullptr, nullptr,
                   nullptr);
    a.advv = 2;  // a restarted terminal: its old record goes
    table.Register(Advertisement(1, a, vqscw::testing::NumberedSources(1, 2, 10)), nullptr, nullptr,
                   nullptr);
    EXPECT_EQ(removals, std::vector<std::string>{"1 replaced"});

    clock.Advance(20000);
    table.Register(Advertisement(2, a), nullptr, nullptr, nullptr);  // a stays heard
    clock.Advance(10001);  // b was last heard 30001 ms ago
    EXPECT_EQ(table.GarbageCollect(), 1);
    EXPECT_EQ(removals, (std::vector<std::string>{"1 replaced", "2 expired"}));
    ASSERT_EQ(table.size(), 1u);
  }
  EXPECT_EQ(removals.size(), 2u);  // the release of `a` with the table is not a removal
}

}  // namespace
