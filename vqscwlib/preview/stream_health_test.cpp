#include "vqscwlib/preview/stream_health.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

namespace vqscw {
namespace {

constexpr uint32_t kSsrc = 0x11223344;
constexpr uint64_t kStart = 5000000;  // µs
constexpr uint32_t kQuiet = kSoundMagnitude - 1;

// An RTP datagram of L24 stereo frames whose samples all have magnitude `level` (alternately
// positive and negative).
std::vector<uint8_t> Rtp(uint16_t sequence, uint32_t timestamp, uint32_t ssrc = kSsrc,
                         uint32_t level = 0, int frames = 48) {
  std::vector<uint8_t> d(12 + frames * 6);
  d[0] = 0x80;
  d[1] = 96;
  d[2] = static_cast<uint8_t>(sequence >> 8);
  d[3] = static_cast<uint8_t>(sequence);
  for (int i = 0; i < 4; ++i) {
    d[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
    d[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
  }
  for (int s = 0; s < frames * 2; ++s) {
    const int32_t value = s % 2 == 0 ? static_cast<int32_t>(level) : -static_cast<int32_t>(level);
    const uint32_t bits = static_cast<uint32_t>(value) & 0xFFFFFF;
    d[12 + 3 * s] = static_cast<uint8_t>(bits >> 16);
    d[13 + 3 * s] = static_cast<uint8_t>(bits >> 8);
    d[14 + 3 * s] = static_cast<uint8_t>(bits);
  }
  return d;
}

class StreamHealthTest : public ::testing::Test {
 protected:
  StreamHealthTest() { health_.Configure(Rtp24StereoHealthFormat()); }

  // Packet `sequence` of a 1 ms stream whose number `origin` was sent at kStart, arriving on time.
  void Send(uint16_t sequence, uint16_t origin = 0, uint32_t ssrc = kSsrc, uint32_t level = 0) {
    const uint32_t offset = static_cast<uint16_t>(sequence - origin);
    const std::vector<uint8_t> d = Rtp(sequence, offset * 48, ssrc, level);
    health_.Observe(d.data(), d.size(), kStart + offset * 1000);
  }
  StreamHealthCounts Counts() const { return health_.Counts(); }

  StreamHealth health_;
};

// ---------------------------------------------------------------------------------------------
// Sequence numbers.

TEST_F(StreamHealthTest, DropsDuplicatesAndSwapsAcrossTheWrapAreCountedExactly) {
  // 3000 numbers from 64000 on: the numbering wraps at the 1536th. Every 50th number carries an
  // impairment: drops, duplicates and swapped pairs in turn.
  const uint16_t first = 64000;
  std::set<int> dropped, duplicated, swapped;
  for (int k = 0; k < 60; ++k) {
    const int at = 25 + 50 * k;
    (k % 3 == 0 ? dropped : k % 3 == 1 ? duplicated : swapped).insert(at);
  }
  uint64_t sent = 0;
  for (int i = 0; i < 3000; ++i) {
    const auto number = static_cast<uint16_t>(first + i);
    if (dropped.count(i) != 0) continue;
    if (swapped.count(i) != 0) {
      Send(static_cast<uint16_t>(number + 1), first);
      Send(number, first);
      sent += 2;
      ++i;
      continue;
    }
    Send(number, first);
    ++sent;
    if (duplicated.count(i) != 0) {
      Send(number, first);
      ++sent;
    }
  }
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.packets, sent);
  EXPECT_EQ(c.packets, 3000u - 20 + 20);
  EXPECT_EQ(c.expected, 3000u);
  EXPECT_EQ(c.lost, 20u);
  EXPECT_EQ(c.duplicated, 20u);
  EXPECT_EQ(c.reordered, 20u);
  EXPECT_EQ(c.unsequenced, 0u);
  EXPECT_EQ(c.ssrc, kSsrc);
  EXPECT_EQ(c.ssrc_changes, 0u);
}

TEST_F(StreamHealthTest, LateArrivalFillsItsHoleAndItsRepeatIsADuplicate) {
  for (uint16_t n : {10, 11, 13, 14}) Send(n);
  EXPECT_EQ(Counts().lost, 1u);
  Send(12);  // late, not lost
  StreamHealthCounts c = Counts();
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.reordered, 1u);
  EXPECT_EQ(c.duplicated, 0u);
  Send(12);
  Send(14);  // the highest again
  c = Counts();
  EXPECT_EQ(c.duplicated, 2u);
  EXPECT_EQ(c.reordered, 1u);
  EXPECT_EQ(c.expected, 5u);
  EXPECT_EQ(c.lost, 0u);
}

TEST_F(StreamHealthTest, WindowTellsOldDuplicatesFromLateArrivalsAcrossTheWrap) {
  // 65000 to 66022 (wrapping to 486): the window still reaches back to 65000 + 1.
  for (int i = 0; i < 1023; ++i) {
    if (i != 7) Send(static_cast<uint16_t>(65000 + i));
  }
  Send(static_cast<uint16_t>(65000 + 1));  // 1021 behind: already here
  Send(static_cast<uint16_t>(65000 + 7));  // 1015 behind: late
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.duplicated, 1u);
  EXPECT_EQ(c.reordered, 1u);
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.expected, 1023u);
}

