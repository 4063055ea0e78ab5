#include "tools/spy/heard_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/spy/spy_testing.h"

namespace vqscw::tools {
namespace {

using vqscw::testing::FullAdvertisement;

TEST(HeardTableTest, ReportsEachSourceOnceAndEachTerminalItDrops) {
  HeardTable table(nullptr);  // full advertisements need no requests
  const uint32_t inip = htonl(0x0A000005);
  CMessage first = FullAdvertisement(7, inip, "Studio A",
                                     {{1, 101, 201, 2, "Mic 1"}, {2, 102, 202, 3, "Mic 2"}});
  CMessage other = FullAdvertisement(8, inip, "Studio B", {{1, 301, 301, 2, "Line"}});
  std::vector<std::string> heard;
  const auto on_source = [&](const SpySource& source) {
    heard.push_back(std::to_string(source.psid) + " " + source.name + " " + source.terminal->name);
  };
  table.Register(&first, on_source);
  table.Register(&other, on_source);
  table.Register(&first, on_source);  // known: nothing new
  EXPECT_EQ(heard, (std::vector<std::string>{"101 Mic 1 Studio A", "102 Mic 2 Studio A",
                                             "301 Line Studio B"}));

  std::vector<GoneTerminal> gone;
  const auto on_gone = [&](const GoneTerminal& terminal) { gone.push_back(terminal); };
  table.Collect(on_gone);
  EXPECT_TRUE(gone.empty());

  // Terminal 7 falls silent: its expiry passes.
  SpyTerminal* silent = table.first()->hwid == 7 ? table.first() : table.first()->next;
  ASSERT_EQ(silent->hwid, 7);
  silent->expiry -= 40000;
  table.Collect(on_gone);
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(gone[0].hwid, 7);
  EXPECT_EQ(gone[0].inip, inip);
  EXPECT_EQ(gone[0].name, "Studio A");
  ASSERT_NE(table.first(), nullptr);
  EXPECT_EQ(table.first()->hwid, 8);
  EXPECT_EQ(table.first()->next, nullptr);

  table.ReleaseAll();
  EXPECT_EQ(table.first(), nullptr);
}

}  // namespace
}  // namespace vqscw::tools
