#include "vqscwlib/transport/duplicate_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>

#include "vqscwlib/platform/clock.h"

namespace {

using vqscw::FakeClock;

constexpr uint32_t kMaxAge = CDuplicateFilter::kDefaultMaxAgeMs;
constexpr uint32_t kHostA = 0x0A000001;  // 10.0.0.1
constexpr uint32_t kHostB = 0x0A000002;

TEST(DuplicateFilterTest, PurgeForgetsSendersJustOverTheMaximumAge) {
  FakeClock clock(1000);
  CDuplicateFilter filter;
  EXPECT_FALSE(filter.Check(kHostA, 4001, 9));
  clock.Set(1000 + kMaxAge);
  filter.Purge(kMaxAge);
  EXPECT_EQ(filter.Count(), 1u);  // exactly 10000 ms old: stays
  EXPECT_TRUE(filter.Check(kHostA, 4001, 9));
  clock.Advance(1);
  filter.Purge(kMaxAge);
  EXPECT_EQ(filter.Count(), 0u);
  EXPECT_FALSE(filter.Check(kHostA, 4001, 9));  // a forgotten sender's frame is new
}

// A sender heard alone is always the newest entry; it must still be refreshed by each new frame,
// or it ages out 10 s after it was first heard however often it sends, and a repeat of its latest
// frame arriving after that purge is delivered a second time.
TEST(DuplicateFilterTest, LoneSenderIsNotForgottenWhileItKeepsSending) {
  FakeClock clock(0);
  CDuplicateFilter filter;
  uint32_t sequence = 100;
  for (int second = 0; second <= 10; ++second) {
    clock.Set(static_cast<uint32_t>(second) * 1000);
    filter.Purge(kMaxAge);
    EXPECT_FALSE(filter.Check(kHostA, 4001, ++sequence));
  }
  clock.Advance(500);  // 10.5 s after the sender was first heard
  filter.Purge(kMaxAge);
  EXPECT_TRUE(filter.Check(kHostA, 4001, sequence));  // the repeat is still caught
  // Silent from here: forgotten just over 10 s after its last frame.
  clock.Set(10000 + kMaxAge);
  filter.Purge(kMaxAge);
  EXPECT_EQ(filter.Count(), 1u);
  clock.Advance(1);
  filter.Purge(kMaxAge);
  EXPECT_EQ(filter.Count(), 0u);
}

TEST(DuplicateFilterTest, The33rdSenderTakesASecondChunkAndFreedEntriesAreReused) {
  FakeClock clock(0);
  CDuplicateFilter filter;
  EXPECT_EQ(filter.ChunkCount(), 0u);
  for (uint16_t port = 1; port <= 32; ++port) filter.Check(kHostA, port, 1);
  EXPECT_EQ(filter.ChunkCount(), 1u);
  filter.Check(kHostA, 33, 1);
  EXPECT_EQ(filter.ChunkCount(), 2u);
  EXPECT_EQ(filter.Count(), 33u);
  for (uint16_t port = 1; port <= 33; ++port) EXPECT_TRUE(filter.Check(kHostA, port, 1));

  clock.Advance(kMaxAge + 1);
  filter.Purge(kMaxAge);
  for (uint16_t port = 100; port < 164; ++port) filter.Check(kHostB, port, 1);
  EXPECT_EQ(filter.ChunkCount(), 2u);  // 64 senders fit the two chunks
  filter.Check(kHostB, 164, 1);
  EXPECT_EQ(filter.ChunkCount(), 3u);
}

// Random traffic from many senders against a plain map that forgets by the same rule.
TEST(DuplicateFilterTest, AgreesWithASimpleModelUnderChurn) {
  FakeClock clock(0xFFFF0000u);  // crosses the wrap on the way
  CDuplicateFilter filter;
  std::map<std::pair<uint32_t, uint16_t>, std::pair<uint32_t, uint32_t>> model;  // seq, stamp
  std::mt19937 random(12345);
  for (int step = 0; step < 20000; ++step) {
    clock.Advance(random() % 7);
    const uint32_t now = clock.Now();
    if (step % 50 == 0) {
      filter.Purge(kMaxAge);
      for (auto it = model.begin(); it != model.end();) {
        it = now - it->second.second > kMaxAge ? model.erase(it) : std::next(it);
      }
      ASSERT_EQ(filter.Count(), model.size());
    }
    const uint32_t address = 0x0A000000u + random() % 40;
    const uint16_t port = static_cast<uint16_t>(4000 + random() % 5);
    const uint32_t sequence = random() % 3;
    const auto key = std::make_pair(address, port);
    auto it = model.find(key);
    const bool repeat = it != model.end() && it->second.first == sequence;
    ASSERT_EQ(filter.Check(address, port, sequence), repeat) << "step " << step;
    if (!repeat) model[key] = {sequence, now};
  }
}

}  // namespace