TEST_F(StreamHealthTest, ArrivalTooFarBehindIsUnsequencedAndLeavesTheLossAlone) {
  for (int i = 0; i < 2000; ++i) {
    if (i != 5) Send(static_cast<uint16_t>(i));
  }
  Send(5);  // 1994 behind: cannot tell a duplicate from a late arrival
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.lost, 1u);
  EXPECT_EQ(c.unsequenced, 1u);
  EXPECT_EQ(c.reordered, 0u);
  EXPECT_EQ(c.duplicated, 0u);
}

TEST_F(StreamHealthTest, ArrivalBeforeTheFirstNumberIsReorderedNotExpected) {
  Send(101);
  Send(100);  // the first two swapped
  Send(102);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.reordered, 1u);
  EXPECT_EQ(c.expected, 2u);
  EXPECT_EQ(c.lost, 0u);
  Send(100);
  EXPECT_EQ(Counts().duplicated, 1u);
}

TEST_F(StreamHealthTest, SenderRestartingItsNumberingIsNoLoss) {
  for (uint16_t n = 1; n <= 100; ++n) Send(n);
  for (uint16_t n = 40000; n <= 40100; ++n) Send(n, 39900);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.packets, 201u);
  EXPECT_EQ(c.expected, 201u);
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.unsequenced, 0u);
  // The new numbering goes on as usual: a drop in it counts.
  Send(40102, 39900);
  EXPECT_EQ(Counts().lost, 1u);
}

TEST_F(StreamHealthTest, LoneStrayNumberIsUnsequencedAndTheStreamGoesOn) {
  for (uint16_t n = 1; n <= 50; ++n) Send(n);
  Send(30000);
  for (uint16_t n = 51; n <= 100; ++n) Send(n);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.unsequenced, 1u);
  EXPECT_EQ(c.expected, 100u);
  EXPECT_EQ(c.lost, 0u);
  // A step of just under the dropout limit is still the same numbering: a loss.
  Send(100 + StreamHealth::kMaxDropout - 1);
  EXPECT_EQ(Counts().lost, StreamHealth::kMaxDropout - 2);
}

TEST_F(StreamHealthTest, NewSourceStartsTheNumberingAfresh) {
  for (uint16_t n = 1; n <= 50; ++n) Send(n);
  for (uint16_t n = 9000; n < 9050; ++n) Send(n, 8950, 0xCAFEF00D);
  Send(9051, 8950, 0xCAFEF00D);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.ssrc_changes, 1u);
  EXPECT_EQ(c.ssrc, 0xCAFEF00Du);
  EXPECT_EQ(c.expected, 50u + 52);
  EXPECT_EQ(c.lost, 1u);
  EXPECT_EQ(c.unsequenced, 0u);
}

