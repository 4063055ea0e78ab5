#include "vqscwlib/protocol/allocation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/protocol_helpers.h"
#include "vqscwlib/platform/clock.h"

namespace {

using namespace vqscw::testing;  // NOLINT
using Lines = std::vector<std::string>;

constexpr uint64_t kOwner = 0x00C0FFEE12345678;
constexpr char kAllocated[] = " allocated by 00C0FFEE12345678";

struct SourceRequest {
  const char* tag;
  uint64_t busy;
  int64_t psid = -1;  // -1: no "PSID"
  uint32_t code = Tag("INDI");
};

CMessage Message(uint32_t code, uint64_t requester, std::initializer_list<SourceRequest> sources) {
  CMessage message;
  message.SetCode(code);
  message.SetU64(TAG_REFI, static_cast<uint32_t>(requester), requester >> 32);
  for (const SourceRequest& s : sources) {
    CFieldList list;
    list.SetCode(s.code);
    list.SetU64(Tag("BUSY"), static_cast<uint32_t>(s.busy), s.busy >> 32);
    if (s.psid >= 0) list.SetU32(Tag("PSID"), static_cast<uint32_t>(s.psid));
    message.SetList(TextToTag(s.tag), &list);
  }
  return message;
}

class AllocationTest : public ::testing::Test {
 protected:
  void TearDown() override {
    dbg_sac = 0;
    sac_alloc_timeout = 21000;
  }
  // Applies `message` (null: sweeps) and checks the result and the debug lines printed.
  void Expect(const CMessage* message, int result, const Lines& lines) {
    dbg_sac = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(
        message != nullptr ? sac_Request(message, &terminal_) : sac_GarbageCollect(&terminal_),
        result);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.empty() ? Lines{} : LinesWithoutTime(out), lines);
  }
  void Expect(const CMessage& message, int result, const Lines& lines = {}) {
    Expect(&message, result, lines);
  }
  uint64_t Owner(int slot) const {
    return static_cast<uint64_t>(terminal_.sources[slot].ownerHigh) << 32 |
           terminal_.sources[slot].ownerLow;
  }

  vqscw::FakeClock clock_{50000};
  LocalTerminal terminal_ = TerminalWithSlots({0, 1, 2, 4, 8});
};

TEST_F(AllocationTest, AllocateRenewRefuseAnotherOwnerAndReleaseByTheHigh48Bits) {
  Expect(Message(Tag("WRIN"), 1, {{"S001", kOwner}, {"S002", kOwner}}), 1,
         {std::string(" S001") + kAllocated, std::string(" S002") + kAllocated});
  EXPECT_EQ(terminal_.sources[0].allocExpiry, 71000u);
  clock_.Advance(5000);
  Expect(Message(Tag("WRIN"), 1, {{"S001", kOwner}}), 0,
         {std::string(" S001") + kAllocated + " renewed"});
  EXPECT_EQ(terminal_.sources[0].allocExpiry, 76000u);
  Expect(Message(Tag("WRIN"), 2, {{"S001", 0x100000002}}), 0);  // another owner
  EXPECT_EQ(Owner(0), kOwner);

  Expect(Message(Tag("WRIN"), kOwner ^ 0x10000, {{"S002", 0}}), 0,
         {" S002 00C0FFEE12355678 tried to relese object allocated by 00C0FFEE12345678"});
  Expect(Message(Tag("WRIN"), kOwner ^ 0x100000000, {{"S002", 0}}), 0,
         {" S002 00C0FFEF12345678 tried to relese object allocated by 00C0FFEE12345678"});
  Expect(Message(Tag("WRIN"), kOwner ^ 0xFFFF, {{"S002", 0}}), 1,
         {" S002 released by 00C0FFEE12345678"});
  EXPECT_EQ(Owner(1), 0u);
  // A free slot may be "released" by a requester that is 0 in the compared bits.
  Expect(Message(Tag("WRIN"), 0x1234, {{"S005", 0}}), 1, {" S005 released by 0000000000000000"});
  Expect(Message(Tag("WRIN"), 0x10000, {{"S005", 0}}), 0,
         {" S005 0000000000010000 tried to relese object allocated by 0000000000000000"});
}

TEST_F(AllocationTest, ChannelNumberReachesEverySlotWithItAndTheTagNumberOnlyItsSlot) {
  terminal_.sources[1].psid = 7;
  terminal_.sources[8].psid = 7;
  Expect(Message(Tag("WRIN"), 1, {{"S016", kOwner, 7}}), 1,
         {std::string(" S002") + kAllocated, std::string(" S009") + kAllocated});
  Expect(Message(Tag("WRIN"), 1, {{"S020", kOwner}, {"S000", kOwner}, {"S001", kOwner, 4242}}), 0);
  Expect(Message(Tag("WRIN"), 1, {{"S01A", kOwner}, {"s001", kOwner}, {"X001", kOwner}}), 0);
  Expect(Message(Tag("WRIN"), 1, {{"S005", kOwner}}), 1, {std::string(" S005") + kAllocated});
}

