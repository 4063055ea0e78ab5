#include "vqscwlib/selector/channel_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vqscwlib/selector/text_util.h"

namespace vqscw {
namespace {

TEST(ChannelTextTest, ChannelIsRightAlignedInFiveCharacters) {
  EXPECT_EQ(ChannelText(7), "    7");
  EXPECT_EQ(ChannelText(32767), "32767");
  EXPECT_EQ(ChannelText(123456), "123456");
  EXPECT_EQ(ChannelText(-12), "  -12");
}

TEST(PresetTextTest, ListsEveryPresetHoldingTheChannelInOrder) {
  const Presets presets = {10, 2, 10, 4, 5, 6, 7, 10};
  EXPECT_EQ(PresetText(presets, 10), "1 3 8 ");
  EXPECT_EQ(PresetText(presets, 2), "2 ");
  EXPECT_EQ(PresetText(presets, 99), "");
}

TEST(FilterTest, AllListsEveryChannelAndUnassignedOnlyThoseWithoutCategory) {
  EXPECT_TRUE(PassesFilter("", kFilterAll));
  EXPECT_TRUE(PassesFilter("News", kFilterAll));
  EXPECT_TRUE(PassesFilter("", kFilterUnassigned));
  EXPECT_FALSE(PassesFilter("News", kFilterUnassigned));
}

TEST(FilterTest, CategoriesMatchWithoutRegardToCase) {
  EXPECT_TRUE(PassesFilter("News", "news"));
  EXPECT_TRUE(PassesFilter("news", "NEWS"));
  EXPECT_TRUE(PassesFilter("Café", "CAFÉ"));
  EXPECT_FALSE(PassesFilter("News", "Newsroom"));
  EXPECT_FALSE(PassesFilter("Newsroom", "News"));
  EXPECT_FALSE(PassesFilter("", "Talk"));
  EXPECT_TRUE(PassesFilter("", "(all)"));
}

TEST(ComboTest, AnEntryBeginningWithTheTextStandsForIt) {
  const std::vector<std::string> entries = {"(All)", "(Unasigned)", "Newsroom"};
  EXPECT_FALSE(ComboTakes(entries, "News"));
  EXPECT_FALSE(ComboTakes(entries, "newsROOM"));
  EXPECT_TRUE(ComboTakes(entries, "Newsroom2"));
  EXPECT_TRUE(ComboTakes(entries, "Music"));
  EXPECT_FALSE(ComboTakes(entries, ""));
  EXPECT_FALSE(ComboTakes(entries, "("));
}

TEST(ComboTest, SortedPlaceIgnoresCaseFirst) {
  const std::vector<std::string> entries = {"(All)", "(Unasigned)", "alpha", "Charlie"};
  EXPECT_EQ(SortedComboIndex(entries, "Bravo"), 3u);
  EXPECT_EQ(SortedComboIndex(entries, "delta"), 4u);
  EXPECT_EQ(SortedComboIndex(entries, "(Zzz)"), 2u);
  EXPECT_EQ(SortedComboIndex({}, "x"), 0u);
}

TEST(SortTest, NamesSortByBytesWithCapitalsFirst) {
  std::vector<std::string> names = {"B", "a", "C"};
  std::stable_sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
    return CompareCells(x, y) < 0;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"B", "C", "a"}));
}

TEST(SortTest, CellsCompareAsUnsignedBytesOverTheirFirst63) {
  EXPECT_LT(CompareCells("z", "\xC3\xA9"), 0);  // a byte of 0xC3 orders after 'z'
  EXPECT_EQ(CompareCells("same", "same"), 0);
  EXPECT_LT(CompareCells("", "a"), 0);
  const std::string prefix(63, 'x');
  EXPECT_EQ(CompareCells(prefix + "a", prefix + "b"), 0);
}

TEST(PresetEditTest, TheLeadingNumberNamesThePreset) {
  EXPECT_EQ(PresetOfEditedText("3x"), 3);
  EXPECT_EQ(PresetOfEditedText("  8"), 8);
  EXPECT_EQ(PresetOfEditedText("+2"), 2);
  EXPECT_EQ(PresetOfEditedText("9"), 0);
  EXPECT_EQ(PresetOfEditedText("0"), 0);
  EXPECT_EQ(PresetOfEditedText(""), 0);
  EXPECT_EQ(PresetOfEditedText("-1"), 0);
  EXPECT_EQ(PresetOfEditedText("x3"), 0);
  EXPECT_EQ(PresetOfEditedText("4294967297"), 0);  // saturates, never wraps to 1
}

TEST(LeadingNumberTest, ReadsLikeTheStringToNumberConversion) {
  EXPECT_EQ(LeadingNumber("\t 42abc"), 42);
  EXPECT_EQ(LeadingNumber("-17"), -17);
  EXPECT_EQ(LeadingNumber("- 5"), 0);
  EXPECT_EQ(LeadingNumber("99999999999"), 2147483647);
  EXPECT_EQ(LeadingNumber("-99999999999"), -2147483647 - 1);
}

TEST(TextCutTest, CutsAtCharacterBoundaries) {
  EXPECT_EQ(CutText("abcdef", 3), "abc");
  EXPECT_EQ(CutText("ab", 3), "ab");
  EXPECT_EQ(CutText("a\xC3\xA9z", 2), "a");
  EXPECT_EQ(CutText("a\xC3\xA9z", 3), "a\xC3\xA9");
  EXPECT_EQ(CutText("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");
  EXPECT_EQ(CutText("abc", 0), "");
}

}  // namespace
}  // namespace vqscw
