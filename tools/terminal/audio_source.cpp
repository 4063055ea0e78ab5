#include "tools/terminal/audio_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

namespace vqscw::tools {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr size_t kFmtMinimum = 16;
constexpr size_t kFmtExtensibleMinimum = 40;
constexpr size_t kSubFormatOffset = 24;  // in the "fmt " chunk: the sub-format GUID's first word

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// One sample of the file as a 24-bit value.
int32_t ReadSample(const uint8_t* p, int bits, bool is_float) {
  if (is_float) {
    float value = 0;
    std::memcpy(&value, p, sizeof value);
    if (!(value == value)) return 0;  // NaN
    const double clamped = std::fmax(-1.0, std::fmin(1.0, static_cast<double>(value)));
    return static_cast<int32_t>(std::lround(clamped * kFullScale24));
  }
  switch (bits) {
    case 16:
      return static_cast<int32_t>(static_cast<int16_t>(Load16(p))) * 256;
    case 24: {
      const uint32_t value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                             static_cast<uint32_t>(p[2]) << 16;
      return static_cast<int32_t>(value << 8) >> 8;  // sign-extended from bit 23
    }
    default:
      return static_cast<int32_t>(Load32(p)) >> 8;
  }
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

std::shared_ptr<const WavAudio> ParseWav(const std::vector<uint8_t>& file, std::string* error) {
  const size_t size = file.size();
  const uint8_t* data = file.data();
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
    *error = "not a RIFF WAVE file";
    return nullptr;
  }
  const uint8_t* fmt = nullptr;
  size_t fmt_size = 0;
  const uint8_t* samples = nullptr;
  size_t samples_size = 0;
  for (size_t at = 12; at + 8 <= size;) {
    const size_t chunk_size = Load32(data + at + 4);
    const size_t body = at + 8;
    // A chunk that claims more than the file holds is cut at the file's end.
    const size_t available = std::min(chunk_size, size - body);
    if (std::memcmp(data + at, "fmt ", 4) == 0 && fmt == nullptr) {
      fmt = data + body;
      fmt_size = available;
    } else if (std::memcmp(data + at, "data", 4) == 0 && samples == nullptr) {
      samples = data + body;
      samples_size = available;
    }
    if (chunk_size > size - body) break;
    at = body + chunk_size + (chunk_size & 1);  // chunks are padded to even sizes
  }
  if (fmt == nullptr || fmt_size < kFmtMinimum || samples == nullptr) {
    *error = "the WAV file has no format or no data chunk";
    return nullptr;
  }
  uint16_t format = Load16(fmt);
  const int channels = Load16(fmt + 2);
  const uint32_t rate = Load32(fmt + 4);
  const int block = Load16(fmt + 12);
  const int bits = Load16(fmt + 14);
  if (format == kFormatExtensible) {
    if (fmt_size < kFmtExtensibleMinimum) {
      *error = "the WAV file's extensible format is cut short";
      return nullptr;
    }
    format = Load16(fmt + kSubFormatOffset);
  }
  const bool is_float = format == kFormatFloat;
  if (!(format == kFormatPcm && (bits == 16 || bits == 24 || bits == 32)) &&
      !(is_float && bits == 32)) {
    *error = "the WAV file is not 16-, 24- or 32-bit PCM or 32-bit float";
    return nullptr;
  }
  if (rate != static_cast<uint32_t>(kSampleRate)) {
    *error = "the WAV file's rate is " + std::to_string(rate) + " Hz; 48000 Hz is needed";
    return nullptr;
  }
  const int sample_bytes = bits / 8;
  if (channels < 1 || block != channels * sample_bytes) {
    *error = "the WAV file's channel count and block size do not match";
    return nullptr;
  }

  auto audio = std::make_shared<WavAudio>();
  const size_t frames = samples_size / static_cast<size_t>(block);
  if (frames == 0) {
    *error = "the WAV file holds no samples";
    return nullptr;
  }
  audio->samples.resize(frames * kChannels);
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t* frame = samples + f * static_cast<size_t>(block);
    const int32_t left = ReadSample(frame, bits, is_float);
    const int32_t right = channels > 1 ? ReadSample(frame + sample_bytes, bits, is_float) : left;
    audio->samples[2 * f] = left;
    audio->samples[2 * f + 1] = right;
  }
  return audio;
}

std::shared_ptr<const WavAudio> LoadWav(const std::string& path, std::string* error,
                                        size_t max_bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    *error = "cannot open " + path;
    return nullptr;
  }
  const std::streamoff length = in.tellg();
  if (length < 0 || static_cast<uint64_t>(length) > max_bytes) {
    *error = path + " is larger than " + std::to_string(max_bytes >> 20) + " MB";
    return nullptr;
  }
  std::vector<uint8_t> file(static_cast<size_t>(length));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(file.data()), length)) {
    *error = "cannot read " + path;
    return nullptr;
  }
  std::shared_ptr<const WavAudio> audio = ParseWav(file, error);
  if (audio == nullptr) *error = path + ": " + *error;
  return audio;
}

void WavSource::Render(int32_t* out, int frames) {
  const size_t total = audio_->Frames();
  for (int i = 0; i < frames; ++i) {
    out[2 * i] = audio_->samples[2 * position_];
    out[2 * i + 1] = audio_->samples[2 * position_ + 1];
    if (++position_ == total) position_ = 0;
  }
}

}  // namespace vqscw::tools
