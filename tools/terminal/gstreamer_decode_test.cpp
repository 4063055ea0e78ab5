// A client no one here wrote hears vqscw-terminal: GStreamer's udpsrc and RTP depayloaders receive
// its streams (in a network namespace of the test's own) and decode each source's tone.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/tones.h"

namespace {

using namespace std::chrono_literals;  // NOLINT

constexpr int kRate = 48000;
constexpr double kFullScale = 2147483648.0;  // of the S32 samples the pipeline gives

// `frames` frames of the left channel of the RTP stream at `group`:5004, decoded by GStreamer
// with `caps` and `depayloader`; fewer when the pipeline fails or times out.
std::vector<int32_t> Decode(const std::string& group, const std::string& caps,
                            const std::string& depayloader, size_t frames) {
  const std::string description = "udpsrc address=" + group + " port=5004 multicast-iface=lo " +
                                  "caps=\"application/x-rtp,media=audio,clock-rate=48000," + caps +
                                  "\" ! " + depayloader + " ! audioconvert ! audio/x-raw," +
                                  "format=S32LE,channels=2 ! appsink name=sink sync=false";
  std::vector<int32_t> left;
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (pipeline == nullptr) return left;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  for (const auto end = std::chrono::steady_clock::now() + 10s;
       left.size() < frames && std::chrono::steady_clock::now() < end;) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 500 * GST_MSECOND);
    if (sample == nullptr) continue;
    GstMapInfo map;
    if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
      const auto* samples = reinterpret_cast<const int32_t*>(map.data);
      for (size_t i = 0; i + 1 < map.size / 4; i += 2) left.push_back(samples[i]);
      gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return left;
}

TEST(GStreamerDecodeTest, EachSourceDecodesToItsSlotsTone) {
  gst_init(nullptr, nullptr);
  vqscw::testing::ChildProcess terminal;
  ASSERT_TRUE(terminal.Start(VQSCW_TERMINAL_PATH, {"--card", "lo", "--source", "101::101:3",
                                                   "--source", "102", "--seconds", "30"}));
  ASSERT_TRUE(terminal.WaitForOutput("S002", 5s)) << terminal.Errors();
  struct Case {
    const char* group;
    const char* caps;
    const char* depayloader;
    double frequency;
  };
  for (const Case& c :
       {Case{"239.192.0.102", "encoding-name=L24,channels=2,payload=96", "rtpL24depay", 1000},
        Case{"239.192.0.101", "encoding-name=L24,channels=2,payload=96", "rtpL24depay", 500},
        // The stream group of a 16-bit source carries L16, as its SDP file says.
        Case{"239.128.0.101", "encoding-name=L16,channels=2,payload=97", "rtpL16depay", 500}}) {
    const std::vector<int32_t> left = Decode(c.group, c.caps, c.depayloader, kRate / 2);
    ASSERT_GE(left.size(), size_t{kRate / 2}) << c.group;
    // The first 100 ms aside: the pipeline may have joined in the middle of a packet run.
    double amplitude = 0;
    EXPECT_EQ(vqscw::testing::StrongestFrequency({left.begin() + kRate / 10, left.end()},
                                                 kFullScale, &amplitude),
              c.frequency)
        << c.group;
    EXPECT_NEAR(amplitude, 0.25, 0.02) << c.group;  // -12 dBFS
  }
}

}  // namespace

namespace {

TEST(GStreamerDecodeTest, AFileOfAnotherRateAndFormatPlaysAtItsPitch) {
  gst_init(nullptr, nullptr);
  const vqscw::testing::ScratchFolder scratch("vqscw-gst-decode");
  ASSERT_TRUE(scratch.ok());
  const std::string flac = scratch.File("tone44k.flac");
  ASSERT_TRUE(vqscw::testing::EncodeTone(flac, "flacenc", 1500));
  vqscw::testing::ChildProcess terminal;
  ASSERT_TRUE(terminal.Start(
      VQSCW_TERMINAL_PATH, {"--card", "lo", "--source", "101", "--wav", flac, "--seconds", "30"}));
  ASSERT_TRUE(terminal.WaitForOutput("S001", 5s)) << terminal.Errors();
  const std::vector<int32_t> left =
      Decode("239.192.0.101", "encoding-name=L24,channels=2,payload=96", "rtpL24depay", kRate / 2);
  ASSERT_GE(left.size(), size_t{kRate / 2});
  double amplitude = 0;
  // Played at 44100 Hz as if it were 48000 Hz, the tone would be 1633 Hz.
  EXPECT_EQ(vqscw::testing::StrongestFrequency({left.begin() + kRate / 10, left.end()}, kFullScale,
                                               &amplitude),
            1500);
  EXPECT_NEAR(amplitude, 0.5, 0.05);
}

}  // namespace