TEST_F(StreamHealthTest, DatagramsThatAreNotRtpAreCountedButNotSequenced) {
  Send(1);
  std::vector<uint8_t> d = Rtp(2, 48);
  d[0] = 0x40;  // version 1
  health_.Observe(d.data(), d.size(), kStart + 1000);
  health_.Observe(d.data(), 11, kStart + 2000);  // shorter than a header
  Send(2);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.packets, 4u);
  EXPECT_EQ(c.unsequenced, 2u);
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.duplicated, 0u);
}

TEST_F(StreamHealthTest, StreamWithoutRtpHeaderCountsOnlyPacketsAndGaps) {
  health_.Configure({0, 0, 2, 3});
  const std::vector<uint8_t> d(300, 0);
  health_.Observe(d.data(), d.size(), kStart);
  health_.Observe(d.data(), d.size(), kStart + 40000);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.packets, 2u);
  EXPECT_EQ(c.unsequenced, 0u);
  EXPECT_EQ(c.expected, 0u);
  EXPECT_FALSE(c.has_ssrc);
  EXPECT_EQ(c.longest_gap_us, 40000u);
}

// ---------------------------------------------------------------------------------------------
// Timing: jitter, gaps and restarts.

TEST_F(StreamHealthTest, JitterIsTheSmoothedTransitDifferenceInMilliseconds) {
  // 48 units (1 ms) apart on the wire; arrivals 0, 1.0, 2.5 and 3.0 ms. D is 0, then +24 units,
  // then -24 units: J = 24/16 = 1.5, then 1.5 + (24 - 1.5)/16 = 2.90625 units = 0.060546875 ms.
  const uint64_t arrivals[] = {0, 1000, 2500, 3000};
  for (int i = 0; i < 4; ++i) {
    const std::vector<uint8_t> d = Rtp(static_cast<uint16_t>(7 + i), 0xFFFFFF90u + 48 * i);
    health_.Observe(d.data(), d.size(), kStart + arrivals[i]);
  }
  const StreamHealthCounts c = Counts();
  EXPECT_DOUBLE_EQ(c.jitter_ms, 2.90625 / 48);
  EXPECT_DOUBLE_EQ(c.max_jitter_ms, 2.90625 / 48);
  EXPECT_EQ(c.longest_gap_us, 1500u);
}

TEST_F(StreamHealthTest, EvenStreamHasNoJitterAndItsGapIsThePacketSpacing) {
  for (uint16_t n = 0; n < 500; ++n) Send(n);
  EXPECT_EQ(Counts().jitter_ms, 0.0);
  EXPECT_EQ(Counts().longest_gap_us, 1000u);
  // A pause of 250 ms: the next packet's timestamp is on time, so the pause is jitter as well.
  const std::vector<uint8_t> d = Rtp(500, 500 * 48);
  health_.Observe(d.data(), d.size(), kStart + 500 * 1000 + 250000);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.longest_gap_us, 251000u);
  EXPECT_DOUBLE_EQ(c.jitter_ms, 250.0 / 16);
}

TEST_F(StreamHealthTest, RestartedReceiverMissesNothingAndSeesNoGap) {
  for (uint16_t n = 0; n < 100; ++n) Send(n);
  health_.Restart();
  // Ten seconds later the sender is 10000 numbers on; this is no loss, no gap, no jitter.
  for (uint16_t n = 10100; n < 10200; ++n) Send(n, 0);
  const StreamHealthCounts c = Counts();
  EXPECT_EQ(c.lost, 0u);
  EXPECT_EQ(c.expected, 200u);
  EXPECT_EQ(c.longest_gap_us, 1000u);
  EXPECT_EQ(c.jitter_ms, 0.0);
  EXPECT_EQ(c.ssrc_changes, 0u);
}

// ---------------------------------------------------------------------------------------------
// Levels and silence.

