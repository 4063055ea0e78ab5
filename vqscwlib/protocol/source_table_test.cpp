#include "vqscwlib/protocol/source_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vqscwlib/message/frame.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/source_table_testing.h"
#include "vqscwlib/transport/message_endpoint.h"
#include "vqscwlib/transport/transport_testing.h"

namespace {

using vqscw::testing::Advertisement;
using vqscw::testing::MaskTimes;
using vqscw::testing::NumberedSources;
using vqscw::testing::Records;
using vqscw::testing::ScriptedPeer;
using vqscw::testing::TestSource;
using vqscw::testing::TestTerminal;

// A table with a requester whose requests land at a scripted terminal on loopback, a fake clock,
// and a log of the slots the callback was given.
class SourceTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requester_.Open(false, "127.0.0.1", 0));
    terminal_.inip = inet_addr("127.0.0.1");
    terminal_.hwid = 77;
    terminal_.advv = 5;
    terminal_.nums = 5;
    terminal_.name = "Studio A";
  }
  void TearDown() override {
    ReleaseSourceTable(&table_);
    dbg_spy = 0;
  }

  int Register(const CMessage& advertisement) {
    return vqscw::RegisterAdvertisement(&table_, advertisement, &requester_, &Record, &reported_,
                                        nullptr, peer_.Address().Port());
  }
  static int Record(SpySource* source, void* user) {
    static_cast<std::vector<SpySource*>*>(user)->push_back(source);
    return 0;
  }
  // The full advertisement of terminal_ in the two messages a terminal with five sources sends.
  void RegisterFiveSources() {
    EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 4, 11))), 1);
    EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(5, 5, 15))), 1);
  }
  // How many "READ" requests with "ADVD" = 1 reached the scripted terminal, each an
  // unacknowledged datagram.
  int RequestsReceived() {
    int requests = 0;
    while (auto datagram = peer_.Receive(requests == 0 ? 500 : 50)) {
      EXPECT_EQ(datagram->bytes[kFrameModeOffset], KIND_DATAGRAM);
      CMessage request;
      const auto length = static_cast<uint32_t>(datagram->bytes.size() - kFrameHeaderSize);
      EXPECT_EQ(request.Decode(datagram->bytes.data() + kFrameHeaderSize, length), length);
      EXPECT_EQ(request.Code(), Tag("READ"));
      EXPECT_EQ(request.TypeOf(Tag("ADVD")), FIELD_U8);
      EXPECT_EQ(request.GetU8(Tag("ADVD")), 1);
      ++requests;
    }
    return requests;
  }

  vqscw::FakeClock clock_{5000};
  ScriptedPeer peer_;
  CClientEndpoint requester_;
  SpyTerminal* table_ = nullptr;
  TestTerminal terminal_;
  std::vector<SpySource*> reported_;
};

TEST_F(SourceTableTest, IgnoresMessagesThatAreNoAdvertisement) {
  CMessage no_type = Advertisement(1, terminal_, NumberedSources(1, 2, 1));
  no_type.SetU8(Tag("ADVT"), 0);
  CMessage type_three = Advertisement(2, terminal_);
  type_three.SetU8(Tag("ADVT"), 3);
  CMessage type_as_u16 = Advertisement(2, terminal_);
  type_as_u16.SetU16(Tag("ADVT"), 2);
  CMessage no_term;
  no_term.SetU8(Tag("ADVT"), 2);
  CMessage term_not_a_list = Advertisement(2, terminal_);
  term_not_a_list.SetU32(Tag("TERM"), 1);

  for (const CMessage* message :
       {&no_type, &type_three, &type_as_u16, &no_term, &term_not_a_list}) {
    EXPECT_EQ(Register(*message), 0);
  }
  EXPECT_EQ(table_, nullptr);
  EXPECT_TRUE(reported_.empty());
  EXPECT_EQ(RequestsReceived(), 0);
  EXPECT_EQ(advspy_Register(&table_, nullptr, &requester_, nullptr, nullptr), 0);
  EXPECT_EQ(advspy_Register(nullptr, &no_type, &requester_, nullptr, nullptr), 0);
  EXPECT_EQ(advspy_GarbageCollect(nullptr), 0);
}

