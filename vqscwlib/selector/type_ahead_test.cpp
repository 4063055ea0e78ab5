#include "vqscwlib/selector/type_ahead.h"

#include <gtest/gtest.h>

#include <vector>

namespace vqscw {
namespace {

constexpr uint32_t kInterval = 400;

// Rows in list order, as the dialog might show them after sorting by name.
const std::vector<TypeAheadRow> kRows = {
    {104, "Lounge music"}, {7, "News desk"},  {101, "newsroom 1"},
    {11, "Sports live"},   {102, "Studio B"}, {1, "Studio A"},
};

// The row found for each key typed, `gap_ms` apart, starting on row `current`; each find moves
// the current row as the list does.
std::vector<int> TypeKeys(const QString& keys, int current, uint32_t gap_ms,
                          uint32_t start = 5000) {
  TypeAhead type_ahead(kInterval);
  std::vector<int> found;
  uint32_t now = start;
  for (QChar key : keys) {
    const int row = FindTypeAheadRow(kRows, current, type_ahead.Type(QString(key), now));
    if (row >= 0) current = row;
    found.push_back(row);
    now += gap_ms;
  }
  return found;
}

TEST(TypeAheadTest, DigitsFindTheChannelNumberTyped) {
  // 1 (channel 104 comes first), then 11: the whole number, not the next channel beginning
  // with 1.
  EXPECT_EQ(TypeKeys("11", -1, 100), (std::vector<int>{0, 3}));
  // 1, 10, 102.
  EXPECT_EQ(TypeKeys("102", 0, 100), (std::vector<int>{2, 2, 4}));
  // No channel begins with 9; the current row stays.
  EXPECT_EQ(TypeKeys("9", 0, 100), (std::vector<int>{-1}));
}

TEST(TypeAheadTest, LettersFindTheNameCaseNotCounting) {
  EXPECT_EQ(TypeKeys("stu", -1, 100), (std::vector<int>{3, 4, 4}));
  EXPECT_EQ(TypeKeys("NEWSR", -1, 100), (std::vector<int>{1, 1, 1, 1, 2}));
  // A space belongs to the name typed.
  EXPECT_EQ(TypeKeys("studio a", 0, 50).back(), 5);
  EXPECT_EQ(TypeKeys("x", 2, 100), (std::vector<int>{-1}));
}

TEST(TypeAheadTest, OneLetterRepeatedStepsThroughItsNamesAndWraps) {
  EXPECT_EQ(TypeKeys("ssss", 0, 100), (std::vector<int>{3, 4, 5, 3}));
  // So does the same letter typed slowly: each key is a new search from the row after.
  EXPECT_EQ(TypeKeys("sss", 0, 1000), (std::vector<int>{3, 4, 5}));
}

TEST(TypeAheadTest, KeysFurtherApartThanTheIntervalStartANewSearch) {
  // "s" then, after the interval, "t": a search for t, which no name begins with.
  EXPECT_EQ(TypeKeys("st", 0, kInterval + 1), (std::vector<int>{3, -1}));
  // Exactly the interval apart still belongs to the same search.
  EXPECT_EQ(TypeKeys("st", 0, kInterval), (std::vector<int>{3, 4}));
  // Digits typed slowly are separate numbers: 1 (after row 0), then 0 matches nothing.
  EXPECT_EQ(TypeKeys("10", 0, 1000), (std::vector<int>{2, -1}));
}

TEST(TypeAheadTest, ASearchGoesOnAcrossTheTickCountersWrap) {
  EXPECT_EQ(TypeKeys("stu", 0, 150, 0xFFFFFF00u), (std::vector<int>{3, 4, 4}));
}

TEST(TypeAheadTest, OnlyAKeyWithinTheIntervalExtendsTheSearch) {
  TypeAhead type_ahead(kInterval);
  EXPECT_FALSE(type_ahead.Extends(100));  // nothing typed yet
  type_ahead.Type("a", 100);
  EXPECT_TRUE(type_ahead.Extends(100 + kInterval));
  EXPECT_FALSE(type_ahead.Extends(100 + kInterval + 1));
  EXPECT_FALSE(type_ahead.Extends(99));  // a tick before the last key is no continuation
  EXPECT_EQ(type_ahead.Type("", 150).text, QString());
}

TEST(TypeAheadTest, NoRowsFindNothing) {
  EXPECT_EQ(FindTypeAheadRow({}, -1, {"a", false}), -1);
  EXPECT_EQ(FindTypeAheadRow(kRows, 0, {"", true}), -1);
}

}  // namespace
}  // namespace vqscw
