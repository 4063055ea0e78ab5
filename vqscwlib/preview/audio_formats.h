// The audio formats the network's streams carry, as 40-byte format blocks (WAVEFORMATEX family
// records, zero-filled past their significant bytes).
#ifndef VQSCWLIB_PREVIEW_AUDIO_FORMATS_H_
#define VQSCWLIB_PREVIEW_AUDIO_FORMATS_H_

#include <array>
#include <cstdint>

#include "vqscwlib/base/wave_format.h"

namespace vqscw {

using FormatBlock = std::array<uint8_t, kFormatBlockSize>;

// 16-bit linear PCM, 2 channels, 48000 Hz: a plain WAVEFORMATEX.
FormatBlock Pcm16StereoFormat();
// 24-bit linear PCM, 2 channels, 48000 Hz: WAVEFORMATEXTENSIBLE with 24 valid bits, front left
// and front right.
FormatBlock Pcm24StereoFormat();
// MPEG audio layer 3, 2 channels, 44100 Hz, as MPEGLAYER3WAVEFORMAT.
FormatBlock MpegAudioFormat();

// The significant bytes of a format block: 18 + cbSize, at most the 40 held.
uint32_t FormatBlockLength(const uint8_t* block);

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_AUDIO_FORMATS_H_