TEST_F(SourceTableTest, ShortAdvertisementOfUnknownTerminalRequestsFullOneEachTime) {
  dbg_spy = 1;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Register(Advertisement(2, terminal_)), 0);
  EXPECT_EQ(Register(Advertisement(2, terminal_)), 0);
  EXPECT_EQ(MaskTimes(::testing::internal::GetCapturedStdout()),
            "T vqscwlib Request full info from 77\nT vqscwlib Request full info from 77\n");
  EXPECT_EQ(table_, nullptr);
  EXPECT_EQ(RequestsReceived(), 2);
}

TEST_F(SourceTableTest, FullAdvertisementInTwoMessagesFillsFiveSlots) {
  RegisterFiveSources();
  const auto records = Records(table_);
  ASSERT_EQ(records.size(), 1u);
  const SpyTerminal& record = *records[0];
  EXPECT_EQ(record.hwid, 77);
  EXPECT_EQ(record.inip, inet_addr("127.0.0.1"));
  EXPECT_EQ(record.advv, 5u);
  EXPECT_EQ(record.nums, 5);
  EXPECT_STREQ(record.name, "Studio A");
  EXPECT_EQ(record.expiry, 5000u + kTerminalLifetimeMs);
  ASSERT_EQ(reported_.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    const SpySource& slot = record.sources()[i];
    EXPECT_EQ(reported_[i], &slot);
    EXPECT_EQ(slot.terminal, &record);
    EXPECT_EQ(slot.tag, vqscw::testing::SourceTag(i + 1));
    EXPECT_EQ(slot.psid, 11u + i);
    EXPECT_EQ(slot.fsid, 111u + i);
    EXPECT_EQ(slot.fast, 2);
    EXPECT_EQ(std::string(slot.name), "Src " + std::to_string(11 + i));
  }

  // Hearing both messages again changes nothing and reports nothing.
  reported_.clear();
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 4, 11))), 0);
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(5, 5, 15))), 0);
  EXPECT_TRUE(reported_.empty());
  EXPECT_EQ(Records(table_).size(), 1u);
}

TEST_F(SourceTableTest, KnownSourceIsNeverRewrittenWhileVersionStays) {
  RegisterFiveSources();
  std::vector<TestSource> changed = NumberedSources(1, 1, 900);
  changed[0].name = "Renamed";
  EXPECT_EQ(Register(Advertisement(1, terminal_, changed)), 0);
  EXPECT_EQ(table_->sources()[0].psid, 11u);
  EXPECT_STREQ(table_->sources()[0].name, "Src 11");
}

TEST_F(SourceTableTest, SourcesFillSlotsInOrderOfFirstRegistration) {
  Register(Advertisement(1, terminal_, NumberedSources(5, 5, 50)));
  Register(Advertisement(1, terminal_, NumberedSources(2, 3, 20)));
  EXPECT_EQ(table_->sources()[0].tag, Tag("S005"));
  EXPECT_EQ(table_->sources()[1].tag, Tag("S002"));
  EXPECT_EQ(table_->sources()[2].tag, Tag("S003"));
  EXPECT_EQ(table_->sources()[3].tag, 0u);
}

TEST_F(SourceTableTest, ChangedVersionDropsTheTerminalAndRebuildsIt) {
  RegisterFiveSources();
  reported_.clear();
  terminal_.advv = 6;
  // A short advertisement with the new version drops the record and asks for the full one.
  EXPECT_EQ(Register(Advertisement(2, terminal_)), 1);
  EXPECT_EQ(table_, nullptr);
  EXPECT_EQ(RequestsReceived(), 1);
  // The full advertisement rebuilds it and its sources are reported again.
  RegisterFiveSources();
  ASSERT_EQ(Records(table_).size(), 1u);
  EXPECT_EQ(table_->advv, 6u);
  EXPECT_EQ(reported_.size(), 5u);

  // A full advertisement with yet another version drops and rebuilds in one call.
  reported_.clear();
  terminal_.advv = 7;
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 1, 11))), 1);
  ASSERT_EQ(Records(table_).size(), 1u);
  EXPECT_EQ(table_->advv, 7u);
  EXPECT_EQ(reported_.size(), 1u);
}

