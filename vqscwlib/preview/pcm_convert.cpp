#include "vqscwlib/preview/pcm_convert.h"

namespace vqscw {
namespace {

constexpr size_t kSample24 = 3;
constexpr size_t kFrame24 = 2 * kSample24;

// One 24-bit sample, reversed into `out`; returns its value in the top bits of 32.
inline int32_t Swap24(const uint8_t* in, uint8_t* out) {
  out[0] = in[2];
  out[1] = in[1];
  out[2] = in[0];
  return static_cast<int32_t>((static_cast<uint32_t>(in[0]) << 24) |
                              (static_cast<uint32_t>(in[1]) << 16) |
                              (static_cast<uint32_t>(in[2]) << 8));
}

}  // namespace

void ConvertPcm16(const uint8_t* in, uint8_t* out, size_t size) {
  size_t i = 0;
  for (; i + 1 < size; i += 2) {
    out[i] = in[i + 1];
    out[i + 1] = in[i];
  }
  if (i < size) out[i] = in[i];
}

void ConvertPcm24(const uint8_t* in, uint8_t* out, size_t size, size_t offset, PeakLevels* peaks) {
  int32_t left = peaks->left;
  int32_t right = peaks->right;
  size_t i = 0;
  if ((offset / kSample24) % 2 == 1 && size >= kSample24) {  // starts with a right sample
    const int32_t value = Swap24(in, out);
    if (value > right) right = value;
    i = kSample24;
  }
  for (; i + kFrame24 <= size; i += kFrame24) {
    const int32_t l = Swap24(in + i, out + i);
    const int32_t r = Swap24(in + i + kSample24, out + i + kSample24);
    if (l > left) left = l;
    if (r > right) right = r;
  }
  if (i + kSample24 <= size) {  // a lone left sample ends the run
    const int32_t value = Swap24(in + i, out + i);
    if (value > left) left = value;
    i += kSample24;
  }
  for (; i < size; ++i) out[i] = in[i];
  peaks->left = left;
  peaks->right = right;
}

}  // namespace vqscw
