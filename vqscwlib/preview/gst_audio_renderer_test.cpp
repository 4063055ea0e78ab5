#include "vqscwlib/preview/gst_audio_renderer.h"

#include <arpa/inet.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/preview_helpers.h"
#include "tests/support/wav_audio.h"
#include "vqscwlib/preview/preview_graph.h"

namespace vqscw {
namespace {

using testing::Address;
using testing::FreeUdpPort;
using testing::ScopedSink;

AM_MEDIA_TYPE AudioType(const GUID& sub_type, FormatBlock* format, uint32_t length) {
  AM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Audio;
  type.subtype = sub_type;
  type.formattype = FORMAT_WaveFormatEx;
  type.cbFormat = length;
  type.pbFormat = format->data();
  return type;
}

std::string CapsText(const AM_MEDIA_TYPE& type, bool* compressed) {
  GstCaps* caps = CapsForMediaType(type, compressed);
  if (caps == nullptr) return "";
  gchar* text = gst_caps_to_string(caps);
  std::string result(text);
  g_free(text);
  gst_caps_unref(caps);
  return result;
}

TEST(GstAudioRendererTest, PlaysSixteenOrTwentyFourBitPcmAndRefusesOtherWidths) {
  ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  bool compressed = true;
  FormatBlock pcm16 = Pcm16StereoFormat();
  EXPECT_EQ(CapsText(AudioType(MEDIASUBTYPE_PCM, &pcm16, 18), &compressed),
            "audio/x-raw, format=(string)S16LE, rate=(int)48000, channels=(int)2, "
            "layout=(string)interleaved");
  EXPECT_FALSE(compressed);
  FormatBlock eight = Pcm16StereoFormat();
  eight[14] = 8;  // wBitsPerSample
  EXPECT_EQ(CapsText(AudioType(MEDIASUBTYPE_PCM, &eight, 18), &compressed), "");
  FormatBlock floating = Pcm24StereoFormat();
  floating[24] = 3;  // SubFormat: IEEE float
  EXPECT_EQ(CapsText(AudioType(MEDIASUBTYPE_PCM, &floating, 40), &compressed), "");
  FormatBlock pcm24 = Pcm24StereoFormat();
  EXPECT_EQ(CapsText(AudioType(MEDIASUBTYPE_PCM, &pcm24, 18), &compressed), "");  // cut short
}

TEST(GstAudioRendererTest, VolumeInHundredthsOfADecibelBecomesALinearGain) {
  EXPECT_DOUBLE_EQ(LinearGain(0), 1.0);
  EXPECT_NEAR(LinearGain(-2000), 0.1, 1e-12);
  EXPECT_EQ(LinearGain(-10000), 0.0);
}

// The compressed path end to end: MPEG audio from a GStreamer sender is lent downstream in the
// receive buffers, decoded and played.
TEST(GstAudioRendererTest, MpegStreamIsDecodedAndPlayedFromTheReceiveBuffers) {
  ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  char dir[] = "/tmp/vqscw-mpeg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string wav = std::string(dir) + "/out.wav";
  ScopedSink sink("wavenc ! filesink location=" + wav);
  const uint16_t port = FreeUdpPort();
  const std::string sender_text =
      "audiotestsrc is-live=true freq=440 ! audio/x-raw,rate=44100,channels=2 ! "
      "lamemp3enc target=bitrate cbr=true bitrate=320 ! "
      "rtpmpapay ! udpsink host=239.192.0.21 multicast-iface=lo port=" +
      std::to_string(port);
  GstElement* sender = gst_parse_launch(sender_text.c_str(), nullptr);
  ASSERT_NE(sender, nullptr);

  CNetworkReceiverFilter* filter = nullptr;
  ASSERT_EQ(CNetworkReceiverFilter::Create(&filter), S_OK);
  const FormatBlock format = MpegAudioFormat();
  ASSERT_EQ(
      filter->SetMediaFormat(MEDIATYPE_Audio, MEDIASUBTYPE_MP3, HEADER_RTP_MPA, format.data()),
      S_OK);
  ASSERT_EQ(filter->SetGroup(Address("239.192.0.21"), htons(port)), S_OK);
  ASSERT_EQ(filter->SetInterfaceAddress(Address("127.0.0.1")), S_OK);
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CreatePreviewGraph(&graph), S_OK);
  ASSERT_EQ(graph->AddFilter(filter, u"source"), S_OK);
  ASSERT_EQ(graph->Render(filter->pin()), S_OK);
  void* control = nullptr;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, &control), S_OK);
  ASSERT_EQ(static_cast<IMediaControl*>(control)->Run(), S_OK);
  ASSERT_NE(gst_element_set_state(sender, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  for (int i = 0; i < 500 && filter->handler()->packets_received() < 40; ++i) usleep(10 * 1000);
  EXPECT_GE(filter->handler()->packets_received(), 40u);
  static_cast<IMediaControl*>(control)->Release();
  graph->Release();  // stops the graph and frees everything it held
  gst_element_set_state(sender, GST_STATE_NULL);
  gst_object_unref(sender);
  EXPECT_EQ(filter->receive_pool()->free_count(), CNetworkReceiverFilter::kReceiveBuffers);
  EXPECT_EQ(filter->sample_pool()->free_count(), CSamplePool::kDefaultCount);
  filter->Release();

  const std::vector<uint8_t> bytes = testing::FileBytes(wav);
  const std::optional<testing::WavHeader> header = testing::ReadWavHeader(wav);
  unlink(wav.c_str());
  rmdir(dir);
  ASSERT_TRUE(header.has_value());
  // Finished by the end of the stream: the sizes in the header are those of the file.
  EXPECT_EQ(header->riff_size, header->file_size - 8);
  EXPECT_EQ(header->chunks_end, header->file_size);
  EXPECT_LE(header->data_offset + header->data_size, header->file_size);
  EXPECT_GT(header->data_size, 0u);
  EXPECT_EQ(header->data_size % header->block_align, 0u);
  size_t loud = 0;  // 16-bit samples well above silence
  for (size_t i = header->data_offset; i + 2 <= header->data_offset + header->data_size; i += 2) {
    const int16_t sample = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                                (static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (sample > 4000 || sample < -4000) ++loud;
  }
  EXPECT_GT(loud, 10000u);
}

// A sink that never sees the end of the stream (the valve drops it) must not hold up the stop for
// longer than its bounded wait, and the stop still frees every sample.
TEST(GstAudioRendererTest, StopOfASinkThatNeverEndsItsStreamIsBoundedAndFreesEverySample) {
  ASSERT_TRUE(gst_init_check(nullptr, nullptr, nullptr));
  ScopedSink sink("valve drop=true ! fakesink");
  const uint16_t port = FreeUdpPort();
  CNetworkReceiverFilter* filter = nullptr;
  ASSERT_EQ(CNetworkReceiverFilter::Create(&filter), S_OK);
  ASSERT_EQ(filter->SetMediaFormat(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, HEADER_RTP,
                                   Pcm24StereoFormat().data()),
            S_OK);
  ASSERT_EQ(filter->SetGroup(Address("239.192.0.22"), htons(port)), S_OK);
  ASSERT_EQ(filter->SetInterfaceAddress(Address("127.0.0.1")), S_OK);
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CreatePreviewGraph(&graph), S_OK);
  ASSERT_EQ(graph->AddFilter(filter, u"source"), S_OK);
  ASSERT_EQ(graph->Render(filter->pin()), S_OK);
  void* control = nullptr;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, &control), S_OK);
  auto* media_control = static_cast<IMediaControl*>(control);
  ASSERT_EQ(media_control->Run(), S_OK);
  testing::LoopbackSender sender(Address("239.192.0.22"), port);
  // 100 ms of audio at the pace of a stream, so that blocks are downstream when it stops.
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(sender.Send(testing::RtpDatagram(288)));
    usleep(1000);
  }
  for (int i = 0; i < 500 && filter->handler()->packets_received() < 50; ++i) usleep(10 * 1000);
  EXPECT_GE(filter->handler()->packets_received(), 50u);

  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(media_control->Stop(), S_OK);
  const auto took = std::chrono::steady_clock::now() - before;
  // The wait for the end of the stream is a few hundred milliseconds; a hang would be endless.
  EXPECT_LT(took, std::chrono::seconds(3));
  FILTER_STATE state = State_Running;
  EXPECT_EQ(media_control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  EXPECT_EQ(filter->sample_pool()->free_count(), CSamplePool::kDefaultCount);
  media_control->Release();
  graph->Release();
  EXPECT_EQ(filter->receive_pool()->free_count(), CNetworkReceiverFilter::kReceiveBuffers);
  filter->Release();
}

}  // namespace
}  // namespace vqscw
