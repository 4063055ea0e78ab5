#include "vqscwlib/protocol/source_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/source_table_helpers.h"
#include "tests/support/transport_helpers.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/transport/message_endpoint.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using vqscw::testing::Advertisement;
using vqscw::testing::MaskTimes;
using vqscw::testing::NumberedSources;
using vqscw::testing::Records;

// A table whose requests for full advertisements land at a scripted terminal on loopback, with a
// fake clock and a log of the slots the callback was given.
class SourceTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requester_.Open(false, "127.0.0.1", 0));
    terminal_ = {77, inet_addr("127.0.0.1"), 5, 5, "Studio A"};
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
  // The two messages of the full advertisement of a terminal with five sources.
  void RegisterFiveSources(int expected = 1) {
    EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 4, 11))), expected);
    EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(5, 5, 15))), expected);
  }
  // The number of requests for the full advertisement the scripted terminal received.
  int RequestsReceived() {
    int requests = 0;
    while (auto datagram = peer_.Receive(requests == 0 ? 300 : 50)) {
      EXPECT_TRUE(vqscw::testing::IsFullInfoRequest(datagram->bytes));
      ++requests;
    }
    return requests;
  }

  vqscw::FakeClock clock_{5000};
  vqscw::testing::ScriptedPeer peer_;
  CClientEndpoint requester_;
  SpyTerminal* table_ = nullptr;
  vqscw::testing::TestTerminal terminal_;
  std::vector<SpySource*> reported_;
};

TEST_F(SourceTableTest, IgnoresMessagesThatAreNoAdvertisement) {
  std::vector<CMessage> messages(4, Advertisement(1, terminal_, NumberedSources(1, 2, 1)));
  messages[0].SetU8(Tag("ADVT"), 0);
  messages[1].SetU8(Tag("ADVT"), 3);
  messages[2].SetU16(Tag("ADVT"), 1);  // another type than the table reads
  messages[3].SetU32(Tag("TERM"), 1);
  for (const CMessage& message : messages) EXPECT_EQ(Register(message), 0);
  EXPECT_EQ(table_, nullptr);
  EXPECT_EQ(RequestsReceived(), 0);
  EXPECT_EQ(advspy_Register(&table_, nullptr, &requester_, nullptr, nullptr), 0);
  EXPECT_EQ(advspy_Register(nullptr, &messages[0], &requester_, nullptr, nullptr), 0);
}

TEST_F(SourceTableTest, ShortAdvertisementOfUnknownTerminalRequestsTheFullOneEachTime) {
  dbg_spy = 1;
  CaptureStdout();
  EXPECT_EQ(Register(Advertisement(2, terminal_)), 0);
  EXPECT_EQ(Register(Advertisement(2, terminal_)), 0);
  EXPECT_EQ(MaskTimes(GetCapturedStdout()),
            "T vqscwlib Request full info from 77\nT vqscwlib Request full info from 77\n");
  EXPECT_EQ(table_, nullptr);
  EXPECT_EQ(RequestsReceived(), 2);  // at the advertised address, taken first octet first
}

TEST_F(SourceTableTest, FullAdvertisementInTwoMessagesFillsFiveSlotsOnce) {
  RegisterFiveSources();
  ASSERT_EQ(Records(table_).size(), 1u);
  const SpyTerminal& record = *table_;
  EXPECT_EQ(record.hwid, 77);
  EXPECT_EQ(record.advv, 5u);
  EXPECT_EQ(record.nums, 5);
  EXPECT_STREQ(record.name, "Studio A");
  EXPECT_EQ(record.expiry, 5000u + kTerminalLifetimeMs);
  ASSERT_EQ(reported_.size(), 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    const SpySource& slot = record.sources()[i];
    EXPECT_EQ(reported_[i], &slot);
    EXPECT_EQ(slot.terminal, &record);
    EXPECT_EQ(slot.tag, SourceSlotTag(static_cast<int>(i) + 1));
    EXPECT_EQ(slot.psid, 11 + i);
    EXPECT_EQ(slot.fsid, 111 + i);
    EXPECT_EQ(slot.fast, 2);
    EXPECT_EQ(std::string(slot.name), "Src " + std::to_string(11 + i));
  }
  // Heard again, even with other contents under the same version: nothing changes.
  reported_.clear();
  RegisterFiveSources(0);
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 1, 900))), 0);
  EXPECT_TRUE(reported_.empty());
  EXPECT_EQ(table_->sources()[0].psid, 11u);
}

