#include "tools/terminal/audio_source.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace vqscw::tools {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// What the decoder hands over: 32-bit samples, of which the stream keeps the upper 24 bits.
constexpr char kDecodePipeline[] =
    "filesrc name=file ! decodebin ! audioconvert ! audioresample ! "
    "audio/x-raw,format=S32LE,rate=48000,channels=2,layout=interleaved ! "
    "appsink name=sink sync=false";
constexpr int kDroppedBits = 8;
constexpr GstClockTime kPullWait = 100 * GST_MSECOND;
// The longest a file may take to decode; ten minutes of audio take a few seconds.
constexpr std::chrono::seconds kDecodeTimeout{60};

// Appends the samples of `sample` to *audio, at most up to `max_frames` frames. False when the
// file holds more than that.
bool Append(GstSample* sample, size_t max_frames, FileAudio* audio) {
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return true;
  const size_t count = map.size / sizeof(int32_t);
  const bool fits = audio->samples.size() + count <= max_frames * kChannels;
  if (fits && count > 0) {  // an empty buffer may have no memory at all
    const size_t at = audio->samples.size();
    audio->samples.resize(at + count);
    std::memcpy(audio->samples.data() + at, map.data, count * sizeof(int32_t));
    for (size_t i = at; i < audio->samples.size(); ++i) audio->samples[i] >>= kDroppedBits;
  }
  gst_buffer_unmap(buffer, &map);
  return fits;
}

// Runs the decoding pipeline on `path` to its end. False with *error on a bus error, a time-out
// or a file longer than `max_frames`.
bool Decode(GstElement* pipeline, const std::string& path, size_t max_frames, FileAudio* audio,
            std::string* error) {
  GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  GstBus* bus = gst_element_get_bus(pipeline);
  g_object_set(file, "location", path.c_str(), nullptr);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  bool ok = true;
  const auto deadline = std::chrono::steady_clock::now() + kDecodeTimeout;
  while (ok) {
    if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
      GError* failure = nullptr;
      gst_message_parse_error(message, &failure, nullptr);
      *error = "cannot decode " + path + ": " + (failure != nullptr ? failure->message : "?");
      g_clear_error(&failure);
      gst_message_unref(message);
      ok = false;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      *error =
          "decoding " + path + " took longer than " + std::to_string(kDecodeTimeout.count()) + " s";
      ok = false;
    } else if (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kPullWait)) {
      ok = Append(sample, max_frames, audio);
      gst_sample_unref(sample);
      if (!ok) {
        *error = path + " is longer than " + std::to_string(max_frames / kSampleRate) + " s";
      }
    } else if (gst_app_sink_is_eos(GST_APP_SINK(sink))) {
      break;
    }
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(sink);
  gst_object_unref(file);
  return ok;
}

}  // namespace

ToneSource::ToneSource(double frequency, double amplitude)
    : step_(kTwoPi * frequency / kSampleRate), scale_(amplitude * kFullScale24) {}

void ToneSource::Render(int32_t* out, int frames) {
  for (int i = 0; i < frames; ++i) {
    const auto sample = static_cast<int32_t>(std::lround(scale_ * std::sin(phase_)));
    out[2 * i] = sample;
    out[2 * i + 1] = sample;
    phase_ += step_;
    if (phase_ >= kTwoPi) phase_ -= kTwoPi;
  }
}

std::shared_ptr<const FileAudio> LoadAudioFile(const std::string& path, std::string* error,
                                               size_t max_frames) {
  std::error_code failure;
  if (!std::ifstream(path, std::ios::binary) || std::filesystem::is_directory(path, failure)) {
    *error = "cannot read " + path;
    return nullptr;
  }
  gst_init(nullptr, nullptr);
  GError* parse_error = nullptr;
  GstElement* pipeline = gst_parse_launch(kDecodePipeline, &parse_error);
  if (pipeline == nullptr || parse_error != nullptr) {
    *error = std::string("cannot make the decoder: ") +
             (parse_error != nullptr ? parse_error->message : "?");
    g_clear_error(&parse_error);
    if (pipeline != nullptr) gst_object_unref(pipeline);
    return nullptr;
  }
  auto audio = std::make_shared<FileAudio>();
  const bool decoded = Decode(pipeline, path, max_frames, audio.get(), error);
  gst_object_unref(pipeline);
  if (!decoded) return nullptr;
  if (audio->Frames() == 0) {
    *error = path + " holds no audio";
    return nullptr;
  }
  return audio;
}

void FileSource::Render(int32_t* out, int frames) {
  const size_t total = audio_->Frames();
  for (int i = 0; i < frames; ++i) {
    out[2 * i] = audio_->samples[2 * position_];
    out[2 * i + 1] = audio_->samples[2 * position_ + 1];
    if (++position_ == total) position_ = 0;
  }
}

}  // namespace vqscw::tools
