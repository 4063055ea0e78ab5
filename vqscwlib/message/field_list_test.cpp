#include "vqscwlib/message/field_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "vqscwlib/message/message.h"
#include "vqscwlib/message/tags.h"

namespace {

constexpr uint32_t kPsid = Tag("PSID");
constexpr uint32_t kName = Tag("NAME");
constexpr uint32_t kTerm = Tag("TERM");

TEST(TagTest, TextAndTagConvertBothWays) {
  EXPECT_EQ(TextToTag("S001"), 0x53303031u);
  EXPECT_EQ(TextToTag("AB"), 0x41420000u);
  EXPECT_EQ(TextToTag(""), 0u);
  EXPECT_EQ(TextToTag(nullptr), 0u);
  EXPECT_EQ(TextToTag("PSIDXYZ"), 0x50534944u);  // only four characters count
  char text[5];
  EXPECT_STREQ(TagToText(0x50534944u, text), "PSID");
  EXPECT_EQ(Tag("PSID"), 0x50534944u);
  EXPECT_EQ(SourceSlotTag(1), Tag("S001"));
  EXPECT_EQ(SourceSlotTag(16), Tag("S016"));
  EXPECT_EQ(SourceSlotTag(100), Tag("S100"));
  EXPECT_EQ(SourceSlotTag(999), Tag("S999"));
}

TEST(FieldListTest, SettingAnExistingTagReplacesTheFieldInPlace) {
  CFieldList list;
  list.SetU32(kPsid, 7);
  CFieldList nested;
  nested.SetString(kName, "inner");
  list.SetList(kTerm, &nested);
  list.SetBlob(kName, 3, "abc");

  // Each replacement releases the old data (the sanitizer build checks for leaks).
  EXPECT_TRUE(list.SetString(kTerm, "now a text"));
  EXPECT_TRUE(list.SetU16Array(kName, 2, nullptr));
  EXPECT_TRUE(list.SetU8(kPsid, 3));

  EXPECT_EQ(list.Count(), 3);
  uint32_t tag = 0;
  ASSERT_TRUE(list.TagAt(1, &tag));
  EXPECT_EQ(tag, kTerm);
  EXPECT_EQ(list.TypeOf(kTerm), FIELD_STRING);
  EXPECT_STREQ(list.GetString(kTerm), "now a text");
  EXPECT_EQ(list.GetList(kTerm), nullptr);
  EXPECT_EQ(list.TypeOf(kPsid), FIELD_U8);
  EXPECT_EQ(list.GetU32(kPsid), 0u);
  EXPECT_EQ(list.GetInt(kPsid), 3u);
}

TEST(FieldListTest, GrowsBySixteenAndKeepsOrder) {
  CFieldList list;
  for (uint32_t i = 0; i < 17; ++i) ASSERT_TRUE(list.SetU32(0x46000000u + i, i));
  EXPECT_EQ(list.capacity(), 32u);
  ASSERT_EQ(list.Count(), 17);
  for (uint32_t i = 0; i < 17; ++i) {
    uint32_t tag = 0;
    ASSERT_TRUE(list.TagAt(i, &tag));
    EXPECT_EQ(tag, 0x46000000u + i);
    EXPECT_EQ(list.GetU32(tag), i);
  }
  EXPECT_FALSE(list.TagAt(17, nullptr));
}

TEST(FieldListTest, FixedCapacityRefusesAnExtraFieldButAllowsReplacement) {
  CFieldList list(2, 0);
  EXPECT_TRUE(list.SetU32(Tag("AAAA"), 1));
  EXPECT_TRUE(list.SetString(Tag("BBBB"), "b"));
  EXPECT_FALSE(list.SetU32(Tag("CCCC"), 3));
  EXPECT_FALSE(list.SetString(Tag("DDDD"), "not stored"));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_FALSE(list.Has(Tag("CCCC")));
  EXPECT_TRUE(list.SetString(Tag("AAAA"), "replaced"));
  EXPECT_STREQ(list.GetString(Tag("AAAA")), "replaced");
}

TEST(FieldListTest, GettersOfAnotherTypeOrAnAbsentTagGiveZero) {
  CFieldList list;
  list.SetU8(Tag("BYTE"), 0xAB);
  list.SetU16(Tag("WORD"), 0xBEEF);
  list.SetU64(Tag("LONG"), 0x44556677u, 0x00112233u);
  list.SetBool(Tag("FLAG"), true);
  EXPECT_EQ(list.GetU32(Tag("BYTE")), 0u);
  EXPECT_EQ(list.GetInt(Tag("BYTE")), 0xABu);
  EXPECT_EQ(list.GetU8(Tag("BYTE")), 0xAB);
  EXPECT_EQ(list.GetInt(Tag("WORD")), 0xBEEFu);
  EXPECT_EQ(list.GetInt(Tag("LONG")), 0u);
  EXPECT_EQ(list.GetU64(Tag("LONG")), 0x0011223344556677ull);
  EXPECT_EQ(list.GetU8(Tag("FLAG")), 1);
  EXPECT_EQ(list.GetString(Tag("BYTE")), nullptr);
  EXPECT_EQ(list.GetList(Tag("WORD")), nullptr);
  EXPECT_FALSE(list.Has(Tag("NONE")));
  EXPECT_EQ(list.TypeOf(Tag("NONE")), 0);
  EXPECT_EQ(list.LengthOf(Tag("NONE")), 0);
}

TEST(FieldListTest, TextsBlocksAndArraysStoreTheirLengths) {
  CFieldList list;
  list.SetString(Tag("TEXT"), "abc");
  EXPECT_EQ(list.LengthOf(Tag("TEXT")), 4);
  list.SetString(Tag("NULL"), nullptr);
  EXPECT_EQ(list.TypeOf(Tag("NULL")), FIELD_STRING);
  EXPECT_EQ(list.LengthOf(Tag("NULL")), 0);
  EXPECT_EQ(list.GetString(Tag("NULL")), nullptr);

  list.SetBlob(Tag("ZERO"), 10, nullptr);
  ASSERT_EQ(list.LengthOf(Tag("ZERO")), 10);
  const uint8_t zeros[10] = {};
  EXPECT_EQ(std::memcmp(list.GetBlob(Tag("ZERO")), zeros, 10), 0);

  const uint32_t values[3] = {1, 2, 0xFFFFFFFFu};
  list.SetU32Array(Tag("ARR4"), 3, values);
  EXPECT_EQ(list.LengthOf(Tag("ARR4")), 3);
  EXPECT_EQ(list.GetU32Array(Tag("ARR4"))[2], 0xFFFFFFFFu);
}

TEST(FieldListTest, ValuesTakenFromTheListItselfSurviveTheirReplacement) {
  CFieldList list;
  list.SetString(kName, "self");
  EXPECT_TRUE(list.SetString(kName, list.GetString(kName)));
  EXPECT_STREQ(list.GetString(kName), "self");

  CFieldList nested;
  nested.SetU32(kPsid, 9);
  list.SetList(kTerm, &nested);
  EXPECT_TRUE(list.SetList(kTerm, list.GetList(kTerm)));
  EXPECT_EQ(list.GetList(kTerm)->GetU32(kPsid), 9u);
  EXPECT_FALSE(list.SetList(kTerm, nullptr));
  EXPECT_NE(list.GetList(kTerm), nullptr);
}

TEST(FieldListTest, LookupWrapsAroundFromTheLastMatch) {
  CFieldList list;
  for (uint32_t i = 0; i < 5; ++i) list.SetU32(0x46000000u + i, i);
  EXPECT_EQ(list.GetU32(0x46000004u), 4u);  // cursor at the end
  EXPECT_EQ(list.GetU32(0x46000000u), 0u);  // found by wrapping
  EXPECT_TRUE(list.Has(0x46000000u));
  EXPECT_FALSE(list.Has(0x47000000u));
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(list.GetU32(0x46000000u + i), i);

  CFieldList one;
  one.SetU16(kPsid, 1);
  EXPECT_EQ(one.GetU16(kPsid), 1);
  EXPECT_FALSE(one.Has(kName));
}

TEST(FieldListTest, ClearKeepsTheArrayAndTheCode) {
  CFieldList list;
  list.SetCode(Tag("INDI"));
  for (uint32_t i = 0; i < 20; ++i) list.SetString(0x46000000u + i, "text");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.capacity(), 32u);
  EXPECT_EQ(list.Code(), Tag("INDI"));
  EXPECT_FALSE(list.Has(0x46000000u));
  EXPECT_TRUE(list.SetU32(kPsid, 1));
}

