#include "vqscwlib/preview/preview.h"

#include <arpa/inet.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/preview_helpers.h"
#include "tests/support/wav_audio.h"
#include "vqscwlib/platform/registry.h"
#include "vqscwlib/platform/sound_driver.h"

namespace {

using vqscw::testing::Address;
using vqscw::testing::LoopbackSender;
using vqscw::testing::RtpDatagram;
using vqscw::testing::ScopedSink;

constexpr int kWaitMs = 5000;
const uint32_t kLoopback = Address("127.0.0.1");

// Records the steps a preview reports.
struct StepLog {
  std::vector<int> steps;
  int32_t volume_at_four = 1;  // when not 1, PreviewSetVolume is called with it at step 4
  HRESULT volume_result = E_FAIL;
};

void RecordStep(int step, void* user) {
  auto* log = static_cast<StepLog*>(user);
  log->steps.push_back(step);
  if (step == 4 && log->volume_at_four != 1) {
    log->volume_result = PreviewSetVolume(log->volume_at_four);
  }
}

class PreviewTest : public ::testing::Test {
 protected:
  ~PreviewTest() override { PreviewStop(nullptr, nullptr); }

  // Waits until the preview has counted `packets` packets.
  bool WaitForPackets(uint32_t packets) {
    for (int i = 0; i < kWaitMs / 5; ++i) {
      uint32_t elapsed = 0, counted = 0;
      if (PreviewGetStatistics(&elapsed, &counted) == S_OK && counted >= packets) return true;
      usleep(5000);
    }
    return false;
  }
};

TEST(PreviewGroupTest, ChannelNumberIsOredOntoTheGroup) {
  EXPECT_EQ(vqscw::PreviewGroup(1), Address("239.192.0.1"));
  EXPECT_EQ(vqscw::PreviewGroup(300), Address("239.192.1.44"));
  EXPECT_EQ(vqscw::PreviewGroup(65535), Address("239.192.255.255"));
  EXPECT_EQ(vqscw::PreviewGroup(0x10000), Address("239.193.0.0"));
}

TEST_F(PreviewTest, WithoutAPreviewEveryQueryAnswersFalseAndWritesNothing) {
  int32_t left = 7, right = 7;
  uint32_t elapsed = 7, packets = 7;
  EXPECT_EQ(PreviewSetVolume(-100), S_FALSE);
  EXPECT_EQ(PreviewGetLevels(&left, &right), S_FALSE);
  EXPECT_EQ(PreviewGetStatistics(&elapsed, &packets), S_FALSE);
  ReceiverHealth health{};
  health.lost = 7;
  EXPECT_EQ(PreviewGetHealth(&health), S_FALSE);
  EXPECT_EQ(left, 7);
  EXPECT_EQ(elapsed, 7u);
  EXPECT_EQ(health.lost, 7u);
  StepLog log;
  PreviewStop(RecordStep, &log);
  PreviewStop(RecordStep, &log);
  EXPECT_EQ(log.steps, (std::vector<int>{0, 0}));
}

TEST_F(PreviewTest, StartReportsEachStepAndStopReportsZero) {
  StepLog log;
  log.volume_at_four = -2500;
  ASSERT_EQ(PreviewStart(0x7F01, RecordStep, &log, kLoopback), S_OK);
  EXPECT_EQ(log.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(log.volume_result, S_OK);  // the volume can be applied from step 4 on
  EXPECT_EQ(PreviewSetVolume(1), E_INVALIDARG);
  EXPECT_EQ(PreviewSetVolume(-10001), E_INVALIDARG);
  EXPECT_EQ(PreviewSetVolume(-10000), S_OK);
  int32_t left = 0, right = 0;
  EXPECT_EQ(PreviewGetLevels(&left, &right), S_OK);
  EXPECT_EQ(left, -10000);  // nothing heard yet
  uint32_t elapsed = 7, packets = 7;
  EXPECT_EQ(PreviewGetStatistics(&elapsed, &packets), S_OK);
  EXPECT_EQ(packets, 0u);

  log.steps.clear();
  PreviewStop(RecordStep, &log);
  EXPECT_EQ(log.steps, std::vector<int>{0});
  EXPECT_EQ(PreviewGetLevels(&left, &right), S_FALSE);
}

TEST_F(PreviewTest, SecondStartReplacesTheFirstWithoutReportingItsStop) {
  StepLog first, second;
  ASSERT_EQ(PreviewStart(0x7F02, RecordStep, &first, kLoopback), S_OK);
  ASSERT_EQ(PreviewStart(0x7F03, RecordStep, &second, kLoopback), S_OK);
  EXPECT_EQ(first.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(second.steps, (std::vector<int>{1, 2, 3, 4, 5}));
  // Only the second channel is heard now.
  LoopbackSender old_channel(vqscw::PreviewGroup(0x7F02), kStreamPort);
  LoopbackSender new_channel(vqscw::PreviewGroup(0x7F03), kStreamPort);
  ASSERT_TRUE(old_channel.Send(RtpDatagram(288)));
  ASSERT_TRUE(new_channel.Send(RtpDatagram(288)));
  ASSERT_TRUE(WaitForPackets(1));
  usleep(50 * 1000);
  uint32_t elapsed = 0, packets = 0;
  ASSERT_EQ(PreviewGetStatistics(&elapsed, &packets), S_OK);
  EXPECT_EQ(packets, 1u);
}

TEST_F(PreviewTest, StatisticsGiveThePlayingTimeOfThePayloadReceived) {
  ASSERT_EQ(PreviewStart(0x7F04, nullptr, nullptr, kLoopback), S_OK);
  LoopbackSender sender(vqscw::PreviewGroup(0x7F04), kStreamPort);
  for (int i = 0; i < 80; ++i) {  // 80 x 7200 = 576000 payload bytes, two seconds of audio
    ASSERT_TRUE(sender.Send(RtpDatagram(7200)));
    // Ten at a time, each ten counted before the next are sent: the socket's buffer never
    // overflows, however late the receive thread runs.
    if (i % 10 == 9) {
      ASSERT_TRUE(WaitForPackets(static_cast<uint32_t>(i + 1))) << i;
    }
  }
  ASSERT_TRUE(WaitForPackets(80));
  uint32_t elapsed = 0, packets = 0;
  ASSERT_EQ(PreviewGetStatistics(&elapsed, &packets), S_OK);
  EXPECT_EQ(elapsed, 2000u);
  EXPECT_EQ(packets, 80u);
  // The same stream's health: the test's datagrams all carry sequence number 0.
  ReceiverHealth health{};
  ASSERT_EQ(PreviewGetHealth(&health), S_OK);
  EXPECT_EQ(health.packets, 80u);
  EXPECT_EQ(health.payloadBytes, 576000u);
  EXPECT_EQ(health.duplicated, 79u);
  EXPECT_EQ(health.lost, 0u);
  PreviewStop(nullptr, nullptr);
  EXPECT_EQ(PreviewGetHealth(&health), S_FALSE);
}

TEST_F(PreviewTest, SinkThatCannotStartOrDoesNotExistFailsWithAResultInsteadOfWaiting) {
  StepLog log;
  {
    ScopedSink sink("wavenc ! filesink location=/nonexistent-dir/out.wav");
    EXPECT_EQ(PreviewStart(0x7F05, RecordStep, &log, kLoopback), VFW_E_NO_AUDIO_HARDWARE);
  }
  EXPECT_EQ(log.steps, (std::vector<int>{1, 2, 3, 4}));
  int32_t left = 0, right = 0;
  EXPECT_EQ(PreviewGetLevels(&left, &right), S_FALSE);
  EXPECT_EQ(PreviewSetVolume(-100), S_OK);  // the half-built graph still has its output

  log.steps.clear();
  {
    ScopedSink sink("no-such-sink-element");
    EXPECT_EQ(PreviewStart(0x7F06, RecordStep, &log, kLoopback), VFW_E_CANNOT_RENDER);
  }
  EXPECT_EQ(log.steps, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(PreviewSetVolume(-100), E_NOTIMPL);  // no audio output was connected
}

// The sound driver's "INIP" value for one test.
class DriverAddressTest : public PreviewTest {
 protected:
  ~DriverAddressTest() override {
    vqscw::RegistryKey key;
    if (vqscw::Registry().CreateKey(vqscw::kDriverParametersKey, &key) == vqscw::RegStatus::kOk) {
      key.Delete(vqscw::kDriverAddressValue);
    }
  }
  void SetDriverAddress(uint32_t type, const std::string& data) {
    vqscw::RegistryKey key;
    ASSERT_EQ(vqscw::Registry().CreateKey(vqscw::kDriverParametersKey, &key),
              vqscw::RegStatus::kOk);
    ASSERT_EQ(key.Set(vqscw::kDriverAddressValue, type, data), vqscw::RegStatus::kOk);
  }
  // Whether a datagram sent to the channel over loopback is counted.
  bool HearsLoopback(uint32_t channel) {
    LoopbackSender sender(vqscw::PreviewGroup(channel), kStreamPort);
    return sender.Send(RtpDatagram(288)) && WaitForPackets(1);
  }
};

TEST_F(DriverAddressTest, NoInterfaceAndNoDriverAddressJoinsOnLoopback) {
  ASSERT_EQ(PreviewStart(0x7F08, nullptr, nullptr, 0), S_OK);
  EXPECT_TRUE(HearsLoopback(0x7F08));
}

TEST_F(DriverAddressTest, NoInterfaceTakesTheDriverAddressAsStored) {
  SetDriverAddress(REG_DWORD, vqscw::DwordBytes(Address("192.0.2.77")));
  StepLog log;
  EXPECT_TRUE(FAILED(PreviewStart(0x7F09, RecordStep, &log, 0)));  // not an address of ours
  EXPECT_EQ(log.steps, (std::vector<int>{1, 2, 3, 4}));
  SetDriverAddress(REG_SZ, "127.0.0.1");
  ASSERT_EQ(PreviewStart(0x7F09, nullptr, nullptr, 0), S_OK);
  EXPECT_TRUE(HearsLoopback(0x7F09));
}

TEST_F(PreviewTest, SineFromAGStreamerSenderIsPlayedIntoAWavFileWithoutGaps) {
  constexpr double kFrequency = 1000;
  constexpr double kLevel = 0.5;
  constexpr double kFullScale = 8388608.0;  // 2^23
  char dir[] = "/tmp/vqscw-preview-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string wav = std::string(dir) + "/out.wav";
  ScopedSink sink("wavenc ! filesink location=" + wav);

  ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  GError* error = nullptr;
  GstElement* sender = gst_parse_launch(
      "audiotestsrc is-live=true freq=1000 volume=0.5 ! audio/x-raw,rate=48000,channels=2 ! "
      "audioconvert ! rtpL24pay ! udpsink host=239.192.0.7 port=5004 multicast-iface=lo",
      &error);
  ASSERT_NE(sender, nullptr) << (error != nullptr ? error->message : "");
  ASSERT_NE(gst_element_set_state(sender, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

  ASSERT_EQ(PreviewStart(7, nullptr, nullptr, kLoopback), S_OK);
  uint32_t elapsed = 0, packets = 0;
  for (int i = 0; i < kWaitMs / 10 && elapsed < 1500; ++i) {
    usleep(10 * 1000);
    PreviewGetStatistics(&elapsed, &packets);
  }
  int32_t left_level = -10000, right_level = -10000;
  EXPECT_EQ(PreviewGetLevels(&left_level, &right_level), S_OK);
  PreviewStop(nullptr, nullptr);
  gst_element_set_state(sender, GST_STATE_NULL);
  gst_object_unref(sender);
  ASSERT_GE(elapsed, 1500u);
  EXPECT_NEAR(left_level, 200 * std::log10(kLevel * kFullScale * 256 / 2130706432.0), 3);

  // The stop ended the stream, so the sink finished the file: its header gives the sizes of what
  // was written, as a reader of sound files takes them.
  const std::optional<vqscw::testing::WavHeader> header = vqscw::testing::ReadWavHeader(wav);
  const std::optional<vqscw::testing::WavAudio> audio = vqscw::testing::ReadWav24(wav);
  unlink(wav.c_str());
  rmdir(dir);
  ASSERT_TRUE(header.has_value());
  ASSERT_TRUE(audio.has_value());
  EXPECT_EQ(header->riff_size, header->file_size - 8);
  EXPECT_EQ(header->chunks_end, header->file_size);
  EXPECT_EQ(header->bits, 24);
  EXPECT_EQ(header->channels, 2);
  EXPECT_EQ(header->rate, 48000u);
  EXPECT_EQ(header->block_align, 6);
  EXPECT_EQ(header->byte_rate, 288000u);
  const std::vector<int32_t>& left = audio->left;
  EXPECT_EQ(header->data_size, left.size() * 6);
  EXPECT_NEAR(header->Seconds(), left.size() / 48000.0, 1e-9);
  // Whole 50 ms blocks of what arrived, less what was still on its way when it stopped.
  ASSERT_GE(left.size(), 48000u * (elapsed - 300) / 1000);
  ASSERT_LE(left.size(), 48000u * elapsed / 1000);

  int32_t peak = 0;
  size_t rising = 0;
  int32_t largest_step = 0;
  for (size_t i = 1; i < left.size(); ++i) {
    peak = std::max(peak, std::abs(left[i]));
    if (left[i - 1] < 0 && left[i] >= 0) ++rising;
    largest_step = std::max(largest_step, std::abs(left[i] - left[i - 1]));
  }
  EXPECT_NEAR(peak / kFullScale, kLevel, 0.02);
  EXPECT_NEAR(rising * 48000.0 / left.size(), kFrequency, 5);
  // A sine never moves faster than 2 pi f A per second: a lost or repeated stretch of audio
  // would show as a jump.
  const double steepest = 2 * M_PI * kFrequency / 48000 * kLevel * kFullScale;
  EXPECT_LE(largest_step, steepest * 1.05);
}

}  // namespace
