#include "vqscwlib/preview/packet_handler.h"

#include <gtest/gtest.h>

#include "tests/support/preview_helpers.h"

namespace vqscw {
namespace {

using testing::RtpDatagram;

constexpr size_t kBlock24 = 14400;  // 50 ms of 24-bit stereo at 48000 Hz

class PacketHandlerTest : public testing::ReceiverFilterFixture {
 protected:
  PacketHandler* handler() { return filter_->handler(); }
};

TEST_F(PacketHandlerTest, FiftiethDatagramOfOneMillisecondCompletesA50msBlock) {
  ConfigurePcm24();
  ConnectSink();
  for (int i = 0; i < 49; ++i) Feed(RtpDatagram(288, static_cast<uint8_t>(i)));
  EXPECT_EQ(sink_.count(), 0u);
  EXPECT_EQ(handler()->payload_bytes_received(), 49u * 288);
  Feed(RtpDatagram(288, 49));
  ASSERT_EQ(sink_.count(), 1u);
  EXPECT_EQ(handler()->packets_received(), 50u);
  EXPECT_EQ(handler()->payload_bytes_received(), kBlock24);
  const std::vector<uint8_t> block = sink_.sample(0);
  ASSERT_EQ(block.size(), kBlock24);
  // The first frame of the first datagram (0 1 2 3 4 5), reversed per sample.
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 6),
            (std::vector<uint8_t>{2, 1, 0, 5, 4, 3}));
  // The last frame of the last datagram starts at payload byte 282 of a run that began at 49.
  const uint8_t b = static_cast<uint8_t>(49 + 282);
  EXPECT_EQ(block[kBlock24 - 6], static_cast<uint8_t>(b + 2));
  EXPECT_EQ(block[kBlock24 - 4], b);
}

TEST_F(PacketHandlerTest, DatagramShorterThanTheHeaderCountsAsAPacketAndDeliversNothing) {
  ConfigurePcm24();
  ConnectSink();
  Feed(std::vector<uint8_t>(8, 0x7F));
  EXPECT_EQ(handler()->packets_received(), 1u);
  EXPECT_EQ(handler()->payload_bytes_received(), 0u);
  for (int i = 0; i < 50; ++i) Feed(RtpDatagram(288));
  EXPECT_EQ(sink_.count(), 1u);  // the short datagram left no bytes in the block
}

TEST_F(PacketHandlerTest, WhileEveryBlockIsDownstreamAudioIsDroppedAndDeliveryResumesAfter) {
  ConfigurePcm24();
  ConnectSink();
  sink_.hold = true;
  for (int i = 0; i < 10 * 50; ++i) Feed(RtpDatagram(288));
  ASSERT_EQ(sink_.count(), 10u);
  EXPECT_EQ(handler()->pcm_pool()->free_count(), 0u);
  for (int i = 0; i < 60; ++i) Feed(RtpDatagram(288));
  EXPECT_EQ(sink_.count(), 10u);
  EXPECT_EQ(handler()->packets_received(), 560u);
  EXPECT_EQ(handler()->payload_bytes_received(), 560u * 288);

  sink_.hold = false;
  sink_.ReleaseHeld();
  EXPECT_EQ(handler()->pcm_pool()->free_count(), 10u);
  for (int i = 0; i < 49; ++i) Feed(RtpDatagram(288));
  EXPECT_EQ(sink_.count(), 10u);
  Feed(RtpDatagram(288));
  EXPECT_EQ(sink_.count(), 11u);
}

TEST_F(PacketHandlerTest, DatagramLargerThanTheRoomLeftContinuesInTheNextBlock) {
  ConfigurePcm24();
  ConnectSink();
  Feed(RtpDatagram(6000));
  Feed(RtpDatagram(6000));
  Feed(RtpDatagram(6000));  // 2400 bytes complete the first block, 3600 start the second
  ASSERT_EQ(sink_.count(), 1u);
  const std::vector<uint8_t> block = sink_.sample(0);
  // Byte 12000 of the block is payload byte 0 of the third datagram, a left sample's MSB.
  EXPECT_EQ(block[12000 + 2], 0);
  EXPECT_EQ(block[12000], 2);
  Feed(RtpDatagram(5400));
  Feed(RtpDatagram(5400));
  EXPECT_EQ(sink_.count(), 2u);
}

TEST_F(PacketHandlerTest, SixteenBitPayloadIsSwappedIntoItsBlocks) {
  ASSERT_EQ(SetFormat(MEDIASUBTYPE_PCM, HEADER_RTP, Pcm16StereoFormat()), S_OK);
  ConnectSink();
  std::vector<uint8_t> datagram = RtpDatagram(960);
  datagram[12] = 0x12;
  datagram[13] = 0x34;
  datagram[14] = 0x56;
  datagram[15] = 0x78;
  for (int i = 0; i < 10; ++i) Feed(datagram);  // 9600 bytes: one 50 ms block
  ASSERT_EQ(sink_.count(), 1u);
  const std::vector<uint8_t> block = sink_.sample(0);
  ASSERT_EQ(block.size(), 9600u);
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 4),
            (std::vector<uint8_t>{0x34, 0x12, 0x78, 0x56}));
  EXPECT_EQ(handler()->peaks().left, 0);  // 16-bit audio leaves the peaks alone
}

TEST_F(PacketHandlerTest, CompressedPayloadIsLentInTheReceiveBufferWithoutCopying) {
  ASSERT_EQ(SetFormat(MEDIASUBTYPE_MP3, HEADER_RTP_MPA, MpegAudioFormat()), S_OK);
  ConnectSink();
  sink_.hold = true;
  CPacketBuffer* buffer = testing::MakePacket(filter_->receive_pool(), RtpDatagram(400, 1));
  handler()->Handle(buffer);
  ASSERT_EQ(sink_.count(), 1u);
  EXPECT_EQ(sink_.pointer(0), buffer->data() + 16);
  EXPECT_EQ(sink_.sample(0).size(), 412u - 16);
  EXPECT_EQ(handler()->payload_bytes_received(), 396u);
  const uint32_t free_while_lent = filter_->receive_pool()->free_count();
  buffer->Release();
  EXPECT_EQ(filter_->receive_pool()->free_count(), free_while_lent);  // still downstream
  sink_.ReleaseHeld();
  EXPECT_EQ(filter_->receive_pool()->free_count(), free_while_lent + 1);

  Feed(std::vector<uint8_t>(14, 0));  // shorter than RTP and MPEG headers together
  EXPECT_EQ(handler()->packets_received(), 2u);
  EXPECT_EQ(sink_.count(), 1u);
}

}  // namespace
}  // namespace vqscw
