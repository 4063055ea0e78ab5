#include "tools/spy/channel_filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace vqscw::tools {
namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

Ranges Parsed(const std::string& text) {
  ChannelFilter filter;
  std::string error;
  EXPECT_TRUE(filter.Parse(text, &error)) << error;
  return filter.ranges();
}

TEST(ChannelFilterTest, InlineEntriesAreChannelsAndRangesSeparatedBySemicolons) {
  EXPECT_TRUE(ChannelFilter().Allows(32767));  // no list: every channel
  EXPECT_EQ(Parsed("1-100;205;300 - 310"), (Ranges{{1, 100}, {205, 205}, {300, 310}}));
  EXPECT_EQ(Parsed("0;5;;;7-3;0x10;020;32767;32768"),
            (Ranges{{5, 5}, {16, 16}, {16, 16}, {32767, 32767}}));
  EXPECT_EQ(Parsed("5 6;9x; 12 ;\t4\n"), (Ranges{{12, 12}, {4, 4}}));
  EXPECT_EQ(Parsed(""), Ranges{});

  ChannelFilter filter;
  std::string error;
  ASSERT_TRUE(filter.Parse("3-7;10", &error));
  std::vector<bool> allowed;
  for (uint32_t channel : {2, 3, 7, 8, 10}) allowed.push_back(filter.Allows(channel));
  EXPECT_EQ(allowed, (std::vector<bool>{false, true, true, false, true}));
  ASSERT_TRUE(filter.Parse("", &error));
  EXPECT_FALSE(filter.Allows(3));  // an empty list lets nothing pass
}

TEST(ChannelFilterTest, FileHoldsAllowLines) {
  const std::string path = ::testing::TempDir() + "/channels.acl";
  std::ofstream(path) << "allow 1-100\r\nALLOW 205\n  Allow\t300 - 310\nallow 5;\nallowed 6\n"
                         "; allow 7\ndeny 8\nallow 9 10\nallow 3";
  EXPECT_EQ(Parsed("file://" + path), (Ranges{{1, 100}, {205, 205}, {300, 310}, {3, 3}}));
  std::remove(path.c_str());
  ChannelFilter filter;
  std::string error;
  EXPECT_FALSE(filter.Parse("file://" + path, &error));
  EXPECT_NE(error.find(path), std::string::npos);
}

}  // namespace
}  // namespace vqscw::tools
