#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "tests/support/message_helpers.h"
#include "vqscwlib/message/field_list.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/message/tags.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes EncodeList(const CFieldList& list) {
  Bytes out(list.EncodedSize());
  out.resize(list.Encode(out.data()));
  return out;
}

// Decodes from an exactly sized heap copy, so any read past the body trips the sanitizers.
uint16_t DecodeExact(CFieldList* list, const Bytes& body) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[body.size()]);
  if (!body.empty()) std::memcpy(copy.get(), body.data(), body.size());
  return list->Decode(copy.get(), static_cast<uint32_t>(body.size()));
}

CFieldList NestExample() {
  CFieldList indi;
  indi.SetCode(Tag("INDI"));
  indi.SetU16(Tag("HWID"), 0x0102);
  CFieldList nest;
  nest.SetCode(Tag("NEST"));
  nest.SetU8(Tag("ADVT"), 2);
  nest.SetList(Tag("TERM"), &indi);
  return nest;
}

TEST(CodecTest, EncodesTheReferenceMessagesByteForByte) {
  CFieldList read;
  read.SetCode(Tag("READ"));
  read.SetU8(Tag("ADVD"), 1);
  EXPECT_EQ(read.EncodedSize(), 12);
  EXPECT_EQ(EncodeList(read),
            (Bytes{0x52, 0x45, 0x41, 0x44, 0x00, 0x01, 0x41, 0x44, 0x56, 0x44, 0x07, 0x01}));

  const Bytes nest_bytes = {0x4E, 0x45, 0x53, 0x54, 0x00, 0x02, 0x41, 0x44, 0x56, 0x54, 0x07,
                            0x02, 0x54, 0x45, 0x52, 0x4D, 0x06, 0x00, 0x0D, 0x49, 0x4E, 0x44,
                            0x49, 0x00, 0x01, 0x48, 0x57, 0x49, 0x44, 0x08, 0x01, 0x02};
  CFieldList nest = NestExample();
  EXPECT_EQ(nest.EncodedSize(), 32);
  EXPECT_EQ(EncodeList(nest), nest_bytes);

  CFieldList decoded;
  EXPECT_EQ(DecodeExact(&decoded, nest_bytes), 32);
  EXPECT_EQ(decoded.GetU8(Tag("ADVT")), 2);
  ASSERT_NE(decoded.GetList(Tag("TERM")), nullptr);
  EXPECT_EQ(decoded.GetList(Tag("TERM"))->Code(), Tag("INDI"));
  EXPECT_EQ(decoded.GetList(Tag("TERM"))->GetU16(Tag("HWID")), 0x0102);

  CFieldList u64;
  u64.SetU64(Tag("BUSY"), 0x44556677u, 0x00112233u);
  const Bytes u64_bytes = EncodeList(u64);
  ASSERT_EQ(u64_bytes.size(), 19u);
  EXPECT_EQ(Bytes(u64_bytes.begin() + 11, u64_bytes.end()),
            (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
}

TEST(CodecTest, EncodesTextsBlocksAndArraysWithTheirLengthWords) {
  CFieldList list;
  list.SetCode(Tag("INDI"));
  list.SetString(Tag("TEXT"), "ab");
  const uint16_t u16s[2] = {0x0102, 0x0304};
  list.SetU16Array(Tag("AR16"), 2, u16s);
  const uint32_t u32s[1] = {0x0A0B0C0D};
  list.SetU32Array(Tag("AR32"), 1, u32s);
  list.SetU32(Tag("WORD"), 0xDEADBEEF);
  EXPECT_EQ(EncodeList(list), (Bytes{'I', 'N', 'D', 'I', 0, 4,                                   //
                                     'T', 'E', 'X', 'T', 2, 0,    3,    'a',  'b',  0,           //
                                     'A', 'R', '1', '6', 4, 0,    2,    1,    2,    3,    4,     //
                                     'A', 'R', '3', '2', 5, 0,    1,    0x0A, 0x0B, 0x0C, 0x0D,  //
                                     'W', 'O', 'R', 'D', 1, 0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(CodecTest, EmptyBodiesAndTrailingBytes) {
  CFieldList list;
  EXPECT_EQ(DecodeExact(&list, {0x52, 0x45, 0x41, 0x44, 0x00, 0x00}), 6);
  EXPECT_EQ(list.Code(), Tag("READ"));
  EXPECT_EQ(list.Count(), 0);
  // Count 0 followed by more bytes still consumes 6; the receiver compares with the body length.
  EXPECT_EQ(DecodeExact(&list, {0x52, 0x45, 0x41, 0x44, 0x00, 0x00, 0xAA, 0xBB}), 6);
}

TEST(CodecTest, RejectsShortAndTruncatedBodies) {
  CFieldList list;
  list.SetCode(Tag("KEEP"));
  list.SetU32(Tag("OLD "), 1);
  EXPECT_EQ(DecodeExact(&list, {0x52, 0x45, 0x41}), 0);
  EXPECT_EQ(list.Code(), Tag("KEEP"));  // fewer than 4 bytes: code unchanged
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(DecodeExact(&list, {0x52, 0x45, 0x41, 0x44, 0x00}), 0);
  EXPECT_EQ(list.Code(), Tag("READ"));

  // Announces two fields and holds one.
  const Bytes two_announced = {0x52, 0x45, 0x41, 0x44, 0x00, 0x02,
                               0x41, 0x44, 0x56, 0x44, 0x07, 0x01};
  EXPECT_EQ(DecodeExact(&list, two_announced), 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Has(Tag("ADVD")));

  // Every proper prefix of a valid body is rejected, and never read past.
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    CFieldList source;
    vqscw::testing::FillRandomList(&source, &rng, 2);
    const Bytes body = EncodeList(source);
    for (size_t cut = 0; cut < body.size(); ++cut) {
      Bytes prefix(body.begin(), body.begin() + cut);
      // The count or a length word always reaches past the cut.
      EXPECT_EQ(DecodeExact(&list, prefix), 0) << "cut at " << cut;
      EXPECT_EQ(list.Count(), 0);
    }
  }
}

TEST(CodecTest, MalformedNestedBodyLeavesAnEmptyNestedList) {
  const Bytes body = {'N', 'E', 'S', 'T', 0, 2,        //
                      'T', 'E', 'R', 'M', 6, 0, 7,     //
                      'I', 'N', 'D', 'I', 0, 5, 0xFF,  // says 5 fields, has none
                      'A', 'D', 'V', 'T', 7, 9};
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  ASSERT_NE(list.GetList(Tag("TERM")), nullptr);
  EXPECT_EQ(list.GetList(Tag("TERM"))->Count(), 0);
  EXPECT_EQ(list.GetU8(Tag("ADVT")), 9);
}

TEST(CodecTest, UnassignedTypesAndEmptyValues) {
  const Bytes body = {'I', 'N', 'D', 'I', 0,  4,     //
                      'U', 'N', 'K', 'N', 12, 0, 9,  // type 12, length word 9, nothing after it
                      'B', 'L', 'O', 'B', 3,  0, 0,  //
                      'A', 'R', 'R', 'Y', 5,  0, 0,  //
                      'N', 'E', 'X', 'T', 7,  5};
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  EXPECT_EQ(list.TypeOf(Tag("UNKN")), 12);
  EXPECT_EQ(list.LengthOf(Tag("UNKN")), 9);
  EXPECT_EQ(list.GetU8(Tag("NEXT")), 5);
  EXPECT_EQ(list.TypeOf(Tag("BLOB")), FIELD_BLOB);
  EXPECT_EQ(list.GetBlob(Tag("BLOB")), nullptr);
  EXPECT_EQ(list.LengthOf(Tag("ARRY")), 0);
  EXPECT_EQ(list.GetU32Array(Tag("ARRY")), nullptr);

  // A copy leaves the unassigned field out; the encoding of the decoded list keeps it.
  CFieldList copy(list);
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_FALSE(copy.Has(Tag("UNKN")));
  EXPECT_EQ(EncodeList(list), body);
}

TEST(CodecTest, RepeatedTagsBothStay) {
  const Bytes body = {'I', 'N', 'D', 'I', 0, 2, 'P', 'S', 'I', 'D', 7, 1, 'P', 'S', 'I', 'D', 7, 2};
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetU8(Tag("PSID")), 1);  // the first match from the cursor
}

// A nested list that a reused list's decode takes from its spares reads like a new one: its
// lookups start at its first field, not where the spare's previous use left its cursor.
TEST(CodecTest, NestedListOfAReusedListReadsAsNew) {
  const Bytes nested = {'I', 'N', 'D', 'I', 0, 3, 'P', 'S', 'I', 'D', 7, 1,
                        'F', 'S', 'I', 'D', 7, 9, 'P', 'S', 'I', 'D', 7, 2};
  Bytes body = {'N',
                'E',
                'S',
                'T',
                0,
                1,
                'S',
                '0',
                '0',
                '5',
                FIELD_LIST,
                0,
                static_cast<uint8_t>(nested.size())};
  body.insert(body.end(), nested.begin(), nested.end());
  CFieldList reused;
  ASSERT_EQ(DecodeExact(&reused, body), body.size());
  const CFieldList* first = reused.GetList(Tag("S005"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetU8(Tag("FSID")), 9);  // the cursor now rests on the second field
  ASSERT_EQ(DecodeExact(&reused, body), body.size());
  const CFieldList* second = reused.GetList(Tag("S005"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetU8(Tag("PSID")), 1);  // as in a new list: the first of the two
}

TEST(CodecTest, ReceivedBytesAreSignExtended) {
  CFieldList list;
  list.SetU8(Tag("LOW "), 0x7F);
  list.SetU8(Tag("HIGH"), 0x80);
  EXPECT_EQ(list.GetInt(Tag("HIGH")), 0x80u);
  CFieldList decoded;
  ASSERT_GT(DecodeExact(&decoded, EncodeList(list)), 0);
  EXPECT_EQ(decoded.GetInt(Tag("LOW ")), 0x7Fu);
  EXPECT_EQ(decoded.GetInt(Tag("HIGH")), 0xFFFFFF80u);
  EXPECT_EQ(decoded.GetU8(Tag("HIGH")), 0x80);
}

TEST(CodecTest, DecodedTextWithoutTerminatorIsTerminated) {
  // A sender that leaves out the text's NUL: readers must still stop at the field's end.
  const Bytes body = {'I', 'N', 'D', 'I', 0, 1, 'N', 'A', 'M', 'E', 2, 0, 3, 'a', 'b', 'c'};
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  EXPECT_EQ(list.LengthOf(Tag("NAME")), 3);
  EXPECT_STREQ(list.GetString(Tag("NAME")), "abc");
  EXPECT_EQ(EncodeList(list), body);  // re-encoded exactly as received
  CFieldList copy(list);
  EXPECT_EQ(copy.LengthOf(Tag("NAME")), 4);  // the copy holds the text with its NUL
}

TEST(CodecTest, DecodedUnsetFieldIsLeftOutOfTheEncodingAndItsCount) {
  const Bytes body = {'I', 'N', 'D', 'I', 0,   2,   'Z', 'E', 'R', 'O',
                      0,   0,   0,   'P', 'S', 'I', 'D', 7,   4};
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  const Bytes encoded = EncodeList(list);
  EXPECT_EQ(encoded.size(), list.EncodedSize());
  CFieldList again;
  ASSERT_EQ(DecodeExact(&again, encoded), encoded.size());
  EXPECT_EQ(again.Count(), 1);
  EXPECT_EQ(again.GetU8(Tag("PSID")), 4);
}

TEST(CodecTest, BodiesRunningPastTheSixteenBitLimitAreRejected) {
  // Two blocks of 40000 bytes: each field is whole, but the fields end past offset 65535.
  Bytes body = {'I', 'N', 'D', 'I', 0, 2};
  for (char c : {'A', 'B'}) {
    const Bytes head = {'B', 'L', 'O', static_cast<uint8_t>(c), 3, 0x9C, 0x40};
    body.insert(body.end(), head.begin(), head.end());
    body.insert(body.end(), 40000, 0x55);
  }
  CFieldList list;
  EXPECT_EQ(DecodeExact(&list, body), 0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(CodecTest, OversizeListIsNeverEncodedPastItsSize) {
  CFieldList list;
  list.SetBlob(Tag("BIG1"), 40000, nullptr);
  list.SetBlob(Tag("BIG2"), 40000, nullptr);
  EXPECT_EQ(list.EncodedSize(), 0xFFFF);
  Bytes out(16, 0xEE);
  EXPECT_EQ(list.Encode(out.data()), 0);
  EXPECT_EQ(out, Bytes(16, 0xEE));
}

TEST(CodecTest, DeepNestingIsBoundedNotFatal) {
  // 200 levels of lists, each holding the next as its single field.
  Bytes body = {'L', 'E', 'A', 'F', 0, 0};
  for (int level = 0; level < 200; ++level) {
    Bytes outer = {'L',
                   'V',
                   'L',
                   'S',
                   0,
                   1,
                   'N',
                   'E',
                   'S',
                   'T',
                   6,
                   static_cast<uint8_t>(body.size() >> 8),
                   static_cast<uint8_t>(body.size())};
    outer.insert(outer.end(), body.begin(), body.end());
    body = std::move(outer);
  }
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  int lists = 0;
  for (const CFieldList* at = &list; at != nullptr; at = at->GetList(Tag("NEST"))) ++lists;
  // The decoded levels, then one empty list where decoding stopped.
  EXPECT_EQ(lists, CFieldList::kMaxDecodeDepth + 1);
}

TEST(CodecTest, RandomListsRoundTrip) {
  std::mt19937 rng(20261208);
  CFieldList decoded;  // reused, so nested lists kept from earlier rounds are decoded into
  for (int round = 0; round < 400; ++round) {
    CFieldList source;
    vqscw::testing::FillRandomList(&source, &rng, 3);
    Bytes body(source.EncodedSize());
    const uint16_t written = source.Encode(body.data());
    ASSERT_EQ(written, body.size()) << "round " << round;
    ASSERT_EQ(DecodeExact(&decoded, body), written) << "round " << round;
    EXPECT_TRUE(vqscw::testing::SameFields(source, decoded)) << "round " << round;
    EXPECT_EQ(EncodeList(decoded), body) << "round " << round;
    CFieldList copy(decoded);
    EXPECT_TRUE(vqscw::testing::SameFields(copy, decoded)) << "round " << round;
  }
}

TEST(CodecTest, ReusedListDecodesWithoutGrowing) {
  CFieldList big;
  for (uint32_t i = 0; i < 40; ++i) big.SetU32(0x46000000u + i, i);
  const Bytes body = EncodeList(big);
  CFieldList list;
  ASSERT_EQ(DecodeExact(&list, body), body.size());
  EXPECT_EQ(list.capacity(), 40u);  // sized once from the declared count
  ASSERT_EQ(DecodeExact(&list, {'R', 'E', 'A', 'D', 0, 0}), 6);
  EXPECT_EQ(list.capacity(), 40u);
}

// A body of a few bytes that claims 65535 fields is refused before the decoder makes room for
// them; a datagram of thousands of such nested lists once took gigabytes.
TEST(CodecTest, CountTheBodyCannotHoldIsRefusedWithoutMakingRoomForIt) {
  CFieldList list(0, CFieldList::kDefaultGrowth);
  EXPECT_EQ(DecodeExact(&list, {'R', 'E', 'A', 'D', 0xFF, 0xFF}), 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.capacity(), 0u);
  // Two U8 fields need 12 bytes after the head: 17 are one short, 18 are enough.
  Bytes two = {'R', 'E', 'A', 'D', 0, 2, 'A', 'A', 'A', 'A', 7, 1, 'B', 'B', 'B', 'B', 7, 2};
  EXPECT_EQ(DecodeExact(&list, Bytes(two.begin(), two.end() - 1)), 0);
  EXPECT_EQ(list.capacity(), 0u);
  EXPECT_EQ(DecodeExact(&list, two), two.size());
  EXPECT_EQ(list.GetU8(Tag("BBBB")), 2);

  // 5000 nested lists, each claiming 65535 fields: decodes as 5000 empty lists, and no list
  // grew an array for them.
  constexpr int kNested = 5000;
  Bytes body = {
      'N', 'E', 'S', 'T', static_cast<uint8_t>(kNested >> 8), static_cast<uint8_t>(kNested & 0xFF)};
  for (int i = 0; i < kNested; ++i) {
    const Bytes field = {'L', 'I', 'S', 'T', 6, 0, 6, 'I', 'N', 'D', 'I', 0xFF, 0xFF};
    body.insert(body.end(), field.begin(), field.end());
  }
  CMessage message;
  ASSERT_EQ(DecodeExact(&message, body), body.size());
  ASSERT_EQ(message.Count(), kNested);
  const CFieldList* nested = message.GetList(Tag("LIST"));
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->Count(), 0);
  EXPECT_EQ(nested->capacity(), 0u);
}

// Nested lists are kept for the next decode, but not the field array of an unusually large one:
// otherwise each datagram could leave another kept list holding thousands of fields.
TEST(CodecTest, NestedListKeptForReuseLetsGoOfALargeFieldArray) {
  CFieldList large(8000, CFieldList::kDefaultGrowth);
  large.SetCode(Tag("INDI"));
  for (uint32_t i = 0; i < 8000; ++i) large.SetU8(0x46000000u + i, 1);
  CFieldList small;
  small.SetCode(Tag("INDI"));
  for (uint32_t i = 0; i < 12; ++i) small.SetU8(0x46000000u + i, 1);

  CMessage first;
  first.SetCode(Tag("NEST"));
  first.SetList(Tag("S001"), &large);
  CMessage second;
  second.SetCode(Tag("NEST"));
  second.SetList(Tag("S001"), &small);
  CMessage third;
  third.SetCode(Tag("NEST"));
  third.SetList(Tag("S001"), &small);

  CMessage received;  // reused, as the spy reuses its message
  ASSERT_EQ(DecodeExact(&received, EncodeList(first)), EncodeList(first).size());
  ASSERT_EQ(received.GetList(Tag("S001"))->capacity(), 8000u);
  ASSERT_EQ(DecodeExact(&received, EncodeList(second)), EncodeList(second).size());
  EXPECT_EQ(received.GetList(Tag("S001"))->Count(), 12);
  EXPECT_EQ(received.GetList(Tag("S001"))->capacity(), 12u);  // not the 8000 of before
  // A list of ordinary size keeps its array from one decode to the next.
  const CFieldList* kept = received.GetList(Tag("S001"));
  ASSERT_EQ(DecodeExact(&received, EncodeList(third)), EncodeList(third).size());
  EXPECT_EQ(received.GetList(Tag("S001")), kept);
  EXPECT_EQ(received.GetList(Tag("S001"))->capacity(), 12u);
}

}  // namespace
