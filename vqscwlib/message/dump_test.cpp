#include "vqscwlib/message/dump.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/message_helpers.h"
#include "vqscwlib/message/message.h"

namespace {

std::string Dump(CMessage& message, int flags = kDumpTagText) {
  std::vector<char> buffer(MessageDumpSize(message));
  const char* text = Message2String(&message, buffer.data(), flags);
  EXPECT_EQ(text, buffer.data());
  return text;
}

CMessage NestMessage() {
  CFieldList indi;
  indi.SetCode(Tag("INDI"));
  indi.SetU16(Tag("HWID"), 0x0102);
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), 2);
  message.SetList(Tag("TERM"), &indi);
  message.SetKind('M');
  return message;
}

TEST(DumpTest, RendersNestedListsWithTheirKinds) {
  CMessage message = NestMessage();
  EXPECT_EQ(Dump(message), "MSG  [NEST ADVT=02,TERM=DGRM [INDI HWID=0102]]");
  EXPECT_EQ(Dump(message, kDumpTagHex | kDumpTagText),
            "MSG  [NEST 41445654/ADVT=02,5445524D/TERM=DGRM [INDI 48574944/HWID=0102]]");
  EXPECT_EQ(Dump(message, 0), "MSG  [NEST =02,=DGRM [INDI =0102]]");
}

TEST(DumpTest, KindPrefixes) {
  CMessage message;
  message.SetCode(Tag("READ"));
  EXPECT_EQ(Dump(message), "DGRM [READ ]");
  message.SetKind('?');
  EXPECT_EQ(Dump(message), "     [READ ]");
  message.SetKind(' ');
  EXPECT_EQ(Dump(message), "[READ ]");
  message.SetKind('R');
  EXPECT_EQ(Dump(message), "REQ  [READ ]");
  message.SetKind('T');
  EXPECT_EQ(Dump(message), "RES  [READ ]");
  message.SetKind('x');
  EXPECT_EQ(Dump(message), "UNKN [READ ]");
}

TEST(DumpTest, EveryFieldType) {
  CMessage message;
  message.SetCode(Tag("INDI"));
  message.SetU32(Tag("PSID"), 0x102);
  message.SetString(Tag("NAME"), "Mic 1");
  const uint16_t u16s[3] = {1, 2, 3};
  message.SetU16Array(Tag("AR16"), 3, u16s);
  message.SetU16Array(Tag("NONE"), 0, nullptr);
  const uint32_t u32s[2] = {0xA, 0xDEADBEEF};
  message.SetU32Array(Tag("AR32"), 2, u32s);
  message.SetU64(TAG_REFI, 0x0A000005u, 0x00000001u);
  message.SetU64(TAG_ID, 0x04030201u, 0x08070605u);
  message.SetBlob(Tag("PSNM"), 6, "ab\0cd");
  EXPECT_EQ(Dump(message),
            "DGRM [INDI PSID=00000102,NAME='Mic 1',AR16={0001, 0002, 0003},NONE={},"
            "AR32={0000000A, DEADBEEF},refi=010000000500000A,*id*=0506070801020304,PSNM={ab}]");
}

TEST(DumpTest, UnknownTypeAddsOnlyItsCommaAndAStdoutLine) {
  const uint8_t body[] = {'I', 'N', 'D', 'I', 0, 3, 'A', 'A', 'A', 'A', 7, 1, 'U',
                          'N', 'K', 'N', 12,  0, 0, 'B', 'B', 'B', 'B', 7, 2};
  CMessage message;
  ASSERT_EQ(message.Decode(body, sizeof body), sizeof body);
  testing::internal::CaptureStdout();
  const std::string text = Dump(message);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "*unknown type=12*");
  EXPECT_EQ(text, "DGRM [INDI AAAA=01,,BBBB=02]");
}

TEST(DumpTest, BlockWithoutZeroByteStaysInsideTheBlock) {
  CMessage message;
  message.SetCode(Tag("INDI"));
  message.SetBlob(Tag("LABL"), 10, "ABCDEFGHIJ");
  message.SetU8(Tag("NEXT"), 1);
  // A buffer sized exactly for the text: the sanitizers catch any write past it.
  const std::string expected = "DGRM [INDI LABL={ABCDEFGHIJ},NEXT=01]";
  std::vector<char> exact(expected.size() + 1);
  ASSERT_LE(exact.size(), MessageDumpSize(message));
  EXPECT_EQ(std::string(Message2String(&message, exact.data(), kDumpTagText)), expected);
}

TEST(DumpTest, NullArgumentsWriteNothing) {
  CMessage message;
  char buffer[8] = "keep";
  EXPECT_EQ(Message2String(nullptr, buffer, kDumpTagText), nullptr);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(Message2String(&message, nullptr, kDumpTagText), nullptr);
}

TEST(DumpTest, SizeBoundHoldsForRandomMessages) {
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    CMessage message;
    vqscw::testing::FillRandomList(&message, &rng, 3);
    message.SetKind(static_cast<char>(rng()));
    const uint32_t bound = MessageDumpSize(message);
    std::vector<char> buffer(bound + 64, '\x7F');
    testing::internal::CaptureStdout();
    Message2String(&message, buffer.data(), kDumpTagHex | kDumpTagText);
    testing::internal::GetCapturedStdout();
    EXPECT_LE(std::strlen(buffer.data()) + 1, bound) << "round " << round;
  }
}

TEST(DumpTest, DebugTimeIsUtcWhateverTheTimeZone) {
  const char* old_tz = getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  setenv("TZ", "Pacific/Auckland", 1);
  tzset();
  char buffer[64];
  FormatDebugTime(1145393260, buffer, sizeof buffer);  // 18 April 2006, 20:47:40 UTC
  EXPECT_STREQ(buffer, "2006.04.18 20:47:40");
  if (old_tz != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  // The live clock uses the same form.
  const std::string now = dbg_time();
  ASSERT_EQ(now.size(), 19u);
  EXPECT_EQ(now[4], '.');
  EXPECT_EQ(now[10], ' ');
  EXPECT_EQ(now[13], ':');
}

}  // namespace

namespace {

TEST(DumpTest, EmptyTextFitsTheSizeBound) {
  // Found by fuzzing: a text field of length 0 prints as (null), longer than its length.
  const uint8_t body[] = {'I', 'N', 'D', 'I', 0, 1, 'N', 'A', 'M', 'E', 2, 0, 0};
  CMessage message;
  ASSERT_EQ(message.Decode(body, sizeof body), sizeof body);
  std::vector<char> exact(MessageDumpSize(message));
  EXPECT_STREQ(Message2String(&message, exact.data(), kDumpTagText), "DGRM [INDI NAME='(null)']");
}

}  // namespace