TEST_F(StreamHealthTest, SilentOnceNothingReachesMinus60DbfsForTwoSeconds) {
  for (uint16_t n = 0; n < 2000; ++n) Send(n, 0, kSsrc, kQuiet);
  StreamHealthCounts c = Counts();
  EXPECT_FALSE(c.heard_sound);
  EXPECT_FALSE(IsSilent(c, kStart + 1999999));
  EXPECT_TRUE(IsSilent(c, kStart + 2000000));

  Send(2000, 0, kSsrc, kSoundMagnitude);  // at 2 s: -60 dBFS exactly is sound
  c = Counts();
  EXPECT_TRUE(c.heard_sound);
  EXPECT_FALSE(IsSilent(c, kStart + 2000000 + 1999999));
  // The stream stops: two seconds after its last sound it is silent.
  EXPECT_TRUE(IsSilent(c, kStart + 4000000));
}

TEST_F(StreamHealthTest, CompressedStreamIsNeverJudgedSilent) {
  health_.Configure({16, 90000, 0, 0});
  const std::vector<uint8_t> d = Rtp(1, 0);
  health_.Observe(d.data(), d.size(), kStart);
  EXPECT_FALSE(IsSilent(Counts(), kStart + 10 * kSilenceUs));
  EXPECT_EQ(health_.TakeIntervalPeaks().left, 0u);
}

TEST_F(StreamHealthTest, IntervalPeaksAreTheLargestMagnitudesSinceTheLastTake) {
  Send(1, 0, kSsrc, 1000);
  Send(2, 0, kSsrc, 70000);
  PeakMagnitudes p = health_.TakeIntervalPeaks();
  EXPECT_EQ(p.left, 70000u);
  EXPECT_EQ(p.right, 70000u);  // the negative samples count by their magnitude
  Send(3, 0, kSsrc, 5);
  p = health_.TakeIntervalPeaks();
  EXPECT_EQ(p.left, 5u);
}

TEST(ScanPeaksTest, MagnitudesPerChannelForEachSampleWidth) {
  // 24-bit stereo: left 80 00 00 (-2^23), right 00 00 01; a lone trailing left sample.
  const uint8_t stereo24[] = {0x80, 0, 0, 0, 0, 1, 0x00, 0x10, 0x00};
  PeakMagnitudes peaks;
  uint32_t loudest = 0;
  ScanPeaks(stereo24, sizeof stereo24, 2, 3, &peaks, &loudest);
  EXPECT_EQ(peaks.left, 1u << 23);
  EXPECT_EQ(peaks.right, 1u);
  EXPECT_EQ(loudest, 1u << 23);

  // 16-bit mono: FF FE is -2, scaled to 24 bits; the trailing odd byte is no sample.
  const uint8_t mono16[] = {0xFF, 0xFE, 0x00, 0x01, 0x7F};
  peaks = {};
  loudest = 0;
  ScanPeaks(mono16, sizeof mono16, 1, 2, &peaks, &loudest);
  EXPECT_EQ(peaks.left, 2u << 8);
  EXPECT_EQ(peaks.right, 2u << 8);

  // Four channels: the third counts only for the loudest.
  const uint8_t quad16[] = {0, 1, 0, 2, 0x40, 0, 0, 3};
  peaks = {};
  loudest = 0;
  ScanPeaks(quad16, sizeof quad16, 4, 2, &peaks, &loudest);
  EXPECT_EQ(peaks.left, 1u << 8);
  EXPECT_EQ(peaks.right, 2u << 8);
  EXPECT_EQ(loudest, 0x4000u << 8);

  // Peaks held from earlier payloads stay, but the loudest is this payload's, for every layout.
  const uint8_t quiet24[] = {0, 0, 5, 0, 0, 6, 0, 0, 7, 0, 0, 8};
  for (const uint32_t channels : {1u, 2u, 4u}) {
    peaks = {1u << 20, 1u << 21};
    loudest = 0;
    ScanPeaks(quiet24, sizeof quiet24, channels, 3, &peaks, &loudest);
    EXPECT_EQ(peaks.left, 1u << 20) << channels;
    EXPECT_EQ(peaks.right, 1u << 21) << channels;
    EXPECT_EQ(loudest, 8u) << channels;
  }
}

