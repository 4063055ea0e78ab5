// The receiver filter's health interface: fed datagrams as the receive thread hands them on, and
// fed by a real socket on loopback.
#include "vqscwlib/preview/receiver_health.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "tests/support/preview_helpers.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/preview/preview.h"
#include "vqscwlib/preview/stream_health.h"

namespace vqscw {
namespace {

using testing::Address;
using testing::FreeUdpPort;
using testing::LoopbackSender;

constexpr int kWaitMs = 3000;

// An RTP datagram of 48 L24 stereo frames, every sample `level` (big-endian).
std::vector<uint8_t> Packet(uint16_t sequence, uint32_t timestamp, uint32_t level = 0) {
  std::vector<uint8_t> d = testing::RtpDatagram(288);
  d[2] = static_cast<uint8_t>(sequence >> 8);
  d[3] = static_cast<uint8_t>(sequence);
  for (int i = 0; i < 4; ++i) d[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
  d[8] = 0xAB;
  for (size_t s = 12; s + 3 <= d.size(); s += 3) {
    d[s] = static_cast<uint8_t>(level >> 16);
    d[s + 1] = static_cast<uint8_t>(level >> 8);
    d[s + 2] = static_cast<uint8_t>(level);
  }
  return d;
}

class ReceiverHealthTest : public testing::ReceiverFilterFixture {
 protected:
  void Feed(const std::vector<uint8_t>& datagram, uint64_t arrival_us) {
    CPacketBuffer* buffer = testing::MakePacket(filter_->receive_pool(), datagram);
    ASSERT_NE(buffer, nullptr);
    buffer->set_arrival_us(arrival_us);
    filter_->handler()->Handle(buffer);
    buffer->Release();
  }
  ReceiverHealth Health() {
    ReceiverHealth health{};
    EXPECT_EQ(health_->GetHealth(&health), S_OK);
    return health;
  }
  void SetUp() override {
    ReceiverFilterFixture::SetUp();
    void* health = nullptr;
    ASSERT_EQ(filter_->QueryInterface(IID_INetworkReceiverHealth, &health), S_OK);
    health_ = static_cast<INetworkReceiverHealth*>(health);
  }
  void TearDown() override {
    health_->Release();
    ReceiverFilterFixture::TearDown();
  }

  INetworkReceiverHealth* health_ = nullptr;
};

TEST_F(ReceiverHealthTest, CountsTheStreamBesideAnUnchangedAudioPath) {
  ConfigurePcm24();
  ConnectSink();
  const uint64_t t = 1000000;
  for (uint16_t n = 0; n < 50; ++n) {
    if (n == 10) continue;  // lost
    Feed(Packet(n, n * 48u, 0x400000), t + n * 1000u);
    if (n == 20) Feed(Packet(n, n * 48u), t + n * 1000u);  // a repeat
  }
  const ReceiverHealth h = Health();
  EXPECT_EQ(h.packets, 50u);
  EXPECT_EQ(h.expected, 50u);
  EXPECT_EQ(h.lost, 1u);
  EXPECT_EQ(h.duplicated, 1u);
  EXPECT_EQ(h.reordered, 0u);
  EXPECT_EQ(h.ssrc, 0xAB000000u);
  EXPECT_EQ(h.payloadBytes, 50u * 288);
  EXPECT_EQ(h.bytesPerSecond, 288000u);
  EXPECT_DOUBLE_EQ(h.longestGapMs, 2.0);
  // The audio path did not notice: 50 datagrams of 288 bytes fill one 50 ms block, repeat and all.
  ASSERT_EQ(sink_.count(), 1u);
  ReceiverStatistics statistics{};
  ASSERT_EQ(filter_->GetStatistics(&statistics), S_OK);
  EXPECT_EQ(statistics.packetsReceived, 50u);
  EXPECT_EQ(statistics.payloadBytesReceived, 50u * 288);
}

TEST_F(ReceiverHealthTest, SilenceIsJudgedAtThePlatformClock) {
  FakeClock clock(1000);
  ConfigurePcm24();
  ConnectSink();
  for (uint16_t n = 0; n < 20; ++n) Feed(Packet(n, n * 48u, 0x2000), MonotonicMicroseconds());
  EXPECT_EQ(Health().silent, 0);  // -60.2 dBFS, but only just begun
  clock.Advance(1999);
  EXPECT_EQ(Health().silent, 0);
  clock.Advance(1);
  EXPECT_EQ(Health().silent, 1);
  Feed(Packet(20, 20 * 48u, 0x2100), MonotonicMicroseconds());  // -59.8 dBFS: sound
  EXPECT_EQ(Health().silent, 0);
}

TEST_F(ReceiverHealthTest, PayloadCountGoesOnPastTheStatisticsWrap) {
  ConfigurePcm24();
  ConnectSink();
  const uint64_t start = (uint64_t{1} << 32) - 288;
  filter_->handler()->set_payload_bytes_for_testing(start);
  Feed(Packet(1, 48), 1000);
  Feed(Packet(2, 96), 2000);
  ReceiverStatistics statistics{};
  ASSERT_EQ(filter_->GetStatistics(&statistics), S_OK);
  EXPECT_EQ(statistics.payloadBytesReceived, 288u);  // the 32-bit count wraps as it always did
  EXPECT_EQ(Health().payloadBytes, start + 576);
}

TEST(PlayingMillisecondsTest, MatchesTheStatisticsBeforeTheWrapAndGoesOnAfterIt) {
  EXPECT_EQ(PlayingMilliseconds(576000, 288000), 2000u);
  EXPECT_EQ(PlayingMilliseconds(287999, 288000), 999u);
  EXPECT_EQ(PlayingMilliseconds(12345, 0), 0u);
  // Every count below 2^32 gives what bytes * 1000 / rate gives in 64 bits.
  for (uint64_t bytes : {uint64_t{1}, uint64_t{4294967295}, uint64_t{3000000001}}) {
    EXPECT_EQ(PlayingMilliseconds(bytes, 288000), static_cast<uint32_t>(bytes * 1000 / 288000));
    EXPECT_EQ(PlayingMilliseconds(bytes, 7), static_cast<uint32_t>(bytes * 1000 / 7));
  }
  // 4 h 10 min of audio: 4320000000 bytes, past 2^32.
  EXPECT_EQ(PlayingMilliseconds(uint64_t{288000} * 15000, 288000), 15000000u);
}

TEST_F(ReceiverHealthTest, RestartedFilterDoesNotCountWhatItDidNotHearAsLost) {
  ConfigurePcm24();
  filter_->SetGroup(Address("239.192.0.8"), htons(FreeUdpPort()));
  filter_->SetInterfaceAddress(Address("127.0.0.1"));
  ASSERT_EQ(filter_->Pause(), S_OK);
  ASSERT_EQ(filter_->Stop(), S_OK);
  for (uint16_t n = 0; n < 10; ++n) Feed(Packet(n, n * 48u), 1000 + n * 1000u);
  ASSERT_EQ(filter_->Pause(), S_OK);  // a new start: the sender went on meanwhile
  ASSERT_EQ(filter_->Stop(), S_OK);
  for (uint16_t n = 5000; n < 5010; ++n) Feed(Packet(n, n * 48u), 900000 + n * 1000u);
  const ReceiverHealth h = Health();
  EXPECT_EQ(h.lost, 0u);
  EXPECT_EQ(h.expected, 20u);
  EXPECT_DOUBLE_EQ(h.longestGapMs, 1.0);
}

// A real socket: the arrival times come from the kernel's stamps, so the jitter is that of the
// sending, although the receive thread drains the socket in batches milliseconds apart (which
// would show as milliseconds of jitter). The sending is measured by the same counting, fed the
// times of the sends.
TEST(ReceiverHealthNetworkTest, JitterIsThatOfTheSendingNotOfTheBatchedReceives) {
  CNetworkReceiverFilter* filter = nullptr;
  ASSERT_EQ(CNetworkReceiverFilter::Create(&filter), S_OK);
  testing::TestSink sink;
  const uint16_t port = FreeUdpPort();
  ASSERT_EQ(filter->SetMediaFormat(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, HEADER_RTP,
                                   Pcm24StereoFormat().data()),
            S_OK);
  ASSERT_EQ(filter->SetGroup(Address("239.192.0.9"), htons(port)), S_OK);
  ASSERT_EQ(filter->SetInterfaceAddress(Address("127.0.0.1")), S_OK);
  ASSERT_EQ(filter->pin()->Connect(&sink, nullptr), S_OK);
  ASSERT_EQ(filter->Run(0), S_OK);
  usleep(150000);  // the first receives are posted
  StreamHealth sending;
  sending.Configure(Rtp24StereoHealthFormat());
  double widest_ms = 0;
  double error_sum_ms = 0;
  {
    LoopbackSender sender(Address("239.192.0.9"), port);
    // 200 packets, 2 ms apart; number 100 is sent twice and number 150 never.
    // The kernel stamps a datagram while sendto runs on loopback; the send's own time is known
    // to within its duration, which grows when this thread is preempted in between.
    auto send = [&](uint16_t n) {
      const std::vector<uint8_t> d = Packet(n, n * 96u);
      const uint64_t before = MonotonicMicroseconds();
      ASSERT_TRUE(sender.Send(d));
      const uint64_t after = MonotonicMicroseconds();
      widest_ms = std::max(widest_ms, (after - before) / 1000.0);
      error_sum_ms += (after - before) / 2000.0;  // the midpoint is off by half the width at most
      sending.Observe(d.data(), d.size(), before + (after - before) / 2);
    };
    for (uint16_t n = 0; n < 200; ++n) {
      if (n != 150) send(n);
      if (n == 100) send(n);
      usleep(2000);
    }
  }
  ReceiverHealth health{};
  void* facet = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_INetworkReceiverHealth, &facet), S_OK);
  auto* interface = static_cast<INetworkReceiverHealth*>(facet);
  for (int waited = 0; waited < kWaitMs; waited += 10) {
    ASSERT_EQ(interface->GetHealth(&health), S_OK);
    if (health.packets >= 200) break;
    usleep(10000);
  }
  interface->Release();
  filter->Stop();
  filter->pin()->Disconnect();
  filter->Release();
  EXPECT_EQ(health.packets, 200u);
  EXPECT_EQ(health.lost, 1u);
  EXPECT_EQ(health.duplicated, 1u);
  const StreamHealthCounts sent = sending.Counts();
  // An error e in one arrival moves the jitter by at most 2e/16 (two spacings, each weighed 1/16)
  // and a gap by e at each end.
  EXPECT_NEAR(health.jitterMs, sent.jitter_ms, 0.25 + error_sum_ms / 8);
  EXPECT_NEAR(health.longestGapMs, sent.longest_gap_us / 1000.0, 0.5 + widest_ms);
}

}  // namespace
}  // namespace vqscw
