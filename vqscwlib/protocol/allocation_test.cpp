#include "vqscwlib/protocol/allocation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/protocol_testing.h"

namespace {

using namespace vqscw::testing;  // NOLINT

constexpr uint32_t kOwnerHigh = 0x00C0FFEE;
constexpr uint32_t kOwnerLow = 0x12345678;

struct SourceRequest {
  const char* tag;
  uint64_t busy;
  int64_t psid = -1;  // -1: no "PSID"
  uint32_t code = Tag("INDI");
};

CMessage Message(uint32_t code, uint64_t requester, std::initializer_list<SourceRequest> sources) {
  CMessage message;
  message.SetCode(code);
  message.SetU64(TAG_REFI, static_cast<uint32_t>(requester),
                 static_cast<uint32_t>(requester >> 32));
  for (const SourceRequest& s : sources) {
    CFieldList list;
    list.SetCode(s.code);
    list.SetU64(Tag("BUSY"), static_cast<uint32_t>(s.busy), static_cast<uint32_t>(s.busy >> 32));
    if (s.psid >= 0) list.SetU32(Tag("PSID"), static_cast<uint32_t>(s.psid));
    message.SetList(TextToTag(s.tag), &list);
  }
  return message;
}

constexpr uint64_t Identity(uint32_t high, uint32_t low) {
  return static_cast<uint64_t>(high) << 32 | low;
}
constexpr uint64_t kOwner = Identity(kOwnerHigh, kOwnerLow);

uint64_t OwnerOf(const LocalTerminal& terminal, int slot) {
  return Identity(terminal.sources[slot].ownerHigh, terminal.sources[slot].ownerLow);
}

class AllocationTest : public ::testing::Test {
 protected:
  void SetUp() override { dbg_sac = 1; }
  void TearDown() override {
    dbg_sac = 0;
    sac_alloc_timeout = 21000;
  }
  // sac_Request on the terminal with its debug lines captured into lines_.
  int Apply(const CMessage& message) {
    ::testing::internal::CaptureStdout();
    const int result = sac_Request(&message, &terminal_);
    lines_ = LinesWithoutTime(::testing::internal::GetCapturedStdout());
    return result;
  }
  int Sweep() {
    ::testing::internal::CaptureStdout();
    const int result = sac_GarbageCollect(&terminal_);
    lines_ = LinesWithoutTime(::testing::internal::GetCapturedStdout());
    return result;
  }

  vqscw::FakeClock clock_{50000};
  LocalTerminal terminal_ = TerminalWithSlots({0, 1, 2, 4, 8});
  std::vector<std::string> lines_;
};

TEST_F(AllocationTest, AllocateThenRenewThenRefuseAnotherOwner) {
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner}})), 1);
  EXPECT_EQ(OwnerOf(terminal_, 0), kOwner);
  EXPECT_EQ(terminal_.sources[0].allocExpiry, 50000u + 21000u);
  EXPECT_EQ(lines_, std::vector<std::string>{" S001 allocated by 00C0FFEE12345678"});

  clock_.Advance(5000);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner}})), 0);
  EXPECT_EQ(terminal_.sources[0].allocExpiry, 55000u + 21000u);
  EXPECT_EQ(lines_, std::vector<std::string>{" S001 allocated by 00C0FFEE12345678 renewed"});

  clock_.Advance(1000);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 2, {{"S001", Identity(1, 2)}})), 0);
  EXPECT_EQ(OwnerOf(terminal_, 0), kOwner);
  EXPECT_EQ(terminal_.sources[0].allocExpiry, 55000u + 21000u);
  EXPECT_TRUE(lines_.empty());
}

