// A client no one here wrote hears vqscw-terminal: GStreamer's udpsrc and RTP depayloaders
// receive its streams, in a network namespace of the test's own, and the decoded audio is the
// tone each source's slot plays.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "tools/testing/child_process.h"

namespace {

using namespace std::chrono_literals;  // NOLINT

constexpr int kRate = 48000;
constexpr double kFullScale = 2147483648.0;  // S32 samples

struct Decoded {
  std::vector<int32_t> left;
  std::string error;
};

// Runs `depayloader` on the RTP stream of `group`:5004 with `encoding` and gives `frames` frames
// of the left channel, or the pipeline's error.
Decoded Decode(const std::string& group, const std::string& encoding, int payload,
               const std::string& depayloader, size_t frames) {
  const std::string description =
      "udpsrc address=" + group +
      " port=5004 multicast-iface=lo caps=\"application/x-rtp,"
      "media=audio,clock-rate=48000,encoding-name=" +
      encoding + ",channels=2,payload=" + std::to_string(payload) + "\" ! " + depayloader +
      " ! audioconvert ! audio/x-raw,format=S32LE,channels=2,rate=48000 ! "
      "appsink name=sink sync=false";
  Decoded decoded;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr) {
    decoded.error = error != nullptr ? error->message : "no pipeline";
    if (error != nullptr) g_error_free(error);
    return decoded;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (decoded.left.size() < frames && std::chrono::steady_clock::now() < end) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 500 * GST_MSECOND);
    if (sample == nullptr) continue;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const auto* samples = reinterpret_cast<const int32_t*>(map.data);
      for (size_t i = 0; i + 1 < map.size / 4; i += 2) decoded.left.push_back(samples[i]);
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  if (decoded.left.size() < frames) decoded.error = "the stream gave too few frames";
  return decoded;
}

// The frequency with the strongest response between 100 and 10000 Hz, in steps of 10 Hz, by the
// Goertzel filter over the samples.
double StrongestFrequency(const std::vector<int32_t>& samples, double* amplitude) {
  double best = 0;
  double best_power = -1;
  for (double f = 100; f <= 10000; f += 10) {
    const double coefficient = 2 * std::cos(2 * M_PI * f / kRate);
    double s1 = 0;
    double s2 = 0;
    for (int32_t x : samples) {
      const double s0 = x / kFullScale + coefficient * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    if (power > best_power) {
      best_power = power;
      best = f;
    }
  }
  *amplitude = 2 * std::sqrt(best_power) / static_cast<double>(samples.size());
  return best;
}

class GStreamerDecodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
};

TEST_F(GStreamerDecodeTest, EachSourceDecodesToItsSlotsTone) {
  vqscw::testing::ChildProcess terminal;
  ASSERT_TRUE(terminal.Start(VQSCW_TERMINAL_PATH, {"--card", "lo", "--source", "101::101:3",
                                                   "--source", "102", "--seconds", "30"}));
  ASSERT_TRUE(terminal.WaitForOutput("S002", 5s)) << terminal.Errors();

  struct Case {
    const char* group;
    const char* encoding;
    int payload;
    const char* depayloader;
    double frequency;
  };
  for (const Case& c : {Case{"239.192.0.102", "L24", 96, "rtpL24depay", 1000},
                        Case{"239.192.0.101", "L24", 96, "rtpL24depay", 500},
                        // The stream group of a 16-bit source carries L16.
                        Case{"239.128.0.101", "L16", 97, "rtpL16depay", 500}}) {
    const Decoded decoded = Decode(c.group, c.encoding, c.payload, c.depayloader, kRate / 2);
    ASSERT_TRUE(decoded.error.empty()) << c.group << ": " << decoded.error;
    // Leave the first packets aside: the pipeline may join mid-stream.
    const std::vector<int32_t> window(decoded.left.begin() + 4800, decoded.left.end());
    double amplitude = 0;
    EXPECT_EQ(StrongestFrequency(window, &amplitude), c.frequency) << c.group;
    EXPECT_NEAR(amplitude, 0.25, 0.02) << c.group;
  }
}

}  // namespace
