#include "vqscwlib/preview/pcm_convert.h"

#include <gtest/gtest.h>

#include <vector>

namespace vqscw {
namespace {

using Bytes = std::vector<uint8_t>;

// Converts into a buffer of exactly `in.size()` bytes, so a write past it is caught.
Bytes Convert24(const Bytes& in, size_t offset, PeakLevels* peaks) {
  Bytes out(in.size(), 0xEE);
  ConvertPcm24(in.data(), out.data(), in.size(), offset, peaks);
  return out;
}

TEST(PcmConvertTest, TwentyFourBitFrameIsReversedPerSampleAndRaisesOnlyPositivePeaks) {
  PeakLevels peaks{0, 0};
  EXPECT_EQ(Convert24({0x7F, 0xFF, 0xFF, 0x80, 0x00, 0x00}, 0, &peaks),
            (Bytes{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
  EXPECT_EQ(peaks.left, 0x7FFFFF00);
  EXPECT_EQ(peaks.right, 0);  // the right sample is negative
}

TEST(PcmConvertTest, SixteenBitSamplesAreByteSwapped) {
  const Bytes in{0x12, 0x34, 0x56, 0x78};
  Bytes out(in.size());
  ConvertPcm16(in.data(), out.data(), in.size());
  EXPECT_EQ(out, (Bytes{0x34, 0x12, 0x78, 0x56}));
}

TEST(PcmConvertTest, PartialSamplesAreCopiedWithoutRunningPastEitherBuffer) {
  const Bytes odd{0x12, 0x34, 0x56};
  Bytes out16(odd.size());
  ConvertPcm16(odd.data(), out16.data(), odd.size());
  EXPECT_EQ(out16, (Bytes{0x34, 0x12, 0x56}));

  // One frame, one lone left sample, two stray bytes.
  PeakLevels peaks{0, 0};
  EXPECT_EQ(Convert24({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 0, &peaks),
            (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 10, 11}));
  EXPECT_EQ(peaks.left, 0x07080900);
  EXPECT_EQ(peaks.right, 0x04050600);
}

TEST(PcmConvertTest, RunStartingMidFrameBeginsWithARightSample) {
  PeakLevels peaks{0, 0};
  EXPECT_EQ(Convert24({0x30, 0x00, 0x00, 0x20, 0x00, 0x00}, 3, &peaks),
            (Bytes{0x00, 0x00, 0x30, 0x00, 0x00, 0x20}));
  EXPECT_EQ(peaks.right, 0x30000000);
  EXPECT_EQ(peaks.left, 0x20000000);
}

}  // namespace
}  // namespace vqscw
