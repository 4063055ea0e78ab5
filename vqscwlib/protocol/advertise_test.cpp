#include "vqscwlib/protocol/advertise.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/protocol_helpers.h"

namespace {

using namespace vqscw::testing;  // NOLINT

struct Sent {
  std::vector<Received> messages;
  std::string trace;
};

// What `terminal` sends to the group in `mode`, with the trace it prints while dbg_adv is set.
Sent Advertise(LocalTerminal* terminal, int mode) {
  GroupMember member;
  CClientEndpoint endpoint;
  EXPECT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  dbg_adv = 1;
  ::testing::internal::CaptureStdout();
  adv_advertise(&endpoint, kGroupHost, member.Port(), terminal, mode);
  Sent sent;
  sent.trace = ::testing::internal::GetCapturedStdout();
  dbg_adv = 0;
  sent.messages = Collect(&member);
  return sent;
}

struct SplitCase {
  std::vector<int> slots;
  std::vector<std::string> messages;  // the tags of each message sent
};

class FullAdvertisementTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FullAdvertisementTest, GroupsOfAtMostFourSourcesEachWithTheWholeTerminal) {
  LocalTerminal terminal = TerminalWithSlots(GetParam().slots);
  const Sent sent = Advertise(&terminal, kAdvertisementFull);
  std::vector<std::string> tags;
  for (const Received& r : sent.messages) {
    tags.push_back(TagsOf(r.message));
    EXPECT_EQ(r.mode, KIND_DATAGRAM);
    EXPECT_EQ(r.message.Code(), Tag("NEST"));
    EXPECT_EQ(r.message.TypeOf(Tag("ADVT")), FIELD_U8);
    EXPECT_EQ(r.message.GetU8(Tag("ADVT")), 1);
    const CFieldList* term = r.message.GetList(Tag("TERM"));
    ASSERT_NE(term, nullptr);
    EXPECT_EQ(term->Code(), Tag("INDI"));
    EXPECT_EQ(TagsOf(*term), "ADVV HWID INIP UDPC NUMS ATRN");
    EXPECT_EQ(term->GetU32(Tag("ADVV")), 77u);
    EXPECT_EQ(term->GetU16(Tag("HWID")), 0x1234);
    EXPECT_EQ(term->GetU32(Tag("INIP")), htonl(kLoopbackHost));
    EXPECT_EQ(term->GetU16(Tag("UDPC")), 9);
    EXPECT_EQ(term->GetU16(Tag("NUMS")), GetParam().slots.size());
    ASSERT_EQ(term->LengthOf(Tag("ATRN")), 32);
    EXPECT_STREQ(reinterpret_cast<const char*>(term->GetBlob(Tag("ATRN"))), "Studio A");
  }
  EXPECT_EQ(tags, GetParam().messages);
  EXPECT_EQ(terminal.sourceCount, GetParam().slots.size());
  EXPECT_EQ(LinesWithoutTime(sent.trace).size(), tags.size());  // one "advertise to" line each
}

INSTANTIATE_TEST_SUITE_P(
    Slots, FullAdvertisementTest,
    ::testing::Values(SplitCase{{0, 4, 15}, {"ADVT TERM S001 S005 S016"}},
                      SplitCase{{0, 1, 2, 3}, {"ADVT TERM S001 S002 S003 S004", "ADVT TERM"}},
                      SplitCase{{0, 1, 2, 3, 4},
                                {"ADVT TERM S001 S002 S003 S004", "ADVT TERM S005"}},
                      SplitCase{{}, {"ADVT TERM"}},
                      // The last group of four ends at the last slot: no message follows it.
                      SplitCase{{12, 13, 14, 15}, {"ADVT TERM S013 S014 S015 S016"}}));

