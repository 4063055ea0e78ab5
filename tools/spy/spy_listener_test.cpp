// The tool's hold on the library's spy, in a network namespace of the test's own: what the spy
// reports arrives in the queue as copies, with the access list applied, and a terminal that
// falls silent is reported once the fake clock has passed its lifetime.
#include "tools/spy/spy_listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/source_table_helpers.h"
#include "tests/support/transport_helpers.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/source_spy.h"

namespace vqscw::tools {
namespace {

using namespace std::chrono_literals;  // NOLINT
using vqscw::testing::Advertisement;

// Takes events until `count` have come, for at most five seconds.
std::vector<SpyEvent> TakeAtLeast(SpyListener* listener, size_t count) {
  std::vector<SpyEvent> events;
  for (const auto end = std::chrono::steady_clock::now() + 5s;
       events.size() < count && std::chrono::steady_clock::now() < end;) {
    for (SpyEvent& event : listener->Take(100ms)) events.push_back(std::move(event));
  }
  return events;
}

class SpyListenerTest : public ::testing::Test {
 protected:
  void Send(const CMessage& message) {
    peer_.Send(NetAddress(kAdvertisementGroup, kTerminalPort),
               vqscw::testing::DatagramFrame(message, ++sequence_));
  }

  vqscw::FakeClock clock_{100000};
  vqscw::testing::ScriptedPeer peer_{"127.0.0.1", 0};
  uint32_t sequence_ = 0;
  const vqscw::testing::TestTerminal terminal_{4242, htonl(0x7F000001), 1, 3, "Stage \"Box\""};
};

TEST_F(SpyListenerTest, QueuesCopiesOfWhatTheSpyReportsAndTheTerminalsThatExpire) {
  SpyListener listener;
  std::string error;
  const std::string acl = "11-12";
  ASSERT_TRUE(listener.Open(htonl(0x7F000001), &acl, &error)) << error;
  Send(Advertisement(kAdvertisementFull, terminal_,
                     {{1, 11, 301, 2, "Mic"}, {2, 12, 302, 1, "Data"}, {3, 13, 303, 3, "Line"}}));
  const std::vector<SpyEvent> heard = TakeAtLeast(&listener, 1);
  ASSERT_EQ(heard.size(), 1u);  // 12 is of the hidden type, 13 outside the list
  const HeardSource& source = std::get<HeardSource>(heard[0]);
  EXPECT_EQ(SourceLine(source, "", false),
            "source 11 \"Mic\" stream 301 type 2 from 127.0.0.1 hwid 4242 \"Stage \\\"Box\\\"\"");
  EXPECT_LE(source.time, WallClock::now());
  EXPECT_GT(source.time, WallClock::now() - 10s);

  // Silent for the terminal lifetime: reported gone within a round of the listening thread.
  clock_.Advance(kTerminalLifetimeMs + 1);
  const std::vector<SpyEvent> gone = TakeAtLeast(&listener, 1);
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(GoneLine(std::get<GoneTerminal>(gone[0]), false),
            "expired 127.0.0.1 hwid 4242 \"Stage \\\"Box\\\"\"");
  listener.Close();
  EXPECT_TRUE(listener.Take(0ms).empty());
}

TEST_F(SpyListenerTest, ReportsWhatTheSpyHeardBeforeAndAfterAndNothingOnceClosed) {
  SpyListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(htonl(0x7F000001), nullptr, &error)) << error;
  Send(Advertisement(kAdvertisementFull, terminal_, {{1, 21, 321, 2, "A"}}));
  ASSERT_EQ(TakeAtLeast(&listener, 1).size(), 1u);
  // A new version replaces the record: its sources come again, and nothing is said expired.
  vqscw::testing::TestTerminal changed = terminal_;
  changed.advv = 2;
  Send(Advertisement(kAdvertisementFull, changed, {{1, 22, 322, 3, "B"}}));
  const std::vector<SpyEvent> again = TakeAtLeast(&listener, 1);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(std::get<HeardSource>(again[0]).channel, 22u);
  listener.Close();
  Send(Advertisement(kAdvertisementFull, terminal_, {{1, 23, 323, 2, "C"}}));
  EXPECT_TRUE(listener.Take(200ms).empty());

  // An access list the library cannot read fails the open.
  SpyListener refused;
  const std::string missing = "file:///nonexistent/vqscw.acl";
  EXPECT_FALSE(refused.Open(htonl(0x7F000001), &missing, &error));
  EXPECT_NE(error.find("1006"), std::string::npos) << error;
}

}  // namespace
}  // namespace vqscw::tools
