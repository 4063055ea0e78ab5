// What the receiver filter does with each datagram: count it, strip its payload header, and
// either lend the payload downstream as it is (compressed audio) or convert linear PCM into
// 50 ms blocks from the PCM pool, tracking the peak level of each channel. Beside that audio
// path, and without changing it, the stream's health (sequence, jitter, silence) is counted.
//
// Threads: Handle runs on the receive thread only. Configuration (Configure, SetPcmPool) happens
// while no receive thread runs; starting and joining that thread orders it with Handle. The
// counters and peaks are written by the receive thread alone and may be read, and the peaks
// reset, from any thread without a lock (a peak raised while it is being reset may be lost). The
// health is published for readers on any thread (SharedStreamHealth).
#ifndef VQSCWLIB_PREVIEW_PACKET_HANDLER_H_
#define VQSCWLIB_PREVIEW_PACKET_HANDLER_H_

#include <atomic>
#include <cstdint>

#include "vqscwlib/platform/event.h"
#include "vqscwlib/preview/buffer_pool.h"
#include "vqscwlib/preview/media_interfaces.h"
#include "vqscwlib/preview/pcm_convert.h"
#include "vqscwlib/preview/sample_pool.h"
#include "vqscwlib/preview/stream_health.h"

namespace vqscw {

// Where filled samples go: the filter's output pin.
class SampleTarget {
 public:
  virtual HRESULT Deliver(IMediaSample* sample) = 0;

 protected:
  ~SampleTarget() = default;
};

class PacketHandler {
 public:
  // `samples`, `target` and `abort` must outlive the handler. A wait for a free sample ends
  // when `abort` is set (the receiver's stop event).
  PacketHandler(CSamplePool* samples, SampleTarget* target, Event* abort);
  ~PacketHandler();
  PacketHandler(const PacketHandler&) = delete;
  PacketHandler& operator=(const PacketHandler&) = delete;

  // `pcm` selects conversion with `bits_per_sample` 16 or 24 (any other width is copied as it
  // is); otherwise payloads are lent downstream in the receive buffer.
  void Configure(PayloadHeaderMode mode, bool pcm, int bits_per_sample);
  // Replaces the PCM block pool (the handler takes a reference of its own; null for none) and
  // drops the partly filled block.
  void SetPcmPool(CBufferPool* pool);
  CBufferPool* pcm_pool() const { return pcm_pool_; }

  // Handles one datagram of buffer->used() bytes. The caller keeps its reference on `buffer`.
  void Handle(CPacketBuffer* buffer);

  // What the health counting takes the stream to carry.
  void ConfigureHealth(const StreamHealthFormat& format) { health_.Configure(format); }
  // The receiver starts again after a stop (see StreamHealth::Restart).
  void RestartHealth() { health_.Restart(); }
  StreamHealthCounts health() const { return health_.Read(); }

  uint32_t packets_received() const { return packets_.load(std::memory_order_relaxed); }
  // The payload bytes as the statistics give them: 32 bits, wrapping at 2^32 (after 4.1 hours of
  // 24-bit stereo at 48000 Hz).
  uint32_t payload_bytes_received() const {
    return static_cast<uint32_t>(payload_bytes_.load(std::memory_order_relaxed));
  }
  // The same count in 64 bits, which does not wrap.
  uint64_t payload_bytes_total() const { return payload_bytes_.load(std::memory_order_relaxed); }
  // For tests: the count the next datagram adds to. REQUIRES: no receive thread runs.
  void set_payload_bytes_for_testing(uint64_t bytes) {
    payload_bytes_.store(bytes, std::memory_order_relaxed);
  }
  PeakLevels peaks() const;
  void ResetPeaks();

 private:
  // Lends `length` bytes at `data` of `buffer` in a sample and delivers it.
  void Deliver(CPacketBuffer* buffer, uint8_t* data, uint32_t length);
  void ConvertInto(const uint8_t* payload, uint32_t length);
  void DropCurrentBlock();

  CSamplePool* const samples_;
  SampleTarget* const target_;
  Event* const abort_;

  PayloadHeaderMode mode_ = HEADER_NONE;
  bool pcm_ = false;
  int bits_per_sample_ = 0;
  CBufferPool* pcm_pool_ = nullptr;
  CPacketBuffer* current_block_ = nullptr;  // partly filled, held by the handler

  // Written by the receive thread only; an atomic load and store stand in for a lock.
  std::atomic<uint32_t> packets_{0};
  std::atomic<uint64_t> payload_bytes_{0};
  std::atomic<int32_t> peak_left_{0};
  std::atomic<int32_t> peak_right_{0};
  SharedStreamHealth health_;  // observed on the receive thread, read anywhere
};

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_PACKET_HANDLER_H_
