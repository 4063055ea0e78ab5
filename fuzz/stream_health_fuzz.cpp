// Any sequence of datagrams, of any length and content, arriving at any times: the stream health
// counting must stay inside each datagram and keep its counts consistent. The input is a series
// of records: a format byte (first record only), then per datagram two bytes of length, two of
// arrival step in microseconds, and the datagram's bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "vqscwlib/preview/stream_health.h"

namespace {

vqscw::StreamHealthFormat FormatOf(uint8_t choice) {
  switch (choice % 4) {
    case 0:
      return vqscw::Rtp24StereoHealthFormat();
    case 1:
      return {12, 44100, 1, 2};  // L16 mono
    case 2:
      return {16, 90000, 0, 0};  // MPEG audio after its payload header
    default:
      return {0, 0, 2, 3};  // no RTP header
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  vqscw::StreamHealth health;
  health.Configure(FormatOf(data[0]));
  size_t at = 1;
  uint64_t arrival = 1000000;
  uint64_t datagrams = 0;
  while (at + 4 <= size) {
    const size_t length = (static_cast<size_t>(data[at]) << 8 | data[at + 1]) % 2048;
    arrival += static_cast<uint64_t>(data[at + 2]) << 8 | data[at + 3];
    at += 4;
    const size_t take = length < size - at ? length : size - at;
    // A copy of exactly the datagram, so the address sanitizer sees any read past its end.
    std::unique_ptr<uint8_t[]> datagram(new uint8_t[take]);
    for (size_t i = 0; i < take; ++i) datagram[i] = data[at + i];
    health.Observe(datagram.get(), take, arrival);
    ++datagrams;
    at += take;
    if (datagrams % 7 == 0 && (data[0] & 0x80) != 0) health.Restart();
  }
  const vqscw::StreamHealthCounts c = health.Counts();
  if (c.packets != datagrams) __builtin_trap();
  if (c.lost > c.expected) __builtin_trap();
  if (c.duplicated + c.reordered + c.unsequenced > c.packets) __builtin_trap();
  if (c.jitter_ms < 0 || c.jitter_ms > c.max_jitter_ms) __builtin_trap();
  return 0;
}
