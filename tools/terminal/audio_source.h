// The audio a software terminal streams for one source: a sine tone, or a WAV file played in a
// loop. Audio is rendered as interleaved stereo frames at 48000 Hz, each sample a signed 24-bit
// value held in an int32_t.
#ifndef TOOLS_TERMINAL_AUDIO_SOURCE_H_
#define TOOLS_TERMINAL_AUDIO_SOURCE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vqscw::tools {

constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;
constexpr int32_t kFullScale24 = 0x7FFFFF;

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Writes the next `frames` stereo frames (2 * frames samples) to `out`.
  virtual void Render(int32_t* out, int frames) = 0;
};

// A sine of `frequency` Hz at `amplitude` (a fraction of full scale) on both channels, its phase
// carried from one call to the next.
class ToneSource : public AudioSource {
 public:
  ToneSource(double frequency, double amplitude);
  void Render(int32_t* out, int frames) override;

 private:
  double phase_ = 0;  // radians, kept within [0, 2 pi)
  double step_;
  double scale_;
};

// The samples of a WAV file, converted once to the stream's form (48000 Hz stereo, 24-bit
// values); a mono file plays on both channels. Immutable once loaded, so sources share it.
struct WavAudio {
  std::vector<int32_t> samples;  // interleaved stereo
  size_t Frames() const { return samples.size() / kChannels; }
};

// Reads a RIFF WAVE file of 48000 Hz with 1 or 2 channels (more: the first two are taken) of
// integer PCM of 16, 24 or 32 bits or of 32-bit floats, plain or in the extensible format.
// Returns null with a message in *error for anything else, a file larger than `max_bytes`, or a
// file without samples.
std::shared_ptr<const WavAudio> LoadWav(const std::string& path, std::string* error,
                                        size_t max_bytes = size_t{256} << 20);

// Parses the bytes of a WAV file; LoadWav's work after the read, for tests.
std::shared_ptr<const WavAudio> ParseWav(const std::vector<uint8_t>& file, std::string* error);

// Plays `audio` from its start, over and over.
class WavSource : public AudioSource {
 public:
  explicit WavSource(std::shared_ptr<const WavAudio> audio) : audio_(std::move(audio)) {}
  void Render(int32_t* out, int frames) override;

 private:
  std::shared_ptr<const WavAudio> audio_;
  size_t position_ = 0;  // in frames
};

}  // namespace vqscw::tools

#endif  // TOOLS_TERMINAL_AUDIO_SOURCE_H_
