#include "vqscwlib/preview/audio_formats.h"

#include <algorithm>
#include <cstring>

namespace vqscw {
namespace {

constexpr uint16_t kChannels = 2;
constexpr uint32_t kPcmRate = 48000;
constexpr uint32_t kMpegRate = 44100;
constexpr uint32_t kFrontLeftRight = 3;

template <typename Record>
FormatBlock ToBlock(const Record& record) {
  static_assert(sizeof(Record) <= kFormatBlockSize);
  FormatBlock block{};
  std::memcpy(block.data(), &record, sizeof record);
  return block;
}

}  // namespace

FormatBlock Pcm16StereoFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = kChannels;
  format.nSamplesPerSec = kPcmRate;
  format.nAvgBytesPerSec = kPcmRate * 4;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  format.cbSize = 0;
  return ToBlock(format);
}

FormatBlock Pcm24StereoFormat() {
  WAVEFORMATEXTENSIBLE format{};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = kChannels;
  format.Format.nSamplesPerSec = kPcmRate;
  format.Format.nAvgBytesPerSec = kPcmRate * 6;
  format.Format.nBlockAlign = 6;
  format.Format.wBitsPerSample = 24;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = 24;
  format.dwChannelMask = kFrontLeftRight;
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return ToBlock(format);
}

FormatBlock MpegAudioFormat() {
  MPEGLAYER3WAVEFORMAT format{};
  format.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  format.wfx.nChannels = kChannels;
  format.wfx.nSamplesPerSec = kMpegRate;
  format.wfx.nAvgBytesPerSec = 16000;
  format.wfx.nBlockAlign = 1;
  format.wfx.wBitsPerSample = 0;
  format.wfx.cbSize = sizeof(MPEGLAYER3WAVEFORMAT) - sizeof(WAVEFORMATEX);
  format.wID = 1;
  format.fdwFlags = 0;
  format.nBlockSize = 1;
  format.nFramesPerBlock = 1;
  format.nCodecDelay = 1393;
  return ToBlock(format);
}

uint32_t FormatBlockLength(const uint8_t* block) {
  WAVEFORMATEX head;
  std::memcpy(&head, block, sizeof head);
  return std::min<uint32_t>(sizeof(WAVEFORMATEX) + head.cbSize, kFormatBlockSize);
}

}  // namespace vqscw