TEST_F(AllocationTest, ReleaseIgnoresOnlyTheLowest16BitsOfTheRequester) {
  ASSERT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S002", kOwner}, {"S003", kOwner}})), 1);

  EXPECT_EQ(Apply(Message(Tag("WRIN"), kOwner ^ 0xFFFF, {{"S002", 0}})), 1);
  EXPECT_EQ(OwnerOf(terminal_, 1), 0u);
  EXPECT_EQ(lines_, std::vector<std::string>{" S002 released by 00C0FFEE12345678"});

  EXPECT_EQ(Apply(Message(Tag("WRIN"), kOwner ^ 0x10000, {{"S003", 0}})), 0);
  EXPECT_EQ(OwnerOf(terminal_, 2), kOwner);
  EXPECT_EQ(lines_, std::vector<std::string>{" S003 00C0FFEE12355678 tried to relese object "
                                             "allocated by 00C0FFEE12345678"});
  EXPECT_EQ(Apply(Message(Tag("WRIN"), kOwner ^ Identity(1, 0), {{"S003", 0}})), 0);
  EXPECT_EQ(OwnerOf(terminal_, 2), kOwner);

  // A free slot: a requester that is 0 in the compared bits may "release" it.
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 0x1234, {{"S005", 0}})), 1);
  EXPECT_EQ(lines_, std::vector<std::string>{" S005 released by 0000000000000000"});
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 0x10000, {{"S005", 0}})), 0);
}

TEST_F(AllocationTest, ChannelNumberReachesEverySlotWithItAndTheTagNumberOnlyItsSlot) {
  terminal_.sources[1].psid = 7;
  terminal_.sources[8].psid = 7;
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S016", kOwner, 7}})), 1);
  EXPECT_EQ(OwnerOf(terminal_, 1), kOwner);
  EXPECT_EQ(OwnerOf(terminal_, 8), kOwner);
  EXPECT_EQ(OwnerOf(terminal_, 15), 0u);
  EXPECT_EQ(lines_, (std::vector<std::string>{" S002 allocated by 00C0FFEE12345678",
                                              " S009 allocated by 00C0FFEE12345678"}));

  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S020", kOwner}, {"S000", kOwner}})), 0);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S005", kOwner}})), 1);
  EXPECT_EQ(OwnerOf(terminal_, 4), kOwner);
  // Neither a channel that no slot has nor the tags of other fields reach a slot.
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner, 4242}})), 0);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S01A", kOwner}, {"s001", kOwner}, {"X001", kOwner}})),
            0);
  EXPECT_EQ(OwnerOf(terminal_, 0), 0u);
  EXPECT_TRUE(lines_.empty());
}

// Slots not in use hold channel 0: neither a request naming channel 0 nor one naming such a
// slot by its tag may reserve them.
TEST_F(AllocationTest, UnusedSlotsAreNeverAllocated) {
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner, 0}})), 0);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S004", kOwner}})), 0);
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) EXPECT_EQ(OwnerOf(terminal_, slot), 0u);
  EXPECT_TRUE(lines_.empty());
}

TEST_F(AllocationTest, QueriesAnswerOneWithoutChangingAndCodesComeFromTheFirstSource) {
  const CMessage query = Message(Tag("READ"), 1, {{"S001", kOwner}});
  EXPECT_EQ(Apply(query), 1);
  EXPECT_EQ(OwnerOf(terminal_, 0), 0u);

  CMessage no_busy = Message(Tag("READ"), 1, {});
  CFieldList bare;
  bare.SetU32(Tag("PSID"), 100);
  no_busy.SetList(Tag("S001"), &bare);
  EXPECT_EQ(Apply(no_busy), 0);
  CFieldList wrong_type;
  wrong_type.SetU32(Tag("BUSY"), 0);
  no_busy.SetList(Tag("S001"), &wrong_type);
  EXPECT_EQ(Apply(no_busy), 0);

  // "NEST" takes the code of its first source list and keeps it for the rest of the message.
  EXPECT_EQ(Apply(Message(Tag("NEST"), 1,
                          {{"S001", kOwner, -1, Tag("WRIN")}, {"S002", kOwner, -1, Tag("READ")}})),
            1);
  EXPECT_EQ(OwnerOf(terminal_, 0), kOwner);
  EXPECT_EQ(OwnerOf(terminal_, 1), kOwner);
  EXPECT_EQ(Apply(Message(Tag("NEST"), 1, {{"S003", kOwner, -1, Tag("READ")}})), 1);
  EXPECT_EQ(OwnerOf(terminal_, 2), 0u);
  EXPECT_EQ(Apply(Message(Tag("INDI"), 1, {{"S003", kOwner}})), 0);
  EXPECT_EQ(OwnerOf(terminal_, 2), 0u);
}

