// Tones for tests of what a tool streams or decodes: files of a tone made by GStreamer, and which
// tone a run of samples holds.
#ifndef TESTS_SUPPORT_TONES_H_
#define TESTS_SUPPORT_TONES_H_

#include <gst/gst.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace vqscw::testing {

// The frequency, in steps of 10 Hz from 100 to 10000 Hz, with the strongest Goertzel response in
// `samples` (one channel at 48000 Hz, `full_scale` being a sample of 1.0), and its amplitude as a
// fraction of full scale.
inline double StrongestFrequency(const std::vector<int32_t>& samples, double full_scale,
                                 double* amplitude) {
  constexpr double kRate = 48000;
  double best = 0;
  double best_power = -1;
  for (double f = 100; f <= 10000; f += 10) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * f / kRate);
    double s1 = 0, s2 = 0;
    for (int32_t x : samples) {
      const double s0 = x / full_scale + coefficient * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    if (power > best_power) best_power = power, best = f;
  }
  *amplitude = 2 * std::sqrt(best_power) / static_cast<double>(samples.size());
  return best;
}

// Writes to `path` one second of a `frequency` Hz tone at half of full scale, mono at 44100 Hz,
// encoded by the GStreamer elements `encoder` ("flacenc", "vorbisenc ! oggmux"). False when the
// pipeline fails or does not end within 10 s.
inline bool EncodeTone(const std::string& path, const std::string& encoder, int frequency) {
  gst_init(nullptr, nullptr);
  const std::string description = "audiotestsrc freq=" + std::to_string(frequency) +
                                  " volume=0.5 num-buffers=44 samplesperbuffer=1000 ! "
                                  "audio/x-raw,rate=44100,channels=1 ! audioconvert ! " +
                                  encoder + " ! filesink name=file";
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (pipeline == nullptr) return false;
  GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
  g_object_set(file, "location", path.c_str(), nullptr);
  gst_object_unref(file);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* end = gst_bus_timed_pop_filtered(
      bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ok = end != nullptr && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
  if (end != nullptr) gst_message_unref(end);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return ok;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_TONES_H_
