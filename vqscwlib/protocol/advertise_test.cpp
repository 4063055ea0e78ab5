#include "vqscwlib/protocol/advertise.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "vqscwlib/protocol/protocol_testing.h"

namespace {

using namespace vqscw::testing;  // NOLINT

// The source tags of each message of a full advertisement, one string a message.
std::vector<std::string> SourceGroups(const std::vector<Received>& messages) {
  std::vector<std::string> groups;
  for (const Received& r : messages) {
    std::string tags = TagsOf(r.message);
    EXPECT_EQ(tags.rfind("ADVT TERM", 0), 0u) << tags;
    groups.push_back(tags.size() > 9 ? tags.substr(10) : "");
  }
  return groups;
}

struct SplitCase {
  std::vector<int> slots;
  std::vector<std::string> groups;
};

class FullAdvertisementTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FullAdvertisementTest, SendsGroupsOfAtMostFourSourcesEachWithTheWholeTerminal) {
  GroupMember member;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  LocalTerminal terminal = TerminalWithSlots(GetParam().slots);
  adv_advertise(&endpoint, kAdvertisementGroupHost, member.Port(), &terminal, kAdvertiseFull);

  const std::vector<Received> messages = member.Collect();
  EXPECT_EQ(SourceGroups(messages), GetParam().groups);
  EXPECT_EQ(terminal.sourceCount, GetParam().slots.size());
  for (const Received& r : messages) {
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
    EXPECT_EQ(term->TypeOf(Tag("NUMS")), FIELD_U16);
    EXPECT_EQ(term->GetU16(Tag("NUMS")), GetParam().slots.size());
    ASSERT_EQ(term->LengthOf(Tag("ATRN")), 32);
    EXPECT_STREQ(reinterpret_cast<const char*>(term->GetBlob(Tag("ATRN"))), "Studio A");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Slots, FullAdvertisementTest,
    ::testing::Values(SplitCase{{0, 4, 15}, {"S001 S005 S016"}},
                      SplitCase{{0, 1, 2, 3}, {"S001 S002 S003 S004", ""}},
                      SplitCase{{0, 1, 2, 3, 4}, {"S001 S002 S003 S004", "S005"}},
                      SplitCase{{}, {""}},
                      // The last group of four ends at the last slot: nothing follows it.
                      SplitCase{{12, 13, 14, 15}, {"S013 S014 S015 S016"}},
                      SplitCase{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                {"S001 S002 S003 S004", "S005 S006 S007 S008",
                                 "S009 S010 S011 S012", "S013 S014 S015 S016"}}));

TEST(AdvertiseTest, SourceCarriesEveryFieldWithFixedSizeNameAndLabelOnlyWhenSet) {
  GroupMember member;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  LocalTerminal terminal = TerminalWithSlots({1, 2});
  LocalSource& labelled = terminal.sources[1];
  labelled = LocalSource{};
  labelled.psid = 7;
  labelled.shab = 1;
  labelled.fsid = 258;
  labelled.fast = 3;
  labelled.fasm = 4;
  labelled.bsid = 5;
  labelled.bast = 6;
  labelled.basm = 8;
  labelled.lpid = 9;
  labelled.stpl = 10;
  std::memcpy(labelled.name, "0123456789abcdef", 16);  // 16 bytes, no terminator in them
  std::strcpy(labelled.label, "Desk");
  adv_advertise(&endpoint, kAdvertisementGroupHost, member.Port(), &terminal, kAdvertiseFull);

  const std::vector<Received> messages = member.Collect();
  ASSERT_EQ(messages.size(), 1u);
  const CFieldList* source = messages[0].message.GetList(Tag("S002"));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->Code(), Tag("INDI"));
  EXPECT_EQ(TagsOf(*source), "PSID SHAB FSID FAST FASM BSID BAST BASM LPID STPL PSNM LABL");
  EXPECT_EQ(source->GetU32(Tag("PSID")), 7u);
  EXPECT_EQ(source->GetU8(Tag("SHAB")), 1);
  EXPECT_EQ(source->GetU32(Tag("FSID")), 258u);
  EXPECT_EQ(source->GetU8(Tag("FAST")), 3);
  EXPECT_EQ(source->GetU8(Tag("FASM")), 4);
  EXPECT_EQ(source->GetU32(Tag("BSID")), 5u);
  EXPECT_EQ(source->GetU8(Tag("BAST")), 6);
  EXPECT_EQ(source->GetU8(Tag("BASM")), 8);
  EXPECT_EQ(source->GetU32(Tag("LPID")), 9u);
  EXPECT_EQ(source->GetU8(Tag("STPL")), 10);
  ASSERT_EQ(source->LengthOf(Tag("PSNM")), 16);
  EXPECT_EQ(std::memcmp(source->GetBlob(Tag("PSNM")), "0123456789abcdef", 16), 0);
  ASSERT_EQ(source->LengthOf(Tag("LABL")), 10);
  EXPECT_EQ(std::memcmp(source->GetBlob(Tag("LABL")), "Desk\0\0\0\0\0\0", 10), 0);

  const CFieldList* unlabelled = messages[0].message.GetList(Tag("S003"));
  ASSERT_NE(unlabelled, nullptr);
  EXPECT_FALSE(unlabelled->Has(Tag("LABL")));
  EXPECT_EQ(unlabelled->LengthOf(Tag("PSNM")), 16);
}

