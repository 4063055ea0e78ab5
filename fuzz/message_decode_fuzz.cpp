// Feeds arbitrary bodies to the message decoder, then renders, re-encodes and re-decodes whatever
// was accepted. Aborts when the codec contradicts itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/message.h"

namespace {

// Every field takes at least six bytes, so a body this long holds at most about 1400 fields.
constexpr size_t kMaxCopiedBody = 8192;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The dump prints unknown field types to standard output; keep the fuzzer's output readable.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so a read past the body is caught even for inputs from a larger pool.
  std::vector<uint8_t> body(data, data + size);
  CMessage message;
  const uint16_t consumed = message.Decode(body.data(), static_cast<uint32_t>(body.size()));
  if (consumed == 0) {
    if (message.Count() != 0) abort();
    return 0;
  }
  if (consumed > size) abort();

  std::vector<char> text(MessageDumpSize(message));
  Message2String(&message, text.data(), kDumpTagHex | kDumpTagText);
  if (std::strlen(text.data()) + 1 > text.size()) abort();

  std::vector<uint8_t> encoded(message.EncodedSize());
  const uint16_t written = message.Encode(encoded.data());
  // Lists cut short or emptied by the decoder re-encode a little larger than they arrived, so a
  // body near the limit may no longer be encodable; that must be reported, never half written.
  const bool too_large = written == 0 && encoded.size() == 0xFFFF;
  if (written != encoded.size() && !too_large) abort();
  CMessage again;
  if (!too_large && again.Decode(encoded.data(), written) != written) abort();
  // A copy re-adds every field through the setters, each of which looks for the tag first: its
  // cost grows with the square of a list's length, so only bodies of ordinary length are copied.
  if (size <= kMaxCopiedBody) CMessage copy(message);
  return 0;
}
