#include "vqscwlib/selector/selector_options.h"

#include <gtest/gtest.h>

#include <string>

namespace vqscw {
namespace {

uintptr_t Text(const char* text) { return reinterpret_cast<uintptr_t>(text); }

TEST(SelectorOptionsTest, LaterEntriesReplaceEarlierOnesAndTheWalkStopsAtTagZero) {
  const SelectorOption options[] = {{SELECTOR_OPT_TITLE, Text("First")},
                                    {SELECTOR_OPT_ACCESS_LIST, Text("1-5")},
                                    {99, Text("unknown tags are skipped")},
                                    {SELECTOR_OPT_TITLE, Text("Second")},
                                    {SELECTOR_OPT_ACCESS_LIST, 0},
                                    {0, 0},
                                    {SELECTOR_OPT_TITLE, Text("beyond the end")}};
  const SelectorOptions parsed = ParseSelectorOptions(options);
  EXPECT_EQ(parsed.caption, "Second");
  EXPECT_EQ(parsed.access_list, "");
}

TEST(SelectorOptionsTest, TextsAreCutToTheirLimits) {
  const std::string title(300, 'T');
  const std::string version(100, 'v');
  const std::string access(400, 'a');
  const SelectorOption options[] = {{SELECTOR_OPT_TITLE, Text(title.c_str())},
                                    {SELECTOR_OPT_VERSION, Text(version.c_str())},
                                    {SELECTOR_OPT_ACCESS_LIST, Text(access.c_str())},
                                    {0, 0}};
  const SelectorOptions parsed = ParseSelectorOptions(options);
  ASSERT_EQ(parsed.caption.size(), kCaptionLimit);
  EXPECT_EQ(parsed.caption.substr(0, kTitleLimit), std::string(kTitleLimit, 'T'));
  EXPECT_EQ(parsed.caption.substr(kTitleLimit, 11), kVersionSuffix);
  EXPECT_EQ(parsed.access_list, std::string(kAccessListLimit, 'a'));
}

TEST(SelectorOptionsTest, ACutNeverSplitsACharacter) {
  // 255 ASCII bytes then a two-byte character: the title limit falls inside that character.
  const std::string title = std::string(255, 'x') + "\xC3\xA9";
  const SelectorOption options[] = {{SELECTOR_OPT_TITLE, Text(title.c_str())}, {0, 0}};
  EXPECT_EQ(ParseSelectorOptions(options).caption, std::string(255, 'x'));
}

TEST(SelectorOptionsTest, FrameKeepsOnlyTheTwoBoxBits) {
  const SelectorOption both[] = {{SELECTOR_OPT_FRAME, 3}, {0, 0}};
  EXPECT_EQ(ParseSelectorOptions(both).frame_flags,
            SELECTOR_FRAME_MINIMIZE | SELECTOR_FRAME_MAXIMIZE);
  const SelectorOption other_bits[] = {{SELECTOR_OPT_FRAME, 0xFC | 2}, {0, 0}};
  EXPECT_EQ(ParseSelectorOptions(other_bits).frame_flags, SELECTOR_FRAME_MAXIMIZE);
}

TEST(SelectorOptionsTest, IconIsOwnHostOrNone) {
  const SelectorOption own[] = {{SELECTOR_OPT_ICON, SELECTOR_ICON_OWN}, {0, 0}};
  EXPECT_EQ(ParseSelectorOptions(own).icon, IconChoice::kOwn);

  int host_icon_stand_in = 0;  // only its address is kept
  const SelectorOption host[] = {
      {SELECTOR_OPT_ICON, reinterpret_cast<uintptr_t>(&host_icon_stand_in)}, {0, 0}};
  const SelectorOptions parsed = ParseSelectorOptions(host);
  EXPECT_EQ(parsed.icon, IconChoice::kHost);
  EXPECT_EQ(static_cast<const void*>(parsed.host_icon), &host_icon_stand_in);

  const SelectorOption none_after_own[] = {
      {SELECTOR_OPT_ICON, SELECTOR_ICON_OWN}, {SELECTOR_OPT_ICON, 0}, {0, 0}};
  EXPECT_EQ(ParseSelectorOptions(none_after_own).icon, IconChoice::kClass);
}

}  // namespace
}  // namespace vqscw
