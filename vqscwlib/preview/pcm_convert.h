// Conversion of linear PCM from network byte order (big-endian, as carried by RTP) into the
// little-endian samples the audio renderer plays.
#ifndef VQSCWLIB_PREVIEW_PCM_CONVERT_H_
#define VQSCWLIB_PREVIEW_PCM_CONVERT_H_

#include <cstddef>
#include <cstdint>

namespace vqscw {

// Byte-swaps every whole 2-byte sample of `size` bytes from `in` into `out`; a trailing odd byte
// is copied unchanged. `in` and `out` must not overlap.
void ConvertPcm16(const uint8_t* in, uint8_t* out, size_t size);

// The largest positive sample seen per channel, as a 24-bit sample in the top bits of a signed
// 32-bit number. Negative samples never raise a peak.
struct PeakLevels {
  int32_t left;
  int32_t right;
};

// Reverses every whole 3-byte sample of `size` bytes from `in` into `out` and raises `peaks`.
// Samples alternate left and right; `offset` is the byte position of `out` within its stereo
// stream (a sample at an odd 3-byte index is a right sample). Trailing bytes that do not make a
// whole sample are copied unchanged. `in` and `out` must not overlap.
void ConvertPcm24(const uint8_t* in, uint8_t* out, size_t size, size_t offset, PeakLevels* peaks);

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_PCM_CONVERT_H_