TEST(AdvertiseTest, ShortFormIsOneMessageWithTheModeAndANamelessTerminal) {
  GroupMember member;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  LocalTerminal terminal = TerminalWithSlots({0, 1, 2, 3, 4, 5});
  dbg_adv = 1;
  ::testing::internal::CaptureStdout();
  adv_advertise(&endpoint, kAdvertisementGroupHost, member.Port(), &terminal, kAdvertiseShort);
  const std::string trace = ::testing::internal::GetCapturedStdout();
  dbg_adv = 0;
  adv_advertise(&endpoint, kAdvertisementGroupHost, member.Port(), &terminal, 9);

  const std::vector<Received> messages = member.Collect();
  ASSERT_EQ(messages.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(TagsOf(messages[i].message), "ADVT TERM");
    EXPECT_EQ(messages[i].message.GetU8(Tag("ADVT")), i == 0 ? 2 : 9);
    const CFieldList* term = messages[i].message.GetList(Tag("TERM"));
    ASSERT_NE(term, nullptr);
    EXPECT_EQ(TagsOf(*term), "ADVV HWID INIP UDPC NUMS");
    EXPECT_EQ(term->GetU16(Tag("NUMS")), 6);
  }
  EXPECT_EQ(LinesWithoutTime(trace), std::vector<std::string>{" advertise to: 239.192.255.3:" +
                                                              std::to_string(member.Port())});
}

// A unicast destination gets acknowledged messages; one refused does not stop the next.
TEST(AdvertiseTest, UnicastMessagesAreAcknowledgedAndARefusalDoesNotStopTheRest) {
  ScriptedPeer peer;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  LocalTerminal terminal = TerminalWithSlots({0, 1, 2, 3, 4});
  std::vector<Datagram> frames;
  std::thread answerer([&] {
    for (uint8_t verdict : {KIND_NAK, KIND_ACK}) {
      if (auto d = peer.Receive(2000)) {
        frames.push_back(*d);
        peer.Send(d->source, Ack(verdict, d->Sequence()));
      }
    }
  });
  ::testing::internal::CaptureStderr();
  adv_advertise(&endpoint, kLoopbackHost, peer.Address().Port(), &terminal, kAdvertiseFull);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  answerer.join();
  ASSERT_EQ(frames.size(), 2u);
  for (const Datagram& frame : frames) EXPECT_EQ(frame.bytes[kFrameModeOffset], KIND_MESSAGE);
  EXPECT_EQ(errors.find("SendMsg() to 127.0.0.1:" + std::to_string(peer.Address().Port()) +
                        " failed errno="),
            0u)
      << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
}

// adv_Request

CMessage Request(uint32_t code, bool advd) {
  CMessage message;
  message.SetCode(code);
  if (advd) message.SetU8(Tag("ADVD"), 1);
  return message;
}

TEST(AdvRequestTest, RecognisesRequestsForTheWholeAdvertisementOrAChannelItHas) {
  LocalTerminal terminal = TerminalWithSlots({0});
  terminal.sources[6].psid = 7;

  const CMessage whole = Request(Tag("READ"), true);
  EXPECT_EQ(adv_Request(&whole, &terminal), -1);
  const CMessage without_advd = Request(Tag("READ"), false);
  EXPECT_EQ(adv_Request(&without_advd, &terminal), 0);
  CMessage indi = Request(Tag("INDI"), true);
  EXPECT_EQ(adv_Request(&indi, &terminal), 0);

  CMessage psid = Request(Tag("READ"), true);
  psid.SetU32(Tag("PSID"), 7);
  EXPECT_EQ(adv_Request(&psid, &terminal), 7);
  psid.SetU16(Tag("PSID"), 100);  // any integer width
  EXPECT_EQ(adv_Request(&psid, &terminal), 100);
  psid.SetU32(Tag("PSID"), 8);
  EXPECT_EQ(adv_Request(&psid, &terminal), 0);
  psid.SetU32(Tag("PSID"), 0);
  EXPECT_EQ(adv_Request(&psid, &terminal), 0);
  psid.SetString(Tag("PSID"), "7");  // not an integer: reads as 0
  EXPECT_EQ(adv_Request(&psid, &terminal), 0);

  CMessage qide = Request(Tag("READ"), true);
  qide.SetU8(Tag("QIDE"), 7);
  EXPECT_EQ(adv_Request(&qide, &terminal), 7);
  qide.SetU32(Tag("PSID"), 100);  // "PSID" wins over "QIDE"
  EXPECT_EQ(adv_Request(&qide, &terminal), 100);
}

TEST(AdvRequestTest, DebugLineNamesTheChannelAskedForInHex) {
  LocalTerminal terminal = TerminalWithSlots({});
  CMessage qide = Request(Tag("READ"), true);
  qide.SetU32(Tag("QIDE"), 0x1F);
  dbg_adv = 1;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(adv_Request(&qide, &terminal), 0);
  const CMessage whole = Request(Tag("READ"), true);
  EXPECT_EQ(adv_Request(&whole, &terminal), -1);  // no channel: no line
  const std::string out = ::testing::internal::GetCapturedStdout();
  dbg_adv = 0;
  EXPECT_EQ(out, "vqscwlib adv request for PSID=0x1F\n");
}

}  // namespace