TEST(AdvertiseTest, SourceCarriesEveryFieldWithFixedSizeNameAndLabelOnlyWhenSet) {
  LocalTerminal terminal = TerminalWithSlots({2});
  LocalSource& s = terminal.sources[1];
  s.psid = 7, s.shab = 1, s.fsid = 258, s.fast = 3, s.fasm = 4, s.bsid = 5, s.bast = 6;
  s.basm = 8, s.lpid = 9, s.stpl = 10;
  std::memcpy(s.name, "0123456789abcdef", 16);  // no terminator within the 16 bytes
  std::strcpy(s.label, "Desk");
  const Sent sent = Advertise(&terminal, kAdvertisementFull);
  ASSERT_EQ(sent.messages.size(), 1u);
  const CFieldList* source = sent.messages[0].message.GetList(Tag("S002"));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->Code(), Tag("INDI"));
  EXPECT_EQ(TagsOf(*source), "PSID SHAB FSID FAST FASM BSID BAST BASM LPID STPL PSNM LABL");
  const std::pair<const char*, uint32_t> fields[] = {
      {"PSID", 7}, {"SHAB", 1}, {"FSID", 258}, {"FAST", 3}, {"FASM", 4},
      {"BSID", 5}, {"BAST", 6}, {"BASM", 8},   {"LPID", 9}, {"STPL", 10}};
  for (const auto& [tag, value] : fields) EXPECT_EQ(source->GetInt(TextToTag(tag)), value) << tag;
  ASSERT_EQ(source->LengthOf(Tag("PSNM")), 16);
  EXPECT_EQ(std::memcmp(source->GetBlob(Tag("PSNM")), "0123456789abcdef", 16), 0);
  ASSERT_EQ(source->LengthOf(Tag("LABL")), 10);
  EXPECT_EQ(std::memcmp(source->GetBlob(Tag("LABL")), "Desk\0\0\0\0\0\0", 10), 0);
  EXPECT_FALSE(sent.messages[0].message.GetList(Tag("S003"))->Has(Tag("LABL")));
}

TEST(AdvertiseTest, ShortFormIsOneMessageWithTheModeAndANamelessTerminal) {
  LocalTerminal terminal = TerminalWithSlots({0, 1, 2, 3, 4, 5});
  for (int mode : {kAdvertisementShort, 9}) {
    const Sent sent = Advertise(&terminal, mode);
    ASSERT_EQ(sent.messages.size(), 1u);
    EXPECT_EQ(TagsOf(sent.messages[0].message), "ADVT TERM");
    EXPECT_EQ(sent.messages[0].message.GetU8(Tag("ADVT")), mode);
    const CFieldList* term = sent.messages[0].message.GetList(Tag("TERM"));
    EXPECT_EQ(TagsOf(*term), "ADVV HWID INIP UDPC NUMS");
    EXPECT_EQ(term->GetU16(Tag("NUMS")), 6);
    ASSERT_EQ(LinesWithoutTime(sent.trace).size(), 1u);
    EXPECT_EQ(LinesWithoutTime(sent.trace)[0].rfind(" advertise to: 239.192.255.3:", 0), 0u);
  }
}

TEST(AdvRequestTest, RecognisesRequestsForTheWholeAdvertisementOrAChannelItHas) {
  LocalTerminal terminal = TerminalWithSlots({0});
  terminal.sources[6].psid = 7;
  CMessage request;
  EXPECT_EQ(adv_Request(&request, &terminal), 0);
  request.SetCode(Tag("READ"));
  EXPECT_EQ(adv_Request(&request, &terminal), 0);  // no "ADVD"
  request.SetU8(Tag("ADVD"), 1);
  EXPECT_EQ(adv_Request(&request, &terminal), -1);
  request.SetCode(Tag("INDI"));
  EXPECT_EQ(adv_Request(&request, &terminal), 0);
  request.SetCode(Tag("READ"));

  dbg_adv = 1;
  ::testing::internal::CaptureStdout();
  request.SetU8(Tag("QIDE"), 7);
  EXPECT_EQ(adv_Request(&request, &terminal), 7);
  request.SetU16(Tag("PSID"), 100);  // "PSID" comes before "QIDE"
  EXPECT_EQ(adv_Request(&request, &terminal), 100);
  request.SetU32(Tag("PSID"), 8);
  EXPECT_EQ(adv_Request(&request, &terminal), 0);
  request.SetU32(Tag("PSID"), 0);
  EXPECT_EQ(adv_Request(&request, &terminal), 0);
  request.SetString(Tag("PSID"), "7");  // not an integer: reads as 0
  EXPECT_EQ(adv_Request(&request, &terminal), 0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  dbg_adv = 0;
  EXPECT_EQ(out,
            "vqscwlib adv request for PSID=0x7\nvqscwlib adv request for PSID=0x64\n"
            "vqscwlib adv request for PSID=0x8\n");
}

}  // namespace