TEST(ScanPeaksTest, AnySampleReachesCountsWholeSamplesByTheirMagnitude) {
  const uint8_t stereo24[] = {0, 0x20, 0xF5, 0xFF, 0xDF, 0x0B, 0x00, 0x20, 0xF4};  // 8437, -8437
  EXPECT_TRUE(AnySampleReaches(stereo24, sizeof stereo24, 3, 8437));
  EXPECT_TRUE(AnySampleReaches(stereo24 + 3, 3, 3, 8437));  // by its magnitude
  EXPECT_FALSE(AnySampleReaches(stereo24, sizeof stereo24, 3, 8438));
  EXPECT_FALSE(AnySampleReaches(stereo24, 2, 3, 1));  // no whole sample
  const uint8_t mono16[] = {0x00, 0x21};              // 33 << 8 = 8448
  EXPECT_TRUE(AnySampleReaches(mono16, sizeof mono16, 2, kSoundMagnitude));
  EXPECT_FALSE(AnySampleReaches(mono16, sizeof mono16, 4, 1));  // no such sample width
}

TEST(ScanPeaksTest, AnySampleReachesAgreesWithTheLoudestOfScanPeaks) {
  // One loud sample at every place in a datagram (either channel, the last whole sample, the
  // bytes of a trailing partial one) among quiet ones, for both sample widths.
  for (const uint32_t width : {2u, 3u}) {
    const size_t length = 48 * width + 2;  // 48 whole samples and part of another
    for (size_t loud = 0; loud < length; ++loud) {
      std::vector<uint8_t> payload(length, 0);
      for (size_t i = 0; i + width <= length; i += width) payload[i + width - 1] = 7;
      payload[loud] = 0x7F;
      PeakMagnitudes peaks;
      uint32_t loudest = 0;
      ScanPeaks(payload.data(), length, 2, width, &peaks, &loudest);
      for (const uint32_t threshold : {loudest, loudest + 1, kSoundMagnitude}) {
        EXPECT_EQ(AnySampleReaches(payload.data(), length, width, threshold), loudest >= threshold)
            << "width " << width << ", loud byte " << loud << ", threshold " << threshold;
      }
    }
  }
}

TEST_F(StreamHealthTest, SilenceWithoutIntervalPeaksIsJudgedAlike) {
  StreamHealthFormat format = Rtp24StereoHealthFormat();
  format.interval_peaks = false;
  StreamHealth with_peaks;
  with_peaks.Configure(Rtp24StereoHealthFormat());
  health_.Configure(format);
  // Quiet datagrams, a few with one loud sample late in the right channel.
  for (uint16_t n = 0; n < 6000; ++n) {
    std::vector<uint8_t> d = Rtp(n, n * 48u, kSsrc, kQuiet);
    if (n == 700 || n == 1500 || n == 1501) {
      d[d.size() - 3] = 0x00;  // the last right sample: 0x0020F5 = 8437
      d[d.size() - 2] = 0x20;
      d[d.size() - 1] = 0xF5;
    }
    const uint64_t at = kStart + n * 1000u;
    health_.Observe(d.data(), d.size(), at);
    with_peaks.Observe(d.data(), d.size(), at);
    const StreamHealthCounts a = health_.Counts();
    const StreamHealthCounts b = with_peaks.Counts();
    ASSERT_EQ(a.heard_sound, b.heard_sound) << n;
    ASSERT_EQ(a.quiet_since_us, b.quiet_since_us) << n;
    ASSERT_EQ(IsSilent(a, at), IsSilent(b, at)) << n;
  }
  const StreamHealthCounts c = Counts();
  EXPECT_TRUE(c.heard_sound);
  EXPECT_EQ(c.quiet_since_us, kStart + 1501000);
  EXPECT_FALSE(IsSilent(c, kStart + 1501000 + kSilenceUs - 1));
  EXPECT_TRUE(IsSilent(c, kStart + 1501000 + kSilenceUs));
  EXPECT_EQ(health_.TakeIntervalPeaks().right, 0u);  // not kept
  EXPECT_EQ(with_peaks.TakeIntervalPeaks().right, 8437u);
}