TEST_F(SourceTableTest, TerminalIsKeyedByHardwareIdAndAddress) {
  Register(Advertisement(1, terminal_, NumberedSources(1, 1, 1)));
  TestTerminal other_address = terminal_;
  other_address.inip = inet_addr("127.0.0.9");
  TestTerminal other_id = terminal_;
  other_id.hwid = 78;
  EXPECT_EQ(Register(Advertisement(1, other_address, NumberedSources(1, 1, 2))), 1);
  EXPECT_EQ(Register(Advertisement(1, other_id, NumberedSources(1, 1, 3))), 1);
  const auto records = Records(table_);
  ASSERT_EQ(records.size(), 3u);
  // New records go in front.
  EXPECT_EQ(records[0]->hwid, 78);
  EXPECT_EQ(records[1]->inip, inet_addr("127.0.0.9"));
  EXPECT_EQ(records[2]->sources()[0].psid, 1u);
  // A different version of one of them drops only that one.
  other_address.advv = 99;
  EXPECT_EQ(Register(Advertisement(2, other_address)), 1);
  EXPECT_EQ(Records(table_).size(), 2u);
}

TEST_F(SourceTableTest, SourcesBeyondNumsFindNoSlotOnEveryAdvertisement) {
  terminal_.nums = 2;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 3, 1))), 1);
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 3, 1))), 0);
  const std::string failed =
      "vqscwlib failed to register source 77:S003 (NUMS=2).\n"
      "Make sure that terminal doesn't advertise more sources than NUMS.\n";
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), failed + failed);
  EXPECT_EQ(reported_.size(), 2u);
}

TEST_F(SourceTableTest, TerminalWithoutSlotsRejectsEverySource) {
  terminal_.nums = 0;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 2, 1))), 1);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("77:S001 (NUMS=0)"), std::string::npos);
  EXPECT_NE(output.find("77:S002 (NUMS=0)"), std::string::npos);
  ASSERT_NE(table_, nullptr);
  EXPECT_EQ(table_->nums, 0);
  EXPECT_TRUE(reported_.empty());
}

TEST_F(SourceTableTest, OnlySourceTagsWithNestedListsTakeSlots) {
  CMessage message = Advertisement(1, terminal_);
  CFieldList source;
  source.SetU32(Tag("PSID"), 9);
  for (const uint32_t tag : {Tag("S01A"), Tag("s001"), Tag("X001"), Tag("S 01"), Tag("S00/")}) {
    message.SetList(tag, &source);
  }
  message.SetU32(Tag("S002"), 5);  // a source tag, but not a list
  message.SetList(Tag("S999"), &source);
  EXPECT_EQ(Register(message), 1);
  ASSERT_EQ(reported_.size(), 1u);
  EXPECT_EQ(reported_[0]->tag, Tag("S999"));
  EXPECT_EQ(table_->sources()[1].tag, 0u);
}

TEST_F(SourceTableTest, NamesAreCutToTheirFieldsAndFieldsOfOtherTypesReadAsZero) {
  terminal_.name = std::string(40, 'n');
  std::vector<TestSource> sources = {{1, 7, 8, 3, std::string(20, 's')}};
  CMessage message = Advertisement(1, terminal_, sources);
  CFieldList odd;  // every field present with another type than the table reads
  odd.SetU16(Tag("PSID"), 7);
  odd.SetU8(Tag("FSID"), 8);
  odd.SetU32(Tag("FAST"), 3);
  odd.SetString(Tag("PSNM"), "text");
  message.SetList(Tag("S002"), &odd);
  Register(message);
  ASSERT_NE(table_, nullptr);
  EXPECT_EQ(std::string(table_->name), std::string(32, 'n'));
  EXPECT_EQ(std::string(table_->sources()[0].name), std::string(16, 's'));
  EXPECT_EQ(table_->sources()[0].fast, 3);
  const SpySource& zero = table_->sources()[1];
  EXPECT_EQ(zero.tag, Tag("S002"));
  EXPECT_EQ(zero.psid, 0u);
  EXPECT_EQ(zero.fsid, 0u);
  EXPECT_EQ(zero.fast, 0);
  EXPECT_STREQ(zero.name, "");
}

