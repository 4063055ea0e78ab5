// Reading back what a preview played into a WAV file (the sink "wavenc ! filesink"), and the two
// measures the end-to-end tests take of a tone: its frequency and its peak.
#ifndef TESTS_SUPPORT_WAV_AUDIO_H_
#define TESTS_SUPPORT_WAV_AUDIO_H_

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace vqscw::testing {

struct WavAudio {
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
  std::vector<int32_t> left;  // the first channel's samples, sign-extended
};

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
}

// What the header of a WAV file says, read the way a reader of sound files reads it, beside the
// file's length.
struct WavHeader {
  uint64_t file_size = 0;
  uint32_t riff_size = 0;    // the RIFF chunk's size field: the file's length less 8 when final
  uint64_t data_offset = 0;  // where the data chunk's samples start
  uint32_t data_size = 0;    // the data chunk's size field
  // Where the walk from chunk to chunk by their size fields ends: the file's length when every
  // chunk (the data and any after it, such as a LIST of tags) has its final size.
  uint64_t chunks_end = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t byte_rate = 0;
  uint16_t block_align = 0;
  uint16_t bits = 0;
  // Seconds of audio the header claims.
  double Seconds() const { return byte_rate == 0 ? 0 : static_cast<double>(data_size) / byte_rate; }
};

// Nothing when the file is no RIFF WAVE file with a format chunk before a data chunk.
inline std::optional<WavHeader> ReadWavHeader(const std::string& path) {
  const std::vector<uint8_t> bytes = FileBytes(path);
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
  auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
      std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") {
    return std::nullopt;
  }
  WavHeader header;
  header.file_size = bytes.size();
  header.riff_size = u32(4);
  bool format_seen = false, data_seen = false;
  uint64_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::string id(bytes.begin() + at, bytes.begin() + at + 4);
    const uint32_t size = u32(at + 4);
    const uint64_t body = at + 8;
    if (id == "fmt " && body + 16 <= bytes.size()) {
      header.channels = u16(body + 2);
      header.rate = u32(body + 4);
      header.byte_rate = u32(body + 8);
      header.block_align = u16(body + 12);
      header.bits = u16(body + 14);
      format_seen = true;
    } else if (id == "data" && !data_seen) {
      if (!format_seen) return std::nullopt;
      header.data_offset = body;
      header.data_size = size;
      data_seen = true;
    }
    at = body + size + (size & 1);
  }
  header.chunks_end = at;
  if (!data_seen) return std::nullopt;
  return header;
}

// The file's format and the first channel of its 24-bit PCM audio: the samples of the data
// chunk, or up to the end of the file when the chunk's size claims more (as it does in a
// recording that was cut off). Nothing when the file is not a WAV file of 24-bit PCM.
inline std::optional<WavAudio> ReadWav24(const std::string& path) {
  const std::vector<uint8_t> bytes = FileBytes(path);
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
  auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
      std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") {
    return std::nullopt;
  }
  WavAudio audio;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::string id(bytes.begin() + at, bytes.begin() + at + 4);
    const uint32_t size = u32(at + 4);
    const size_t body = at + 8;
    if (id == "fmt " && body + 16 <= bytes.size()) {
      audio.channels = u16(body + 2);
      audio.rate = u32(body + 4);
      audio.bits = u16(body + 14);
    } else if (id == "data") {
      if (audio.bits != 24 || audio.channels == 0) return std::nullopt;
      const size_t frame = 3u * audio.channels;
      const size_t end = std::min<size_t>(bytes.size(), body + size);
      for (size_t i = body; i + frame <= end; i += frame) {
        const uint32_t raw = bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16;
        audio.left.push_back(static_cast<int32_t>(raw << 8) >> 8);
      }
      return audio;
    }
    at = body + size + (size & 1);
  }
  return std::nullopt;
}

// The frequency of a tone from its rising zero crossings.
inline double ToneFrequency(const std::vector<int32_t>& samples, uint32_t rate) {
  size_t first = 0, last = 0, crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      if (crossings++ == 0) first = i;
      last = i;
    }
  }
  if (crossings < 2) return 0;
  return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

inline int32_t Peak(const std::vector<int32_t>& samples) {
  int32_t peak = 0;
  for (int32_t sample : samples) peak = std::max(peak, std::abs(sample));
  return peak;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_WAV_AUDIO_H_
