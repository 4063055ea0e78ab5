#include "vqscwlib/platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace vqscw {
namespace {

TEST(TickTest, DeadlinesCompareAcrossTheWrap) {
  const uint32_t before_wrap = 0xFFFFFF00u;
  const uint32_t after_wrap = 0x00000100u;  // 512 ms later
  EXPECT_EQ(TickDiff(after_wrap, before_wrap), 512);
  EXPECT_EQ(TickDiff(before_wrap, after_wrap), -512);
  EXPECT_TRUE(TickReached(after_wrap, before_wrap));
  EXPECT_FALSE(TickReached(before_wrap, after_wrap));
  EXPECT_TRUE(TickReached(5, 5));
}

TEST(TickTest, RealClockAdvancesInMilliseconds) {
  const uint32_t start = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int32_t elapsed = TickDiff(TickCount(), start);
  EXPECT_GE(elapsed, 19);
  EXPECT_LT(elapsed, 5000);
}

TEST(TickTest, FakeClockReplacesTheRealOneWhileItLives) {
  {
    FakeClock clock(0xFFFFFFF0u);
    EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(TickCount(), 0x10u);  // wrapped
    clock.Set(42);
    uint32_t seen_on_other_thread = 0;
    std::thread([&] { seen_on_other_thread = TickCount(); }).join();
    EXPECT_EQ(seen_on_other_thread, 42u);
  }
  // Restored: the real clock is not stuck at the fake value.
  const uint32_t a = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_NE(TickCount(), a);
}

TEST(TickTest, MicrosecondClockFollowsTheFakeTickAndAgreesWithTheRealOne) {
  {
    FakeClock clock(5000);
    EXPECT_EQ(MonotonicMicroseconds(), 5000000u);
    clock.Advance(3);
    EXPECT_EQ(MonotonicMicroseconds(), 5003000u);
  }
  // The real reading is the tick's clock in finer units.
  const uint64_t micros = MonotonicMicroseconds();
  const uint32_t tick = TickCount();
  EXPECT_LE(static_cast<uint32_t>(micros / 1000) - tick + 1, 2u);
}

}  // namespace
}  // namespace vqscw
