// A test's RTP sender with chosen faults: it streams L24/48000/2 as a terminal does (1 ms packets
// of 48 frames, a 1000 Hz tone at a quarter of full scale, sequence numbers and timestamps
// counting up) to one multicast group through loopback, and drops, repeats or swaps the packets a
// test chooses, so that every count of a receiver's health can be checked exactly.
#ifndef TESTS_SUPPORT_IMPAIRED_RTP_SENDER_H_
#define TESTS_SUPPORT_IMPAIRED_RTP_SENDER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "tests/support/loopback_sender.h"

namespace vqscw::testing {

// Packet indexes (0 = the first of the stream) to drop, to send twice in a row, and to swap with
// the next one (index i+1 goes out before i). The sets must not touch: no index in two of them,
// and neither i nor i+1 of a swap in another.
struct RtpImpairments {
  std::set<int> drop;
  std::set<int> duplicate;
  std::set<int> swap;
};

// `drops`, `duplicates` and `swaps` faults spread evenly over `packets`, taking turns (a drop, a
// repeat, a swap, ...) while each kind lasts, far enough apart that no two meet.
inline RtpImpairments SpreadImpairments(int packets, int drops, int duplicates, int swaps) {
  RtpImpairments plan;
  const int total = drops + duplicates + swaps;
  if (total == 0) return plan;
  const int spacing = packets / total;
  int left[3] = {drops, duplicates, swaps};
  for (int k = 0, kind = 0; k < total; ++k) {
    while (left[kind] == 0) kind = (kind + 1) % 3;
    const int at = spacing / 2 + k * spacing;
    (kind == 0 ? plan.drop : kind == 1 ? plan.duplicate : plan.swap).insert(at);
    --left[kind];
    kind = (kind + 1) % 3;
  }
  return plan;
}

class ImpairedRtpSender {
 public:
  static constexpr int kFramesPerPacket = 48;
  static constexpr int kHeaderBytes = 12;
  static constexpr int kPacketBytes = kHeaderBytes + kFramesPerPacket * 6;
  static constexpr double kToneAmplitude = 0.25;  // -12.0 dBFS
  static constexpr double kToneHz = 1000;
  static constexpr int kRate = 48000;

  // Sends to `group` (network order) and `port` (host order) from loopback.
  ImpairedRtpSender(uint32_t group, uint16_t port) : sender_(group, port) {}
  ImpairedRtpSender(const ImpairedRtpSender&) = delete;
  ImpairedRtpSender& operator=(const ImpairedRtpSender&) = delete;

  uint16_t first_sequence = 65000;  // wraps within the first few hundred packets
  uint32_t first_timestamp = 0xFFFF0000u;
  uint32_t ssrc = 0x5EED1234;
  int spacing_us = 1000;  // between packet times, as a terminal sends

  // Sends packets 0 to `count` - 1 with `faults`, each at its time (a swapped pair goes out at
  // the second one's time, a repeat right after the original). Returns the datagrams sent, or -1
  // when a send failed.
  int Send(int count, const RtpImpairments& faults) {
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    int sent = 0;
    for (int i = 0; i < count; ++i) {
      if (faults.swap.count(i) != 0 && i + 1 < count) {
        Wait(&next);
        Wait(&next);
        if (!SendPacket(i + 1) || !SendPacket(i)) return -1;
        sent += 2;
        ++i;
        continue;
      }
      Wait(&next);
      if (faults.drop.count(i) != 0) continue;
      const int copies = faults.duplicate.count(i) != 0 ? 2 : 1;
      for (int c = 0; c < copies; ++c) {
        if (!SendPacket(i)) return -1;
        ++sent;
      }
    }
    return sent;
  }

 private:
  bool SendPacket(int index) {
    uint8_t packet[kPacketBytes] = {0x80, 96};
    const auto sequence = static_cast<uint16_t>(first_sequence + index);
    const uint32_t timestamp = first_timestamp + static_cast<uint32_t>(index * kFramesPerPacket);
    packet[2] = static_cast<uint8_t>(sequence >> 8);
    packet[3] = static_cast<uint8_t>(sequence);
    for (int b = 0; b < 4; ++b) {
      packet[4 + b] = static_cast<uint8_t>(timestamp >> (24 - 8 * b));
      packet[8 + b] = static_cast<uint8_t>(ssrc >> (24 - 8 * b));
    }
    for (int f = 0; f < kFramesPerPacket; ++f) {
      const double phase = 2 * M_PI * kToneHz * (index * kFramesPerPacket + f) / kRate;
      const auto value =
          static_cast<int32_t>(std::lround(std::sin(phase) * kToneAmplitude * 8388608));
      for (int c = 0; c < 2; ++c) {
        uint8_t* out = packet + kHeaderBytes + f * 6 + c * 3;
        out[0] = static_cast<uint8_t>(value >> 16);
        out[1] = static_cast<uint8_t>(value >> 8);
        out[2] = static_cast<uint8_t>(value);
      }
    }
    return sender_.Send(packet, sizeof packet);
  }

  void Wait(timespec* next) const {
    next->tv_nsec += spacing_us * 1000L;
    while (next->tv_nsec >= 1000000000L) {
      next->tv_nsec -= 1000000000L;
      ++next->tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, next, nullptr) == EINTR) {
    }
  }

  LoopbackSender sender_;
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_IMPAIRED_RTP_SENDER_H_