// Slots not in use hold channel 0: neither a request naming channel 0 nor one naming such a slot
// by its tag may reserve them.
TEST_F(AllocationTest, UnusedSlotsAreNeverAllocated) {
  Expect(Message(Tag("WRIN"), 1, {{"S001", kOwner, 0}, {"S004", kOwner}}), 0);
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) EXPECT_EQ(Owner(slot), 0u);
}

TEST_F(AllocationTest, QueriesAnswerOneAndNestTakesTheCodeOfItsFirstSource) {
  Expect(Message(Tag("READ"), 1, {{"S001", kOwner}}), 1);
  CMessage no_busy = Message(Tag("READ"), 1, {});
  CFieldList list;
  list.SetU32(Tag("BUSY"), 0);  // not the 64-bit identity: no request
  no_busy.SetList(Tag("S001"), &list);
  Expect(no_busy, 0);
  Expect(Message(Tag("INDI"), 1, {{"S003", kOwner}}), 0);
  Expect(Message(Tag("NEST"), 1, {{"S003", kOwner, -1, Tag("READ")}}), 1);
  EXPECT_EQ(Owner(0) | Owner(2), 0u);
  // The first source's "WRIN" holds for the whole message.
  Expect(Message(Tag("NEST"), 1,
                 {{"S001", kOwner, -1, Tag("WRIN")}, {"S002", kOwner, -1, Tag("READ")}}),
         1, {std::string(" S001") + kAllocated, std::string(" S002") + kAllocated});
}

TEST_F(AllocationTest, ReservationLapsesAtTheFirstSweepAfterItsTimeoutAcrossTheWrap) {
  Expect(Message(Tag("WRIN"), 1, {{"S001", kOwner}}), 1, {std::string(" S001") + kAllocated});
  clock_.Advance(21000);
  Expect(nullptr, 0, {});
  clock_.Advance(1);
  Expect(nullptr, 1, {std::string(" S001") + kAllocated + " timed out"});
  EXPECT_EQ(Owner(0), 0u);

  clock_.Set(0xFFFFF000u);
  sac_alloc_timeout = 10000;  // a host's own lifetime
  Expect(Message(Tag("WRIN"), 1, {{"S001", kOwner}, {"S002", kOwner}}), 1,
         {std::string(" S001") + kAllocated, std::string(" S002") + kAllocated});
  clock_.Advance(9000);
  Expect(nullptr, 0, {});
  Expect(Message(Tag("WRIN"), 1, {{"S002", kOwner}}), 0,
         {std::string(" S002") + kAllocated + " renewed"});
  clock_.Advance(1001);
  Expect(nullptr, 1, {std::string(" S001") + kAllocated + " timed out"});
  EXPECT_EQ(Owner(1), kOwner);

  dbg_sac = 0;  // no lines without the flag
  clock_.Advance(9000);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(sac_GarbageCollect(&terminal_), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(SacAnnounceTest, SendsEachSlotInUseWithItsOwnerAndTheReference) {
  GroupMember member;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  LocalTerminal terminal = TerminalWithSlots({2, 0, 15});
  terminal.sources[2].ownerHigh = kOwner >> 32;
  terminal.sources[2].ownerLow = static_cast<uint32_t>(kOwner);
  terminal.sources[5].ownerLow = 99;  // not in use: not announced
  sac_Announce(&endpoint, kGroupHost, member.Port(), &terminal, 3, 0xAABBCCDD, 0x11223344);

  const std::vector<Received> messages = Collect(&member);
  ASSERT_EQ(messages.size(), 1u);
  const CMessage& m = messages[0].message;
  EXPECT_EQ(messages[0].mode, KIND_DATAGRAM);
  EXPECT_EQ(m.Code(), Tag("NEST"));
  EXPECT_EQ(TagsOf(m), "ADVT TERM S001 S003 S016 *id* refi");
  EXPECT_EQ(m.GetU8(Tag("ADVT")), 3);
  EXPECT_EQ(TagsOf(*m.GetList(Tag("TERM"))), "HWID");
  EXPECT_EQ(m.GetList(Tag("TERM"))->GetU16(Tag("HWID")), 0x1234);
  for (const char* tag : {"S001", "S003", "S016"}) {
    EXPECT_EQ(m.GetList(TextToTag(tag))->Code(), Tag("INDI"));
    EXPECT_EQ(TagsOf(*m.GetList(TextToTag(tag))), "PSID BUSY");
    EXPECT_EQ(m.GetList(TextToTag(tag))->TypeOf(Tag("BUSY")), FIELD_U64);
  }
  EXPECT_EQ(m.GetList(Tag("S003"))->GetU32(Tag("PSID")), 102u);
  EXPECT_EQ(m.GetList(Tag("S003"))->GetU64(Tag("BUSY")), kOwner);
  EXPECT_EQ(m.GetList(Tag("S001"))->GetU64(Tag("BUSY")), 0u);
  EXPECT_EQ(m.TypeOf(TAG_ID), FIELD_U64);
  EXPECT_EQ(m.GetU64(TAG_ID), 0u);
  EXPECT_EQ(m.GetU64(TAG_REFI), 0x11223344AABBCCDDu);
}

}  // namespace
