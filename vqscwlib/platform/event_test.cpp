#include "vqscwlib/platform/event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

namespace vqscw {
namespace {

bool Readable(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return poll(&pfd, 1, 0) == 1;
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
  Event event(Event::ResetMode::kManual);
  ASSERT_TRUE(event.valid());
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(Readable(event.fd()));
  event.Set();
  event.Set();  // setting twice is harmless
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(Readable(event.fd()));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(Readable(event.fd()));
}

TEST(EventTest, AutoResetReleasesOneWait) {
  Event event(Event::ResetMode::kAuto, /*initially_set=*/true);
  EXPECT_TRUE(Readable(event.fd()));
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(Readable(event.fd()));
}

TEST(EventTest, WaitTimesOutWithoutASet) {
  Event event(Event::ResetMode::kManual);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.Wait(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
}

TEST(EventTest, SetFromAnotherThreadWakesAWaiter) {
  Event event(Event::ResetMode::kAuto);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    event.Set();
  });
  EXPECT_TRUE(event.Wait(5000));
  setter.join();
}

TEST(EventTest, TwoWaitersOfAnAutoEventShareOneSetEach) {
  Event event(Event::ResetMode::kAuto);
  int woken = 0;
  std::mutex mu;
  auto waiter = [&] {
    if (event.Wait(2000)) {
      std::lock_guard<std::mutex> lock(mu);
      ++woken;
    }
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  event.Set();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(woken, 1);
  }
  event.Set();
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
}

}  // namespace
}  // namespace vqscw
