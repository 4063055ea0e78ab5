#include "tools/terminal/audio_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace vqscw::tools {
namespace {

TEST(ToneSourceTest, HasItsFrequencyAndAmplitudeAcrossCalls) {
  ToneSource tone(1000, 0.25);
  std::vector<int32_t> samples(2 * kSampleRate);
  for (int at = 0; at < kSampleRate; at += 48) tone.Render(&samples[2 * at], 48);
  int crossings = 0;
  int32_t peak = 0;
  for (int i = 1; i < kSampleRate; ++i) {
    EXPECT_EQ(samples[2 * i], samples[2 * i + 1]);
    if ((samples[2 * i - 2] < 0) != (samples[2 * i] < 0)) ++crossings;
    peak = std::max(peak, std::abs(samples[2 * i]));
  }
  EXPECT_NEAR(crossings, 2000, 2);
  EXPECT_NEAR(peak, 0.25 * kFullScale24, 0.25 * kFullScale24 * 0.001);
}

void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

struct WavSpec {
  uint16_t format = 1;
  uint16_t channels = 2;
  uint32_t rate = 48000;
  uint16_t bits = 16;
  uint16_t sub_format = 0;  // nonzero: the extensible form with this sub-format
};

// A WAV file of `spec` holding `data` as its samples, with an odd-sized chunk before them.
std::vector<uint8_t> Wav(const WavSpec& spec, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> file{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  const bool extensible = spec.sub_format != 0;
  file.insert(file.end(), {'f', 'm', 't', ' '});
  Put32(&file, extensible ? 40 : 16);
  Put16(&file, extensible ? 0xFFFE : spec.format);
  Put16(&file, spec.channels);
  Put32(&file, spec.rate);
  Put32(&file, spec.rate * spec.channels * spec.bits / 8);
  Put16(&file, static_cast<uint16_t>(spec.channels * spec.bits / 8));
  Put16(&file, spec.bits);
  if (extensible) {
    Put16(&file, 22);
    Put16(&file, spec.bits);
    Put32(&file, 3);
    Put16(&file, spec.sub_format);
    file.insert(file.end(), 14, 0);
  }
  file.insert(file.end(), {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0});
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  Put32(&file, static_cast<uint32_t>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

TEST(WavTest, ConvertsEachSampleFormatToStereo24Bit) {
  std::string error;
  // 16-bit mono: both channels.
  auto mono = ParseWav(Wav({.channels = 1, .bits = 16}, {0x00, 0x80, 0xFF, 0x7F}), &error);
  ASSERT_NE(mono, nullptr) << error;
  EXPECT_EQ(mono->samples, (std::vector<int32_t>{-0x800000, -0x800000, 0x7FFF00, 0x7FFF00}));

  // 24-bit stereo, sign-extended; the last sample ends the file.
  auto s24 = ParseWav(Wav({.bits = 24}, {0x00, 0x00, 0x80, 0x56, 0x34, 0x12}), &error);
  ASSERT_NE(s24, nullptr) << error;
  EXPECT_EQ(s24->samples, (std::vector<int32_t>{-0x800000, 0x123456}));

  // 32-bit integers keep their top 24 bits; floats are clamped to full scale.
  auto s32 = ParseWav(Wav({.channels = 1, .bits = 32}, {0xFF, 0x56, 0x34, 0x12}), &error);
  ASSERT_NE(s32, nullptr) << error;
  EXPECT_EQ(s32->samples[0], 0x123456);
  std::vector<uint8_t> floats(8);
  const float values[2] = {2.0f, -0.5f};
  std::memcpy(floats.data(), values, 8);
  auto f32 = ParseWav(Wav({.bits = 32, .sub_format = 3}, floats), &error);
  ASSERT_NE(f32, nullptr) << error;
  EXPECT_EQ(f32->samples, (std::vector<int32_t>{kFullScale24, -kFullScale24 / 2 - 1}));
}

TEST(WavTest, RefusesWhatItCannotPlay) {
  std::string error;
  const std::vector<uint8_t> four{1, 2, 3, 4};
  EXPECT_EQ(ParseWav(Wav({.rate = 44100}, four), &error), nullptr);
  EXPECT_NE(error.find("44100"), std::string::npos);
  EXPECT_EQ(ParseWav(Wav({.channels = 1, .bits = 8}, four), &error), nullptr);
  EXPECT_EQ(ParseWav(Wav({.format = 3, .bits = 16}, four), &error), nullptr);
  EXPECT_EQ(ParseWav(Wav({.channels = 0}, four), &error), nullptr);
  EXPECT_EQ(ParseWav(Wav({}, {}), &error), nullptr);  // no samples
  std::vector<uint8_t> no_data = Wav({}, four);
  no_data.resize(no_data.size() - 12);  // cut inside the data chunk's header
  EXPECT_EQ(ParseWav(no_data, &error), nullptr);
  std::vector<uint8_t> short_extensible = Wav({.sub_format = 1}, four);
  short_extensible[16] = 18;  // "fmt " chunk too short for the extensible format
  EXPECT_EQ(ParseWav(short_extensible, &error), nullptr);
  EXPECT_EQ(ParseWav({'R', 'I', 'F', 'F'}, &error), nullptr);
}

TEST(WavTest, DataChunkLongerThanTheFileIsCutAndTheSourceLoops) {
  std::string error;
  std::vector<uint8_t> file = Wav({.channels = 1}, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00});
  file[file.size() - 7 - 4] = 0xFF;  // the data chunk claims 255 bytes
  auto audio = ParseWav(file, &error);
  ASSERT_NE(audio, nullptr) << error;
  ASSERT_EQ(audio->Frames(), 3u);  // the odd byte at the end is no whole frame
  WavSource source(audio);
  int32_t out[2 * 7];
  source.Render(out, 7);
  const int32_t expected[7] = {0x10000, 0x20000, 0x30000, 0x10000, 0x20000, 0x30000, 0x10000};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(out[2 * i], expected[i]);
    EXPECT_EQ(out[2 * i + 1], expected[i]);
  }
}

}  // namespace
}  // namespace vqscw::tools
