// The receiver filter's health interface: how well the stream arrives, beside the statistics
// interface's counters (which it leaves as they are). Loss, duplicates, reordering and jitter
// come from the RTP header of every datagram (header modes HEADER_RTP and HEADER_RTP_MPA);
// silence from the PCM audio's levels. See vqscwlib/preview/stream_health.h for how each is
// counted.
//
// Counts start with the filter and are kept across a stop and a new start; what the sender sent
// while the filter was stopped is not counted lost, and the pause is no gap.
#ifndef VQSCWLIB_PREVIEW_RECEIVER_HEALTH_H_
#define VQSCWLIB_PREVIEW_RECEIVER_HEALTH_H_

#include <cstdint>

#include "vqscwlib/base/com.h"

// {58F65308-5804-4883-8AA3-7D2F759C6CC1}
constexpr IID IID_INetworkReceiverHealth = {
    0x58F65308, 0x5804, 0x4883, {0x8A, 0xA3, 0x7D, 0x2F, 0x75, 0x9C, 0x6C, 0xC1}};

// Filled by INetworkReceiverHealth::GetHealth.
struct ReceiverHealth {
  uint64_t packets;         // datagrams received without error, duplicates included
  uint64_t payloadBytes;    // their bytes after the payload header; does not wrap
  uint32_t bytesPerSecond;  // nAvgBytesPerSec of the output format
  uint32_t ssrc;            // SSRC of the last RTP datagram (0 before any)
  uint64_t expected;        // sequence numbers from the first to the highest
  uint64_t lost;            // of those, the ones that have not arrived (late ones are not lost)
  uint64_t duplicated;      // datagrams whose sequence number had already arrived
  uint64_t reordered;       // datagrams that arrived after a higher number, not duplicates
  uint64_t unsequenced;     // datagrams too late to place, lone jumps, or not RTP
  uint32_t ssrcChanges;     // times the sending source changed
  int32_t silent;           // 1: nothing reached -60 dBFS in the last 2 s of PCM audio, else 0
  double jitterMs;          // interarrival jitter now, in milliseconds
  double maxJitterMs;       // the highest it has been
  double longestGapMs;      // the longest time between two datagrams
};

// Health of the received stream. Read without the filter's lock, from any thread; the counts
// are a consistent copy as of one datagram.
struct INetworkReceiverHealth : IUnknown {
  // S_OK with *health filled; E_POINTER for null.
  virtual HRESULT GetHealth(ReceiverHealth* health) = 0;

 protected:
  ~INetworkReceiverHealth() = default;
};

#endif  // VQSCWLIB_PREVIEW_RECEIVER_HEALTH_H_