TEST(PeakDbfsTest, FullScaleIsZeroAndNothingIsTheFloor) {
  EXPECT_DOUBLE_EQ(PeakDbfs(kFullScale24), 0.0);
  EXPECT_NEAR(PeakDbfs(kFullScale24 / 1000), -60.0, 0.001);
  EXPECT_LT(PeakDbfs(kSoundMagnitude - 1), -60.0);
  EXPECT_GE(PeakDbfs(kSoundMagnitude), -60.0);
  EXPECT_EQ(PeakDbfs(0), kPeakFloorDbfs);
}

// ---------------------------------------------------------------------------------------------
// Publication to other threads.

TEST(SharedStreamHealthTest, ReaderOnAnotherThreadSeesConsistentCounts) {
  SharedStreamHealth shared;
  shared.Configure(Rtp24StereoHealthFormat());
  constexpr int kPackets = 20000;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!done.load(std::memory_order_acquire)) {
      const StreamHealthCounts c = shared.Read();
      // The first packet, then only repeats of it: each copy has them all or none.
      if (c.packets != 0 && c.packets != c.duplicated + 1) torn.fetch_add(1);
      if (c.expected != (c.packets != 0 ? 1u : 0u)) torn.fetch_add(1);
      reads.fetch_add(1);
    }
  });
  const std::vector<uint8_t> d = Rtp(77, 0);
  for (int i = 0; i < kPackets; ++i) shared.Observe(d.data(), d.size(), kStart + i);
  // Let the reader see the end too (bounded: the reader loops without waiting).
  for (int i = 0; i < 1000 && reads.load() < 10; ++i) std::this_thread::yield();
  done.store(true, std::memory_order_release);
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  const StreamHealthCounts c = shared.Read();
  EXPECT_EQ(c.packets, static_cast<uint64_t>(kPackets));
  EXPECT_EQ(c.duplicated, static_cast<uint64_t>(kPackets - 1));
  EXPECT_EQ(c.ssrc, kSsrc);
  EXPECT_TRUE(c.has_ssrc);
  EXPECT_TRUE(c.has_levels);
}

}  // namespace

// Stops the observing thread in the middle of a publication, as a thread descheduled there is.
struct SharedStreamHealthTestPeer {
  static void BeginPublication(SharedStreamHealth* shared, uint64_t packets) {
    shared->sequence_.fetch_add(1);
    shared->packets_.store(packets);
  }
};

namespace {

TEST(SharedStreamHealthTest, ReaderNeverTakesAPublicationHalfWritten) {
  SharedStreamHealth shared;
  shared.Configure(Rtp24StereoHealthFormat());
  const std::vector<uint8_t> d = Rtp(77, 0);
  shared.Observe(d.data(), d.size(), kStart);
  shared.Observe(d.data(), d.size(), kStart + 1);
  const StreamHealthCounts whole = shared.Read();
  ASSERT_EQ(whole.packets, 2u);
  ASSERT_EQ(whole.duplicated, 1u);

  // The writer stays mid-way through the next copy: the packets are new, the rest is not yet.
  SharedStreamHealthTestPeer::BeginPublication(&shared, 3);
  const StreamHealthCounts during = shared.Read();
  EXPECT_EQ(during.packets, 2u);
  EXPECT_EQ(during.duplicated, 1u);
  EXPECT_EQ(during.expected, 1u);
  EXPECT_TRUE(during.has_ssrc);
}

}  // namespace
}  // namespace vqscw
