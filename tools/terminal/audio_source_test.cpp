#include "tools/terminal/audio_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
    file.insert(file.end(), 14, 0);
  }
  file.insert(file.end(), {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0, 'd', 'a', 't', 'a'});
  put(static_cast<uint32_t>(data.size()), 4);
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

TEST(WavTest, EverySampleFormatBecomesStereo24Bit) {
  std::string error;
  auto mono16 = ParseWav(Wav({.channels = 1}, {0x00, 0x80, 0xFF, 0x7F}), &error);
  ASSERT_NE(mono16, nullptr) << error;
  EXPECT_EQ(mono16->samples, (std::vector<int32_t>{-0x800000, -0x800000, 0x7FFF00, 0x7FFF00}));
  // The last 24-bit sample ends the file: it is read without a byte beyond it.
  auto stereo24 = ParseWav(Wav({.bits = 24}, {0x00, 0x00, 0x80, 0x56, 0x34, 0x12}), &error);
  ASSERT_NE(stereo24, nullptr) << error;
  EXPECT_EQ(stereo24->samples, (std::vector<int32_t>{-0x800000, 0x123456}));
  auto mono32 = ParseWav(Wav({.channels = 1, .bits = 32}, {0xFF, 0x56, 0x34, 0x12}), &error);
  ASSERT_NE(mono32, nullptr) << error;
  EXPECT_EQ(mono32->samples[0], 0x123456);
  std::vector<uint8_t> floats(8);
  const float values[2] = {2.0f, -0.5f};  // the first beyond full scale
  std::memcpy(floats.data(), values, sizeof values);
  auto float32 = ParseWav(Wav({.format = 3, .bits = 32, .fmt_size = 40}, floats), &error);
  ASSERT_NE(float32, nullptr) << error;
  EXPECT_EQ(float32->samples, (std::vector<int32_t>{kFullScale24, -kFullScale24 / 2 - 1}));
}

TEST(WavTest, RefusesWhatItCannotPlayAndCutsADataChunkLongerThanTheFile) {
  std::string error;
  const std::vector<uint8_t> four{1, 2, 3, 4};
  for (const WavShape& bad :
       {WavShape{.rate = 44100}, WavShape{.channels = 1, .bits = 8},
        WavShape{.format = 3, .bits = 16}, WavShape{.channels = 0}, WavShape{.fmt_size = 18}}) {
    EXPECT_EQ(ParseWav(Wav(bad, four), &error), nullptr);
  }
  EXPECT_EQ(ParseWav(Wav({}, {}), &error), nullptr);
  EXPECT_EQ(ParseWav({'R', 'I', 'F', 'F'}, &error), nullptr);

  std::vector<uint8_t> file = Wav({.channels = 1}, {0, 1, 0, 2, 0, 3, 0});
  file[file.size() - 11] = 0xFF;  // the data chunk claims 255 bytes
  auto audio = ParseWav(file, &error);
  ASSERT_NE(audio, nullptr) << error;
  ASSERT_EQ(audio->Frames(), 3u);  // the odd last byte is no whole frame
  WavSource source(audio);
  int32_t out[2 * 4];
  source.Render(out, 4);  // and the source starts over
  EXPECT_EQ(std::vector<int32_t>(out, out + 8),
            (std::vector<int32_t>{0x10000, 0x10000, 0x20000, 0x20000, 0x30000, 0x30000, 0x10000,
                                  0x10000}));
}

}  // namespace
}  // namespace vqscw::tools
