// RTP streaming of a software terminal's sources: each source's audio goes out in 1 ms packets
// (48 stereo frames at 48000 Hz) with a proper RTP header (version 2, sequence and timestamp
// counting up, one SSRC per source) to the source's preview group and to its stream group.
#ifndef TOOLS_TERMINAL_RTP_STREAM_H_
#define TOOLS_TERMINAL_RTP_STREAM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/terminal/audio_source.h"
#include "vqscw/host.h"
#include "vqscwlib/platform/datagram_socket.h"

namespace vqscw::tools {

constexpr int kFramesPerPacket = kSampleRate / 1000;  // 1 ms
constexpr size_t kRtpHeaderBytes = 12;
constexpr uint8_t kPayloadTypeL24 = 96;
constexpr uint8_t kPayloadTypeL16 = 97;
constexpr size_t kMaxRtpPacketBytes = kRtpHeaderBytes + kFramesPerPacket * kChannels * 3;

struct RtpHeader {
  uint8_t payload_type = kPayloadTypeL24;
  bool marker = false;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
};

// Writes the 12-byte header and `frames` stereo frames of 24-bit values as big-endian samples of
// `bytes_per_sample` bytes (3: L24; 2: L16, the top 16 bits) to `out`, which holds at least
// kMaxRtpPacketBytes. Returns the packet's length.
size_t WriteRtpPacket(const RtpHeader& header, const int32_t* samples, int frames,
                      int bytes_per_sample, uint8_t* out);

struct StreamSetup {
  uint32_t preview_group = 0;        // host order; 0: not sent
  uint32_t stream_group = 0;         // host order; 0: not sent
  bool l16_to_stream_group = false;  // 16-bit samples (payload 97) to the stream group
  std::unique_ptr<AudioSource> audio;
};

// Sends the streams from one thread of its own, paced by the monotonic clock. Owned by one
// thread; Stop (or destruction) joins the sending thread.
class RtpStreamer {
 public:
  RtpStreamer() = default;
  ~RtpStreamer();
  RtpStreamer(const RtpStreamer&) = delete;
  RtpStreamer& operator=(const RtpStreamer&) = delete;

  // Opens the sending socket on the card `interface_address` (network order as held in memory).
  bool Open(uint32_t interface_address, std::string* error);
  // REQUIRES: not started.
  void Add(StreamSetup setup);
  // Starts sending; the thread runs with every signal blocked, so signals reach the caller.
  void Start();
  void Stop();

  // Packets sent to either group, and sends that failed. Safe from any thread.
  uint64_t PacketsSent() const { return sent_.load(std::memory_order_relaxed); }
  uint64_t SendFailures() const { return failures_.load(std::memory_order_relaxed); }

 private:
  struct Stream {
    StreamSetup setup;
    RtpHeader header;
  };
  void Run();
  void SendPacket(Stream* stream, bool first);

  DatagramSocket socket_;
  std::vector<Stream> streams_;
  std::thread thread_;
  std::atomic<bool> stop_{false};  // set by the owner's thread, read by the sending thread
  std::atomic<uint64_t> sent_{0};
  std::atomic<uint64_t> failures_{0};
};

}  // namespace vqscw::tools

#endif  // TOOLS_TERMINAL_RTP_STREAM_H_
