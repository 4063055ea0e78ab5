#include "tools/monitor/spy_follower.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/source_spy.h"

namespace vqscw::tools {
namespace {

using Changes = std::vector<std::pair<uint32_t, bool>>;

// A terminal record with one slot per entry of `slots`: {channel, stream type}; channel 0 leaves
// the slot free.
class Terminal {
 public:
  explicit Terminal(const std::vector<std::pair<uint32_t, uint8_t>>& slots)
      : memory_(new std::max_align_t[(sizeof(SpyTerminal) + slots.size() * sizeof(SpySource)) /
                                         sizeof(std::max_align_t) +
                                     1]()) {
    auto* terminal = reinterpret_cast<SpyTerminal*>(memory_.get());
    terminal->nums = static_cast<uint16_t>(slots.size());
    for (size_t i = 0; i < slots.size(); ++i) {
      SpySource& source = terminal->sources()[i];
      source.terminal = terminal;
      source.tag = slots[i].first != 0 ? 0x53303031u + static_cast<uint32_t>(i) : 0;
      source.psid = slots[i].first;
      source.fast = slots[i].second;
    }
  }
  const SpyTerminal& record() const { return *reinterpret_cast<const SpyTerminal*>(memory_.get()); }

 private:
  std::unique_ptr<std::max_align_t[]> memory_;
};

TEST(SpyFollowerTest, ChannelIsOfferedWhileAnyTerminalStillOffersIt) {
  SpyFollower follower;
  follower.Offered(5);
  follower.Offered(7);
  follower.Offered(5);  // by a second terminal
  EXPECT_EQ(follower.TakeChanges(), (Changes{{5, true}, {7, true}}));
  EXPECT_EQ(follower.TakeChanges(), Changes{});

  // The first terminal goes: its channel 5 is still offered by the other; its hidden source and
  // its free slot were never reported and change nothing.
  follower.TerminalGone(Terminal({{5, 2}, {9, kHiddenStreamType}, {0, 0}}).record());
  EXPECT_EQ(follower.TakeChanges(), Changes{});
  follower.TerminalGone(Terminal({{5, 2}, {7, 3}}).record());
  EXPECT_EQ(follower.TakeChanges(), (Changes{{5, false}, {7, false}}));
}

TEST(SpyFollowerTest, TerminalReplacedByItsNewAdvertisementLeavesNothing) {
  SpyFollower follower;
  follower.Offered(12);
  follower.TakeChanges();
  // Replaced: its record leaves the table and the new one's sources are reported again.
  follower.TerminalGone(Terminal({{12, 2}}).record());
  follower.Offered(12);
  EXPECT_EQ(follower.TakeChanges(), (Changes{{12, true}}));  // offered still: nothing to leave
}

TEST(SpyFollowerTest, SourcesNeverReportedDoNotUnbalanceTheCount) {
  SpyFollower follower;
  follower.TerminalGone(Terminal({{40, 2}}).record());  // before the enumeration reported it
  follower.Offered(40);
  EXPECT_EQ(follower.TakeChanges(), (Changes{{40, true}}));
  follower.TerminalGone(Terminal({{40, 2}}).record());
  EXPECT_EQ(follower.TakeChanges(), (Changes{{40, false}}));
}

}  // namespace
}  // namespace vqscw::tools
