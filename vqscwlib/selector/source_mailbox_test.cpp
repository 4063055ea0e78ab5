#include "vqscwlib/selector/source_mailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace vqscw {
namespace {

SourceInfo Info(uint32_t channel, const char* name) {
  SourceInfo info{};
  info.size = sizeof(SourceInfo);
  info.channel = channel;
  std::memcpy(info.name, name, std::min(std::strlen(name), sizeof info.name));
  return info;
}

TEST(SourceMailboxTest, KeepsFirstPlaceAndLatestNameOfEachChannel) {
  SourceMailbox box(nullptr);
  box.Post(5, "five");
  box.Post(3, "three");
  box.Post(5, "five again");
  const std::vector<ReportedSource> taken = box.Take();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].channel, 5);
  EXPECT_EQ(taken[0].name, "five again");
  EXPECT_EQ(taken[1].channel, 3);
  EXPECT_TRUE(box.Take().empty());
}

TEST(SourceMailboxTest, WakesOnceUntilTaken) {
  int wakes = 0;
  SourceMailbox box([&] { ++wakes; });
  box.Post(1, "a");
  box.Post(2, "b");
  EXPECT_EQ(wakes, 1);
  box.Take();
  box.Post(3, "c");
  EXPECT_EQ(wakes, 2);
  box.Clear();
  EXPECT_TRUE(box.Take().empty());
  box.Post(4, "d");
  EXPECT_EQ(wakes, 3);
}

TEST(SourceMailboxTest, CallbackCopiesChannelAndNameAndGoesOn) {
  SourceMailbox box(nullptr);
  SourceInfo info = Info(42, "Studio A");
  EXPECT_EQ(SourceMailbox::Callback(nullptr, &info, &box), 1);
  // A name that fills its whole field without a terminator is read no further than the field.
  SourceInfo full = Info(43, "");
  std::memset(full.name, 'N', sizeof full.name);
  EXPECT_EQ(SourceMailbox::Callback(nullptr, &full, &box), 1);
  const std::vector<ReportedSource> taken = box.Take();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].channel, 42);
  EXPECT_EQ(taken[0].name, "Studio A");
  EXPECT_EQ(taken[1].name, std::string(sizeof full.name, 'N'));
}

TEST(SourceMailboxTest, CallbackIgnoresRecordsTooShortOrMissing) {
  SourceMailbox box(nullptr);
  SourceInfo info = Info(42, "Studio A");
  info.size = 8;
  EXPECT_EQ(SourceMailbox::Callback(nullptr, &info, &box), 1);
  EXPECT_EQ(SourceMailbox::Callback(nullptr, nullptr, &box), 1);
  EXPECT_EQ(SourceMailbox::Callback(nullptr, &info, nullptr), 1);
  EXPECT_TRUE(box.Take().empty());
}

// Reporting threads post while the taking thread drains: every channel arrives exactly once
// with its last name, and nothing is lost between a Take and the next post.
TEST(SourceMailboxTest, PostsFromSeveralThreadsAllArrive) {
  constexpr int kThreads = 4;
  constexpr int kChannelsPerThread = 2000;
  std::atomic<int> wakes{0};
  SourceMailbox box([&] { wakes.fetch_add(1, std::memory_order_relaxed); });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&box, t] {
      for (int i = 0; i < kChannelsPerThread; ++i) {
        const int channel = t * kChannelsPerThread + i + 1;
        box.Post(channel, "first");
        box.Post(channel, "last");
      }
    });
  }
  std::vector<std::string> names(kThreads * kChannelsPerThread + 1);
  std::vector<int> seen(names.size(), 0);
  auto drain = [&] {
    for (const ReportedSource& source : box.Take()) {
      ASSERT_GT(source.channel, 0);
      ASSERT_LT(static_cast<size_t>(source.channel), names.size());
      names[source.channel] = source.name;
      ++seen[source.channel];
    }
  };
  for (int round = 0; round < 1000; ++round) drain();
  for (std::thread& thread : threads) thread.join();
  drain();
  for (size_t channel = 1; channel < names.size(); ++channel) {
    ASSERT_GE(seen[channel], 1) << channel;
    ASSERT_LE(seen[channel], 2) << channel;  // split across two takes at most
    ASSERT_EQ(names[channel], "last") << channel;
  }
  EXPECT_GE(wakes.load(), 1);
}

}  // namespace
}  // namespace vqscw
