#include "tools/terminal/rtp_stream.h"

#include <gtest/gtest.h>

#include <vector>

namespace vqscw::tools {
namespace {

TEST(RtpPacketTest, HeaderThenBigEndianSamples) {
  const int32_t samples[4] = {0x123456, -1, -0x800000, 0x00FF01};
  uint8_t packet[kMaxRtpPacketBytes];
  RtpHeader header{.payload_type = 96,
                   .marker = true,
                   .sequence = 0xFFFE,
                   .timestamp = 0x01020304,
                   .ssrc = 0xA1B2C3D4};
  ASSERT_EQ(WriteRtpPacket(header, samples, 2, 3, packet), 12u + 12u);
  EXPECT_EQ(std::vector<uint8_t>(packet, packet + 24),
            (std::vector<uint8_t>{0x80, 0xE0, 0xFF, 0xFE, 1,    2,    3,    4,
                                  0xA1, 0xB2, 0xC3, 0xD4, 0x12, 0x34, 0x56, 0xFF,
                                  0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0xFF, 0x01}));

  header.payload_type = 97;
  header.marker = false;
  ASSERT_EQ(WriteRtpPacket(header, samples, 2, 2, packet), 12u + 8u);
  EXPECT_EQ(packet[1], 97);
  EXPECT_EQ(std::vector<uint8_t>(packet + 12, packet + 20),
            (std::vector<uint8_t>{0x12, 0x34, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0xFF}));
}

}  // namespace
}  // namespace vqscw::tools
