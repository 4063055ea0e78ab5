// Any bytes at all as an SDP text: the scanner must stay inside the buffer and give a
// description it could have been given by a well-formed text.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "vqscwlib/preview/stream_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so the address sanitizer sees any read past the end.
  std::unique_ptr<uint8_t[]> text(new uint8_t[size]);
  for (size_t i = 0; i < size; ++i) text[i] = data[i];
  const StreamDescription description = ScanStreamDescription(text.get(), size);
  if (description.headerMode < HEADER_NONE || description.headerMode > HEADER_UDP_MPA) {
    __builtin_trap();
  }
  if (description.formatSet && description.subType != MEDIASUBTYPE_PCM &&
      description.subType != MEDIASUBTYPE_MP3) {
    __builtin_trap();
  }
  if (description.majorType != GUID_NULL && description.majorType != MEDIATYPE_Audio) {
    __builtin_trap();
  }
  return 0;
}