TEST_F(AllocationTest, ReservationLapsesAtTheFirstSweepAfterItsTimeout) {
  ASSERT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner}})), 1);
  clock_.Advance(21000);
  EXPECT_EQ(Sweep(), 0);
  EXPECT_EQ(OwnerOf(terminal_, 0), kOwner);
  clock_.Advance(1);
  EXPECT_EQ(Sweep(), 1);
  EXPECT_EQ(OwnerOf(terminal_, 0), 0u);
  EXPECT_EQ(lines_, std::vector<std::string>{" S001 allocated by 00C0FFEE12345678 timed out"});
  EXPECT_EQ(Sweep(), 0);
}

TEST_F(AllocationTest, RenewalAndAHostsTimeoutMoveTheExpiryAcrossTheTickWrap) {
  clock_.Set(0xFFFFF000u);
  sac_alloc_timeout = 10000;
  ASSERT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner}, {"S002", kOwner}})), 1);
  clock_.Advance(9000);  // past the wrap
  EXPECT_EQ(Sweep(), 0);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S002", kOwner}})), 0);  // renews S002 only
  clock_.Advance(1001);
  EXPECT_EQ(Sweep(), 1);
  EXPECT_EQ(OwnerOf(terminal_, 0), 0u);
  EXPECT_EQ(OwnerOf(terminal_, 1), kOwner);
  clock_.Advance(9000);
  EXPECT_EQ(Sweep(), 1);
  EXPECT_EQ(OwnerOf(terminal_, 1), 0u);
}

TEST_F(AllocationTest, LinesAreQuietWhileTheFlagIsClear) {
  dbg_sac = 0;
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 1, {{"S001", kOwner}})), 1);
  EXPECT_EQ(Apply(Message(Tag("WRIN"), 5, {{"S001", 0}})), 0);
  clock_.Advance(30000);
  EXPECT_EQ(Sweep(), 1);
  EXPECT_TRUE(lines_.empty());
}

TEST(SacAnnounceTest, SendsEachSlotInUseWithItsOwnerAndTheReference) {
  GroupMember member;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  LocalTerminal terminal = TerminalWithSlots({2, 0, 15});
  terminal.sources[2].ownerHigh = kOwnerHigh;
  terminal.sources[2].ownerLow = kOwnerLow;
  terminal.sources[5].ownerLow = 99;  // not in use: not announced
  sac_Announce(&endpoint, kAdvertisementGroupHost, member.Port(), &terminal, 3, 0xAABBCCDD,
               0x11223344);

  const std::vector<Received> messages = member.Collect();
  ASSERT_EQ(messages.size(), 1u);
  const CMessage& m = messages[0].message;
  EXPECT_EQ(messages[0].mode, KIND_DATAGRAM);
  EXPECT_EQ(m.Code(), Tag("NEST"));
  EXPECT_EQ(TagsOf(m), "ADVT TERM S001 S003 S016 *id* refi");
  EXPECT_EQ(m.GetU8(Tag("ADVT")), 3);
  const CFieldList* term = m.GetList(Tag("TERM"));
  ASSERT_NE(term, nullptr);
  EXPECT_EQ(term->Code(), Tag("INDI"));
  EXPECT_EQ(TagsOf(*term), "HWID");
  EXPECT_EQ(term->GetU16(Tag("HWID")), 0x1234);
  for (const char* tag : {"S001", "S003", "S016"}) {
    const CFieldList* source = m.GetList(TextToTag(tag));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Code(), Tag("INDI"));
    EXPECT_EQ(TagsOf(*source), "PSID BUSY");
    EXPECT_EQ(source->TypeOf(Tag("BUSY")), FIELD_U64);
  }
  EXPECT_EQ(m.GetList(Tag("S003"))->GetU32(Tag("PSID")), 102u);
  EXPECT_EQ(m.GetList(Tag("S003"))->GetU64(Tag("BUSY")), kOwner);
  EXPECT_EQ(m.GetList(Tag("S001"))->GetU64(Tag("BUSY")), 0u);
  EXPECT_EQ(m.TypeOf(TAG_ID), FIELD_U64);
  EXPECT_EQ(m.GetU64(TAG_ID), 0u);
  EXPECT_EQ(m.GetU64(TAG_REFI), 0x11223344AABBCCDDu);
}

}  // namespace
