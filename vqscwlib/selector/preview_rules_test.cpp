#include "vqscwlib/selector/preview_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vqscw {
namespace {

TEST(VolumeMappingTest, EndsAndJointsOfTheThreeStretches) {
  EXPECT_EQ(VolumeOfPosition(100), 0);
  EXPECT_EQ(VolumeOfPosition(51), -2450);
  EXPECT_EQ(VolumeOfPosition(50), -2500);
  EXPECT_EQ(VolumeOfPosition(26), -4036);
  EXPECT_EQ(VolumeOfPosition(25), -4100);
  EXPECT_EQ(VolumeOfPosition(1), -9860);
  EXPECT_EQ(VolumeOfPosition(0), -10000);
  EXPECT_EQ(VolumeOfPosition(-3), -10000);
  EXPECT_EQ(VolumeOfPosition(140), 0);
}

TEST(VolumeMappingTest, EveryPositionMapsBackToItselfAndLouderIsHigher) {
  for (int p = kVolumeMinPosition; p <= kVolumeMaxPosition; ++p) {
    EXPECT_EQ(PositionOfVolume(VolumeOfPosition(p)), p) << p;
    if (p > kVolumeMinPosition) {
      EXPECT_GT(VolumeOfPosition(p), VolumeOfPosition(p - 1)) << p;
    }
  }
}

TEST(VolumeMappingTest, StoredVolumesPlaceTheTrackbar) {
  EXPECT_EQ(PositionOfVolume(-2500), 50);
  EXPECT_EQ(PositionOfVolume(-2499), 51);
  EXPECT_EQ(PositionOfVolume(-4101), 25);
  EXPECT_EQ(PositionOfVolume(-4340), 24);
  EXPECT_EQ(PositionOfVolume(-10000), 0);
  EXPECT_EQ(PositionOfVolume(-25000), 0);
  EXPECT_EQ(PositionOfVolume(0), 100);
  EXPECT_EQ(PositionOfVolume(700), 100);  // clamped, as the trackbar does
}

TEST(VolumeMappingTest, VolumesBetweenPositionsRoundTowardZero) {
  EXPECT_EQ(PositionOfVolume(-2451), 51);  // -2451 / 50 is -49, not -50
  EXPECT_EQ(PositionOfVolume(-4099), 26);
  EXPECT_EQ(PositionOfVolume(-9999), 1);
  EXPECT_EQ(PositionOfVolume(INT32_MIN), 0);
  EXPECT_EQ(PositionOfVolume(INT32_MAX), 100);
}

TEST(MeterTest, LevelsLightTheLowestSegments) {
  EXPECT_EQ(LitSegments(-10000), 0);  // silence
  EXPECT_EQ(LitSegments(-500), 0);
  EXPECT_EQ(LitSegments(-499), 1);
  EXPECT_EQ(LitSegments(-140), 9);
  EXPECT_EQ(LitSegments(-139), 10);
  EXPECT_EQ(LitSegments(0), 10);
  EXPECT_EQ(LitSegments(INT32_MAX), 10);  // no wrap-around
  EXPECT_EQ(LitSegments(INT32_MIN), 0);
  EXPECT_TRUE(SegmentLit(4, -319));  // -319 + 200 > -120
  EXPECT_FALSE(SegmentLit(5, -319));
  EXPECT_FALSE(SegmentLit(10, 0));
}

TEST(MeterTest, SegmentsSitInTwoColumnsFromTheBottomUp) {
  const MeterRect meter = {0, 0, 18, 52};
  EXPECT_EQ(SegmentRect(meter, kMeterLeft, 0), (MeterRect{1, 47, 8, 51}));
  EXPECT_EQ(SegmentRect(meter, kMeterRight, 0), (MeterRect{10, 47, 17, 51}));
  EXPECT_EQ(SegmentRect(meter, kMeterLeft, 1), (MeterRect{1, 42, 8, 46}));
  EXPECT_EQ(SegmentRect(meter, kMeterRight, 9), (MeterRect{10, 2, 17, 6}));
  // Away from the origin the columns keep their widths.
  const MeterRect shifted = {3, 10, 21, 62};
  EXPECT_EQ(SegmentRect(shifted, kMeterLeft, 0), (MeterRect{4, 57, 11, 61}));
  EXPECT_EQ(SegmentRect(shifted, kMeterRight, 0), (MeterRect{13, 57, 20, 61}));
}

TEST(StatusTextTest, HealthSaysLossDuplicatesReorderingAndJitter) {
  ReceiverHealth health{};
  health.lost = 30;
  health.duplicated = 20;
  health.reordered = 10;
  health.jitterMs = 0.0549;
  EXPECT_EQ(HealthDescription(health),
            "Since the preview started: 30 lost, 20 duplicated, 10 reordered, jitter 0.05 ms");
  health.lost = 5000000000;  // beyond 32 bits
  health.jitterMs = 12.346;
  EXPECT_EQ(HealthDescription(health),
            "Since the preview started: 5000000000 lost, 20 duplicated, 10 reordered, jitter "
            "12.35 ms");
}

TEST(StatusTextTest, ReadyCountsTheRows) {
  EXPECT_EQ(ReadyStatus(0), " Ready... channels found: 0");
  EXPECT_EQ(ReadyStatus(12), " Ready... channels found: 12");
}

TEST(StatusTextTest, PlayingShowsTimeAndThePacketsOfTheLastSecond) {
  uint32_t last = 500;
  EXPECT_EQ(PlayingStatus(5, 1000, 1500, &last),
            " Playing channel #5 ... 00:00:01 (rate: 1000 packets/s)");
  EXPECT_EQ(last, 1500u);
  EXPECT_EQ(PlayingStatus(5, 3723000, 2400, &last),
            " Playing channel #5 ... 01:02:03 (rate: 900 packets/s)");
}

TEST(StatusTextTest, RateReadsZeroInTheFirstSecondAndAtWholeMinutes) {
  uint32_t last = 0;
  EXPECT_EQ(PlayingStatus(7, 999, 990, &last),
            " Playing channel #7 ... 00:00:00 (rate: 0 packets/s)");
  EXPECT_EQ(last, 990u);
  last = 59000;
  EXPECT_EQ(PlayingStatus(7, 60000, 60000, &last),
            " Playing channel #7 ... 00:01:00 (rate: 0 packets/s)");
  EXPECT_EQ(last, 60000u);
  EXPECT_EQ(PlayingStatus(7, 61000, 61000, &last),
            " Playing channel #7 ... 00:01:01 (rate: 1000 packets/s)");
}

TEST(StatusTextTest, ChannelShowsItsLow15BitsAndCountsMayWrap) {
  uint32_t last = 0xFFFFFF00u;
  EXPECT_EQ(PlayingStatus(0x18005, 2000, 0x100, &last),
            " Playing channel #5 ... 00:00:02 (rate: 512 packets/s)");
  EXPECT_EQ(PlayingStatus(-1, 0, 0, &last),
            " Playing channel #32767 ... 00:00:00 (rate: 0 packets/s)");
}

}  // namespace
}  // namespace vqscw
