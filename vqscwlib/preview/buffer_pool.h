// Fixed pools of equal-sized byte buffers for the receive path: datagram buffers and PCM blocks.
//
// A buffer handed out by Get has a reference count of 1; every holder adds one and releases it.
// When the count drops to zero the buffer goes back to its pool: to the first thread waiting for
// one, or on top of the free list (the buffer returned last is handed out first). Nothing is
// allocated after the pool is created.
//
// The pool is reference counted as well: its creator holds one reference and every buffer that
// is out holds one, so a pool that is replaced while its buffers are still downstream lives until
// the last of them comes back.
//
// Threads: Get, AddRef and Release may be called from any thread.
#ifndef VQSCWLIB_PREVIEW_BUFFER_POOL_H_
#define VQSCWLIB_PREVIEW_BUFFER_POOL_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/platform/event.h"

class CBufferPool;

class CPacketBuffer {
 public:
  CPacketBuffer() = default;
  CPacketBuffer(const CPacketBuffer&) = delete;
  CPacketBuffer& operator=(const CPacketBuffer&) = delete;

  uint8_t* data() const { return data_; }
  uint32_t capacity() const { return capacity_; }

  // Bytes received (receive buffer) or filled so far (PCM block). Belongs to the holder that
  // fills the buffer.
  uint32_t used() const { return used_; }
  void set_used(uint32_t used) { used_ = used; }

  // When the datagram in a receive buffer arrived, on the MonotonicMicroseconds clock. Set by the
  // receiver with used().
  uint64_t arrival_us() const { return arrival_us_; }
  void set_arrival_us(uint64_t arrival_us) { arrival_us_ = arrival_us; }

  // acq_rel, not relaxed: the last holder may be on a thread that synchronised with this one only
  // through this count (a GStreamer thread freeing the buffer that wraps a sample).
  void AddRef() { ref_count_.fetch_add(1, std::memory_order_acq_rel); }
  // Drops one reference; the last one returns the buffer to its pool.
  void Release();

 private:
  friend class CBufferPool;

  uint8_t* data_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t used_ = 0;
  uint64_t arrival_us_ = 0;
  std::atomic<int32_t> ref_count_{0};
  CBufferPool* pool_ = nullptr;
  CPacketBuffer* next_free_ = nullptr;  // guarded by the pool's lock while the buffer is free
};

class CBufferPool {
 public:
  // A pool of `count` buffers of `size` bytes each, with one reference for the caller; null when
  // the memory cannot be allocated or count or size is 0.
  static CBufferPool* Create(uint32_t count, uint32_t size);

  CBufferPool(const CBufferPool&) = delete;
  CBufferPool& operator=(const CBufferPool&) = delete;

  void AddRef() { ref_count_.fetch_add(1, std::memory_order_acq_rel); }
  void Release();

  // Pops a free buffer with a reference count of 1. With no free buffer and no event, returns
  // null at once. With an event, registers the caller as a waiter (the event is reset first and
  // is set when a buffer is handed over), waits up to `timeout_ms` (vqscw::Event::kInfinite: no
  // limit) and returns the buffer handed over, or null. The event must be the caller's own.
  CPacketBuffer* Get(vqscw::Event* event, int timeout_ms);

  uint32_t buffer_size() const { return size_; }
  uint32_t buffer_count() const { return count_; }
  // Buffers on the free list now.
  uint32_t free_count() const;

 private:
  friend class CPacketBuffer;

  struct Waiter {
    vqscw::Event* event;
    CPacketBuffer* buffer;  // handed over by Return, guarded by the pool's lock
    Waiter* next;
  };

  CBufferPool(uint32_t count, uint32_t size);
  ~CBufferPool() = default;

  // Takes back a buffer whose count reached zero.
  void Return(CPacketBuffer* buffer);
  CPacketBuffer* PopLocked() REQUIRES(mu_);

  const uint32_t count_;
  const uint32_t size_;
  std::atomic<int32_t> ref_count_{1};
  std::unique_ptr<uint8_t[]> memory_;
  std::unique_ptr<CPacketBuffer[]> buffers_;

  mutable vqscw::Mutex mu_;
  CPacketBuffer* free_ GUARDED_BY(mu_) = nullptr;
  uint32_t free_count_ GUARDED_BY(mu_) = 0;
  Waiter* waiters_ GUARDED_BY(mu_) = nullptr;  // first registered first
};

#endif  // VQSCWLIB_PREVIEW_BUFFER_POOL_H_
