// Preview playback fed by the software terminal: a channel's RTP stream, sent as a terminal
// sends it, comes out of the preview's audio output as that channel's tone. Runs in a network
// namespace of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/preview_helpers.h"
#include "tests/support/wav_audio.h"
#include "vqscwlib/preview/preview.h"

namespace {

using namespace std::chrono_literals;  // NOLINT
using Clock = std::chrono::steady_clock;
using vqscw::testing::Address;
using vqscw::testing::ChildProcess;
using vqscw::testing::ScopedSink;

constexpr double kFullScale = 8388608.0;  // 2^23
constexpr double kToneAmplitude = 0.25;   // the terminal's tones, -12 dBFS
constexpr uint32_t kPlayMs = 1500;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

TEST(PreviewFromTerminalTest, ChannelOfTheSecondSlotPlaysItsThousandHertzTone) {
  char dir[] = "/tmp/vqscw-preview-terminal-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string wav = std::string(dir) + "/out.wav";

  ChildProcess terminal;
  ASSERT_TRUE(terminal.Start(VQSCW_TERMINAL_PATH,
                             {"--card", "127.0.0.1", "--name", "Tones", "--source", "301:Slot one",
                              "--source", "302:Slot two", "--seconds", "30"}));
  ASSERT_TRUE(terminal.WaitForOutput("S002", 5s)) << terminal.Errors();

  uint32_t elapsed = 0, packets = 0;
  int32_t left_level = -10000, right_level = -10000;
  double start_ms = 0, first_packet_ms = -1;
  {
    ScopedSink sink("wavenc ! filesink location=" + wav);
    const Clock::time_point begin = Clock::now();
    ASSERT_EQ(PreviewStart(302, nullptr, nullptr, Address("127.0.0.1")), S_OK);
    start_ms = Milliseconds(Clock::now() - begin);
    for (const auto end = begin + 5s; Clock::now() < end && elapsed < kPlayMs;) {
      std::this_thread::sleep_for(2ms);
      if (PreviewGetStatistics(&elapsed, &packets) == S_OK && packets > 0 && first_packet_ms < 0) {
        first_packet_ms = Milliseconds(Clock::now() - begin);
      }
    }
    EXPECT_EQ(PreviewGetLevels(&left_level, &right_level), S_OK);
    PreviewStop(nullptr, nullptr);
  }
  std::printf("PreviewStart took %.1f ms; first packet counted %.1f ms after the call\n", start_ms,
              first_packet_ms);
  ASSERT_GE(elapsed, kPlayMs);
  // One packet per millisecond of audio.
  EXPECT_NEAR(packets, elapsed, elapsed / 20.0);
  // -12 dBFS is -120 in the preview's tenths of a decibel.
  EXPECT_NEAR(left_level, 200 * std::log10(kToneAmplitude), 5);
  EXPECT_NEAR(right_level, 200 * std::log10(kToneAmplitude), 5);

  const std::optional<vqscw::testing::WavAudio> audio = vqscw::testing::ReadWav24(wav);
  unlink(wav.c_str());
  rmdir(dir);
  ASSERT_TRUE(audio.has_value());
  EXPECT_EQ(audio->rate, 48000u);
  EXPECT_EQ(audio->channels, 2u);
  ASSERT_GE(audio->left.size(), 48000u * (elapsed - 300) / 1000);
  const double frequency = vqscw::testing::ToneFrequency(audio->left, audio->rate);
  std::printf("tone in the WAV file: %.2f Hz, peak %.3f of full scale, %zu frames\n", frequency,
              vqscw::testing::Peak(audio->left) / kFullScale, audio->left.size());
  EXPECT_NEAR(frequency, 1000, 2);
  EXPECT_NEAR(vqscw::testing::Peak(audio->left) / kFullScale, kToneAmplitude, 0.01);
}

}  // namespace
