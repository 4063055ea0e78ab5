#include "tools/terminal/audio_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"
#include "tests/support/tones.h"

namespace vqscw::tools {
namespace {

struct WavShape {
  uint16_t format = 1;
  uint16_t channels = 2;
  uint32_t rate = 48000;
  uint16_t bits = 16;
  // Above 16: the extensible form with `format` as its sub-format (cut short below 40).
  uint16_t fmt_size = 16;
};

// A WAV file of `shape` holding `data`, with an odd-sized chunk before the samples.
std::vector<uint8_t> Wav(const WavShape& shape, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> file{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  auto put = [&file](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  const uint16_t block = static_cast<uint16_t>(shape.channels * shape.bits / 8);
  put(shape.fmt_size, 4);
  put(shape.fmt_size > 16 ? 0xFFFE : shape.format, 2);
  put(shape.channels, 2);
  put(shape.rate, 4);
  put(shape.rate * block, 4);
  put(block, 2);
  put(shape.bits, 2);
  if (shape.fmt_size == 18) put(0, 2);
  if (shape.fmt_size == 40) {
    put(22, 2), put(shape.bits, 2), put(3, 4), put(shape.format, 2);
    // The rest of the sub-format's GUID, the same for every format.
    file.insert(file.end(), {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
  }
  file.insert(file.end(), {'J', 'U', 'N', 'K', 3, 0, 0, 0, 'a', 'b', 'c', 0, 'd', 'a', 't', 'a'});
  put(static_cast<uint32_t>(data.size()), 4);
  file.insert(file.end(), data.begin(), data.end());
  const uint32_t riff_size = static_cast<uint32_t>(file.size() - 8);
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<uint8_t>(riff_size >> (8 * i));
  return file;
}

// 16-bit mono samples of a sine of `frequency` Hz at half of full scale, `seconds` long.
std::vector<uint8_t> Sine16(double frequency, uint32_t rate, double seconds) {
  std::vector<uint8_t> data;
  const auto frames = static_cast<size_t>(rate * seconds);
  for (size_t i = 0; i < frames; ++i) {
    const auto value = static_cast<int16_t>(
        std::lround(16384 * std::sin(2 * std::numbers::pi * frequency * i / rate)));
    data.push_back(static_cast<uint8_t>(value));
    data.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
  }
  return data;
}

class AudioFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = scratch_.File(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // A file encoded by GStreamer: 1 s of a 1500 Hz tone, mono at 44100 Hz, through `encoder`.
  std::string Encode(const std::string& name, const std::string& encoder) {
    const std::string path = scratch_.File(name);
    EXPECT_TRUE(vqscw::testing::EncodeTone(path, encoder, 1500)) << encoder;
    return path;
  }

  vqscw::testing::ScratchFolder scratch_{"vqscw-audio"};
};

TEST_F(AudioFileTest, EverySampleFormatBecomesStereo24Bit) {
  std::string error;
  auto mono16 =
      LoadAudioFile(Write("m16.wav", Wav({.channels = 1}, {0x00, 0x80, 0xFF, 0x7F})), &error);
  ASSERT_NE(mono16, nullptr) << error;
  EXPECT_EQ(mono16->samples, (std::vector<int32_t>{-0x800000, -0x800000, 0x7FFF00, 0x7FFF00}));
  auto stereo24 = LoadAudioFile(
      Write("s24.wav", Wav({.bits = 24}, {0x00, 0x00, 0x80, 0x56, 0x34, 0x12})), &error);
  ASSERT_NE(stereo24, nullptr) << error;
  EXPECT_EQ(stereo24->samples, (std::vector<int32_t>{-0x800000, 0x123456}));
  std::vector<uint8_t> floats(8);
  const float values[2] = {2.0f, -0.5f};  // the first beyond full scale
  std::memcpy(floats.data(), values, sizeof values);
  auto float32 = LoadAudioFile(
      Write("f32.wav", Wav({.format = 3, .bits = 32, .fmt_size = 40}, floats)), &error);
  ASSERT_NE(float32, nullptr) << error;
  EXPECT_EQ(float32->samples, (std::vector<int32_t>{kFullScale24, -0x400000}));

  std::vector<uint8_t> file = Wav({.channels = 1}, {0, 1, 0, 2, 0, 3, 0});
  file[file.size() - 11] = 0xFF;  // the data chunk claims 255 bytes
  auto cut = LoadAudioFile(Write("cut.wav", file), &error);
  ASSERT_NE(cut, nullptr) << error;
  EXPECT_EQ(cut->samples, (std::vector<int32_t>{0x10000, 0x10000, 0x20000, 0x20000, 0x30000,
                                                0x30000}));  // the odd last byte is no frame
}

TEST_F(AudioFileTest, OtherRatesAndFormatsAreResampledTo48kHz) {
  struct Case {
    std::string path;
    double amplitude;
  };
  const std::vector<Case> cases = {
      {Write("tone44k.wav", Wav({.channels = 1, .rate = 44100}, Sine16(1500, 44100, 1))), 0.5},
      {Encode("tone.flac", "flacenc"), 0.5},
      {Encode("tone.ogg", "vorbisenc ! oggmux"), 0.5}};
  for (const Case& c : cases) {
    std::string error;
    auto audio = LoadAudioFile(c.path, &error);
    ASSERT_NE(audio, nullptr) << c.path << ": " << error;
    // One second at 48000 Hz, give or take the resampler's edges (unresampled: 44100 frames).
    EXPECT_NEAR(static_cast<double>(audio->Frames()), kSampleRate, 200) << c.path;
    std::vector<int32_t> left, right;
    for (size_t f = kSampleRate / 10; f < audio->Frames(); ++f) {
      left.push_back(audio->samples[2 * f]);
      right.push_back(audio->samples[2 * f + 1]);
    }
    double amplitude = 0;
    // At the wrong rate the tone would be heard at 1633 Hz.
    EXPECT_EQ(vqscw::testing::StrongestFrequency(left, kFullScale24, &amplitude), 1500) << c.path;
    EXPECT_NEAR(amplitude, c.amplitude, 0.05) << c.path;
    EXPECT_EQ(left, right) << c.path;  // mono on both channels
  }
}

TEST_F(AudioFileTest, RefusesWhatCannotBeDecodedAndFilesLongerThanItsBound) {
  std::string error;
  const std::vector<uint8_t> four{1, 2, 3, 4};
  const std::vector<std::string> bad = {
      Write("text.wav", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'}),
      Write("empty.wav", Wav({}, {})),
      Write("riff.wav", {'R', 'I', 'F', 'F'}),
      Write("nothing", {}),
      Write("float16.wav", Wav({.format = 3, .bits = 16}, four)),
      Write("nochannels.wav", Wav({.channels = 0}, four)),
      scratch_.File("missing.wav"),
      scratch_.path().string()};
  for (const std::string& path : bad) {
    EXPECT_EQ(LoadAudioFile(path, &error), nullptr) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
  const std::string second = Write("second.wav", Wav({.channels = 1}, Sine16(500, 48000, 1)));
  EXPECT_EQ(LoadAudioFile(second, &error, kSampleRate / 2), nullptr);
  EXPECT_NE(error.find("longer than"), std::string::npos) << error;
  EXPECT_NE(LoadAudioFile(second, &error, kSampleRate), nullptr) << error;
}

TEST(FileSourceTest, StartsOverAtTheEnd) {
  auto audio = std::make_shared<FileAudio>();
  audio->samples = {1, -1, 2, -2, 3, -3};
  FileSource source(audio);
  int32_t out[2 * 4];
  source.Render(out, 4);
  EXPECT_EQ(std::vector<int32_t>(out, out + 8), (std::vector<int32_t>{1, -1, 2, -2, 3, -3, 1, -1}));
  source.Render(out, 2);
  EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{2, -2, 3, -3}));
}

}  // namespace
}  // namespace vqscw::tools
