// The audio a software terminal streams for one source: a sine tone, or an audio file played in
// a loop. Audio is rendered as interleaved stereo frames at 48000 Hz, each sample a signed 24-bit
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

// The samples of an audio file, decoded once to the stream's form (48000 Hz stereo, 24-bit
// values). Immutable once loaded, so sources share it.
struct FileAudio {
  std::vector<int32_t> samples;  // interleaved stereo
  size_t Frames() const { return samples.size() / kChannels; }
};

// At most this much audio is kept of a file: ten minutes.
constexpr size_t kMaxFileFrames = size_t{kSampleRate} * 600;

// Decodes the audio file at `path` with GStreamer: any format its installed plugins read (WAV,
// FLAC, Ogg, ...), at any rate, resampled to 48000 Hz; a mono file plays on both channels, a file
// of more channels is mixed down to two. Reads the whole file before it returns. Returns null
// with a message in *error for a file that cannot be read or decoded, one without audio, or one
// longer than `max_frames`. Calls gst_init.
std::shared_ptr<const FileAudio> LoadAudioFile(const std::string& path, std::string* error,
                                               size_t max_frames = kMaxFileFrames);

// Plays `audio` from its start, over and over.
class FileSource : public AudioSource {
 public:
  explicit FileSource(std::shared_ptr<const FileAudio> audio) : audio_(std::move(audio)) {}
  void Render(int32_t* out, int frames) override;

 private:
  std::shared_ptr<const FileAudio> audio_;
  size_t position_ = 0;  // in frames
};

}  // namespace vqscw::tools

#endif  // TOOLS_TERMINAL_AUDIO_SOURCE_H_