TEST_F(SourceTableTest, HugeSourceCountGetsOnlyTheSlotsTagsCanName) {
  terminal_.nums = 65535;
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(998, 999, 1))), 1);
  ASSERT_NE(table_, nullptr);
  EXPECT_EQ(table_->nums, kMaxSourceSlots);
  EXPECT_EQ(reported_.size(), 2u);
}

TEST_F(SourceTableTest, DebugLinesPrintTheAddressFirstOctetFirst) {
  terminal_.inip = inet_addr("192.168.2.10");
  terminal_.hwid = 65535;
  terminal_.advv = 0xFFFFFFFF;
  dbg_spy = 1;
  ::testing::internal::CaptureStdout();
  Register(Advertisement(1, terminal_, {{3, 4000000000u, 1, 2, "Mic 1"}}));
  Register(Advertisement(1, terminal_));
  Register(Advertisement(2, terminal_));
  clock_.Advance(kTerminalLifetimeMs + 1);
  advspy_GarbageCollect(&table_);
  EXPECT_EQ(MaskTimes(::testing::internal::GetCapturedStdout()),
            "T vqscwlib Register term 192.168.2.10 (65535) ADVV=-1\n"
            "T register S003 [4000000000] \"Mic 1\"\n"
            "T vqscwlib Heard 192.168.2.10 [65535] (full) ADVV=-1\n"
            "T vqscwlib Heard 192.168.2.10 [65535] ADVV=-1\n"
            "T Delete term 65535 Studio A\n");
}

TEST_F(SourceTableTest, DebugLinesStayOffByDefault) {
  ::testing::internal::CaptureStdout();
  RegisterFiveSources();
  Register(Advertisement(2, terminal_));
  clock_.Advance(kTerminalLifetimeMs + 1);
  advspy_GarbageCollect(&table_);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// The expiry of records: heard terminals live kTerminalLifetimeMs past the last advertisement.
TEST_F(SourceTableTest, RecordExpiringNowStaysAndGoesOneTickLater) {
  RegisterFiveSources();
  clock_.Advance(kTerminalLifetimeMs);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
  EXPECT_NE(table_, nullptr);
  clock_.Advance(1);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 1);
  EXPECT_EQ(table_, nullptr);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
}

TEST_F(SourceTableTest, BothFormsOfAdvertisementKeepATerminalAlive) {
  RegisterFiveSources();
  clock_.Advance(20000);
  Register(Advertisement(2, terminal_));
  clock_.Advance(20000);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
  Register(Advertisement(1, terminal_));
  clock_.Advance(kTerminalLifetimeMs);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
  EXPECT_NE(table_, nullptr);
}

TEST_F(SourceTableTest, CollectionRemovesOnlyExpiredRecordsAnywhereInTheTable) {
  const std::vector<uint16_t> ids = {1, 2, 3, 4, 5};
  for (uint16_t id : ids) {
    terminal_.hwid = id;
    Register(Advertisement(1, terminal_));
    clock_.Advance(1000);
  }
  // Table order (first to last): 5, 4, 3, 2, 1. Refresh 3 and 1, then let the others expire.
  for (uint16_t id : {3, 1}) {
    terminal_.hwid = id;
    Register(Advertisement(2, terminal_));
  }
  clock_.Advance(kTerminalLifetimeMs - 1);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 1);
  const auto records = Records(table_);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]->hwid, 3);
  EXPECT_EQ(records[1]->hwid, 1);
}

TEST_F(SourceTableTest, TickWrapDoesNotExpireRecordsEarly) {
  clock_.Set(0xFFFFFFFFu - 1000);
  RegisterFiveSources();
  EXPECT_EQ(table_->expiry, kTerminalLifetimeMs - 1001);  // wrapped
  clock_.Set(10);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
  clock_.Set(kTerminalLifetimeMs - 1001);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
  clock_.Advance(1);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 1);
}

}  // namespace
