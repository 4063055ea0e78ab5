#include "vqscwlib/preview/packet_handler.h"

#include <algorithm>

namespace vqscw {

PacketHandler::PacketHandler(CSamplePool* samples, SampleTarget* target, Event* abort)
    : samples_(samples), target_(target), abort_(abort) {}

PacketHandler::~PacketHandler() { SetPcmPool(nullptr); }

void PacketHandler::Configure(PayloadHeaderMode mode, bool pcm, int bits_per_sample) {
  mode_ = mode;
  pcm_ = pcm;
  bits_per_sample_ = bits_per_sample;
}

void PacketHandler::SetPcmPool(CBufferPool* pool) {
  DropCurrentBlock();
  if (pool != nullptr) pool->AddRef();
  if (pcm_pool_ != nullptr) pcm_pool_->Release();
  pcm_pool_ = pool;
}

void PacketHandler::DropCurrentBlock() {
  if (current_block_ != nullptr) current_block_->Release();
  current_block_ = nullptr;
}

PeakLevels PacketHandler::peaks() const {
  return {peak_left_.load(std::memory_order_relaxed), peak_right_.load(std::memory_order_relaxed)};
}

void PacketHandler::ResetPeaks() {
  peak_left_.store(0, std::memory_order_relaxed);
  peak_right_.store(0, std::memory_order_relaxed);
}

void PacketHandler::Handle(CPacketBuffer* buffer) {
  // Single writer: a plain load and store, no locked read-modify-write.
  packets_.store(packets_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  const uint32_t header = static_cast<uint32_t>(PayloadHeaderBytes(mode_));
  const uint32_t used = std::min(buffer->used(), buffer->capacity());
  // Before the audio path, which may hand the buffer downstream.
  health_.Observe(buffer->data(), used, buffer->arrival_us());
  if (used < header) return;  // no payload: counted as a packet, nothing more
  uint8_t* payload = buffer->data() + header;
  const uint32_t length = used - header;
  payload_bytes_.store(payload_bytes_.load(std::memory_order_relaxed) + length,
                       std::memory_order_relaxed);
  if (length == 0) return;
  if (!pcm_) {
    Deliver(buffer, payload, length);  // lent in place: nothing is copied
    return;
  }
  ConvertInto(payload, length);
}

void PacketHandler::Deliver(CPacketBuffer* buffer, uint8_t* data, uint32_t length) {
  CPacketSample* sample = samples_->Get(buffer, data, static_cast<int32_t>(length), abort_);
  if (sample == nullptr) return;  // stopping
  target_->Deliver(sample);
  sample->Release();
}

void PacketHandler::ConvertInto(const uint8_t* payload, uint32_t length) {
  PeakLevels peaks = this->peaks();
  const PeakLevels before = peaks;
  while (length > 0) {
    if (current_block_ == nullptr) {
      current_block_ = pcm_pool_ != nullptr ? pcm_pool_->Get(nullptr, 0) : nullptr;
      if (current_block_ == nullptr) break;  // every block is downstream: drop the rest
      current_block_->set_used(0);
    }
    CPacketBuffer* block = current_block_;
    const uint32_t offset = block->used();
    const uint32_t n = std::min(length, block->capacity() - offset);
    uint8_t* out = block->data() + offset;
    if (bits_per_sample_ == 16) {
      ConvertPcm16(payload, out, n);
    } else if (bits_per_sample_ == 24) {
      ConvertPcm24(payload, out, n, offset, &peaks);
    } else {
      std::copy(payload, payload + n, out);
    }
    block->set_used(offset + n);
    payload += n;
    length -= n;
    if (block->used() == block->capacity()) {
      current_block_ = nullptr;
      Deliver(block, block->data(), block->capacity());
      block->Release();  // back to the pool once downstream lets go of the sample
    }
  }
  if (peaks.left != before.left) peak_left_.store(peaks.left, std::memory_order_relaxed);
  if (peaks.right != before.right) peak_right_.store(peaks.right, std::memory_order_relaxed);
}

}  // namespace vqscw