TEST(FieldListTest, CopiesAreDeepAndTakeShapeAndCode) {
  CFieldList inner;
  inner.SetString(kName, "Mic 1");
  CFieldList original(4, 8);
  original.SetCode(Tag("NEST"));
  original.SetList(kTerm, &inner);
  original.SetU64(TAG_ID, 1, 2);

  CFieldList copy(original);
  EXPECT_EQ(copy.Code(), Tag("NEST"));
  EXPECT_EQ(copy.capacity(), 4u);
  EXPECT_EQ(copy.growth(), 8);
  ASSERT_NE(copy.GetList(kTerm), nullptr);
  EXPECT_NE(copy.GetList(kTerm), original.GetList(kTerm));
  copy.GetList(kTerm)->SetString(kName, "changed");
  EXPECT_STREQ(original.GetList(kTerm)->GetString(kName), "Mic 1");
  EXPECT_EQ(copy.GetU64(TAG_ID), 0x0000000200000001ull);

  CMessage message;
  message.SetU32(kPsid, 3);
  message.SetReceipt(0x0A000005u, 1, 2, 3);
  message.SetKind('M');
  CMessage message_copy(message);
  EXPECT_EQ(message_copy.GetU32(kPsid), 3u);
  EXPECT_EQ(message_copy.SourceAddress(), 0x0A000005u);
  EXPECT_EQ(message_copy.Kind(), 'M');
}

TEST(FieldListTest, NewMessageHasNoReceiptData) {
  CMessage message;
  EXPECT_EQ(message.SourceAddress(), 0u);
  EXPECT_EQ(message.H1(), 0);
  EXPECT_EQ(message.H2(), 0);
  EXPECT_EQ(message.H3(), 0u);
  EXPECT_EQ(message.Kind(), 0);
  EXPECT_EQ(message.capacity(), 16u);
}

}  // namespace