TEST_F(SourceTableTest, ChangedVersionDropsTheTerminalAndRebuildsIt) {
  RegisterFiveSources();
  vqscw::testing::TestTerminal other = terminal_;  // same id, other address: another terminal
  other.inip = inet_addr("127.0.0.9");
  EXPECT_EQ(Register(Advertisement(1, other)), 1);
  reported_.clear();
  terminal_.advv = 6;
  EXPECT_EQ(Register(Advertisement(2, terminal_)), 1);
  ASSERT_EQ(Records(table_).size(), 1u);
  EXPECT_EQ(table_->inip, other.inip);
  EXPECT_EQ(RequestsReceived(), 1);
  RegisterFiveSources();
  EXPECT_EQ(reported_.size(), 5u);
  EXPECT_EQ(table_->advv, 6u);
  // A full advertisement with yet another version drops and rebuilds in one call.
  terminal_.advv = 7;
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 1, 11))), 1);
  EXPECT_EQ(Records(table_).size(), 2u);
  EXPECT_EQ(table_->advv, 7u);
  EXPECT_EQ(reported_.size(), 6u);
}

TEST_F(SourceTableTest, SourcesBeyondNumsFindNoSlotOnEveryAdvertisement) {
  terminal_.nums = 2;
  CaptureStdout();
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 3, 1))), 1);
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(1, 3, 1))), 0);
  terminal_.hwid = 78;
  terminal_.nums = 0;
  EXPECT_EQ(Register(Advertisement(1, terminal_, NumberedSources(4, 4, 1))), 1);
  const std::string advice =
      "\nMake sure that terminal doesn't advertise more sources than NUMS.\n";
  const std::string line = "vqscwlib failed to register source ";
  EXPECT_EQ(GetCapturedStdout(), line + "77:S003 (NUMS=2)." + advice + line + "77:S003 (NUMS=2)." +
                                     advice + line + "78:S004 (NUMS=0)." + advice);
  EXPECT_EQ(reported_.size(), 2u);
}

TEST_F(SourceTableTest, ReadsOnlySourceTagsNestedListsAndFieldsOfTheirOwnType) {
  terminal_.name = std::string(40, 'n');
  terminal_.nums = 65535;  // no more slots than source tags can name
  CMessage message = Advertisement(1, terminal_, {{1, 7, 8, 3, std::string(20, 's')}});
  CFieldList odd;
  odd.SetU16(Tag("PSID"), 7);
  odd.SetU8(Tag("FSID"), 8);
  odd.SetU32(Tag("FAST"), 3);
  odd.SetString(Tag("PSNM"), "text");
  for (const uint32_t tag : {Tag("S01A"), Tag("s001"), Tag("X001"), Tag("S00/"), Tag("S999")}) {
    message.SetList(tag, &odd);
  }
  message.SetU32(Tag("S002"), 5);  // a source tag, but not a list
  EXPECT_EQ(Register(message), 1);
  EXPECT_EQ(table_->nums, kMaxSourceSlots);
  EXPECT_EQ(std::string(table_->name), std::string(32, 'n'));
  ASSERT_EQ(reported_.size(), 2u);
  EXPECT_EQ(std::string(reported_[0]->name), std::string(16, 's'));
  const SpySource& zero = *reported_[1];
  EXPECT_EQ(zero.tag, Tag("S999"));
  EXPECT_EQ(zero.psid + zero.fsid + zero.fast + static_cast<uint32_t>(zero.name[0]), 0u);
}

TEST_F(SourceTableTest, DebugLinesPrintTheAddressFirstOctetFirst) {
  terminal_ = {65535, inet_addr("192.168.2.10"), 0xFFFFFFFF, 1, "Studio A"};
  dbg_spy = 1;
  CaptureStdout();
  Register(Advertisement(1, terminal_, {{3, 4000000000u, 1, 2, "Mic 1"}}));
  Register(Advertisement(1, terminal_));
  Register(Advertisement(2, terminal_));
  clock_.Advance(kTerminalLifetimeMs + 1);
  advspy_GarbageCollect(&table_);
  EXPECT_EQ(MaskTimes(GetCapturedStdout()),
            "T vqscwlib Register term 192.168.2.10 (65535) ADVV=-1\n"
            "T register S003 [4000000000] \"Mic 1\"\n"
            "T vqscwlib Heard 192.168.2.10 [65535] (full) ADVV=-1\n"
            "T vqscwlib Heard 192.168.2.10 [65535] ADVV=-1\n"
            "T Delete term 65535 Studio A\n");
}

TEST_F(SourceTableTest, EitherAdvertisementKeepsATerminalForItsLifetimeAcrossTheTickWrap) {
  clock_.Set(0xFFFFFFFFu - 1000);
  RegisterFiveSources();
  terminal_.hwid = 78;
  RegisterFiveSources();
  clock_.Advance(20000);
  Register(Advertisement(2, terminal_));  // only 78 is heard again
  clock_.Advance(kTerminalLifetimeMs - 20000);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);  // 77 expires now: it stays
  clock_.Advance(1);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 1);
  ASSERT_EQ(Records(table_).size(), 1u);
  EXPECT_EQ(table_->hwid, 78);
  clock_.Advance(20000);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 1);
  EXPECT_EQ(table_, nullptr);
  EXPECT_EQ(advspy_GarbageCollect(&table_), 0);
}

}  // namespace
