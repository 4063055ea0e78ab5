#include "vqscwlib/preview/buffer_pool.h"

#include <new>

void CPacketBuffer::Release() {
  // acq_rel: the holder's writes into the buffer happen before the next holder's reads.
  if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1) pool_->Return(this);
}

CBufferPool* CBufferPool::Create(uint32_t count, uint32_t size) {
  if (count == 0 || size == 0) return nullptr;
  auto* pool = new (std::nothrow) CBufferPool(count, size);
  if (pool == nullptr) return nullptr;
  pool->memory_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(count) * size]);
  pool->buffers_.reset(new (std::nothrow) CPacketBuffer[count]);
  if (!pool->memory_ || !pool->buffers_) {
    delete pool;
    return nullptr;
  }
  vqscw::MutexLock lock(&pool->mu_);
  for (uint32_t i = count; i-- > 0;) {
    CPacketBuffer& buffer = pool->buffers_[i];
    buffer.data_ = pool->memory_.get() + static_cast<size_t>(i) * size;
    buffer.capacity_ = size;
    buffer.pool_ = pool;
    buffer.next_free_ = pool->free_;
    pool->free_ = &buffer;
  }
  pool->free_count_ = count;
  return pool;
}

CBufferPool::CBufferPool(uint32_t count, uint32_t size) : count_(count), size_(size) {}

void CBufferPool::Release() {
  if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

uint32_t CBufferPool::free_count() const {
  vqscw::MutexLock lock(&mu_);
  return free_count_;
}

CPacketBuffer* CBufferPool::PopLocked() {
  CPacketBuffer* buffer = free_;
  if (buffer == nullptr) return nullptr;
  free_ = buffer->next_free_;
  buffer->next_free_ = nullptr;
  --free_count_;
  buffer->ref_count_.store(1, std::memory_order_relaxed);
  AddRef();  // held by the buffer while it is out
  return buffer;
}

CPacketBuffer* CBufferPool::Get(vqscw::Event* event, int timeout_ms) {
  Waiter waiter{event, nullptr, nullptr};
  {
    vqscw::MutexLock lock(&mu_);
    if (CPacketBuffer* buffer = PopLocked()) return buffer;
    if (event == nullptr) return nullptr;
    event->Reset();
    Waiter** tail = &waiters_;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = &waiter;
  }
  event->Wait(timeout_ms);
  vqscw::MutexLock lock(&mu_);
  if (waiter.buffer == nullptr) {
    // Not served: leave the queue. A buffer handed over after this point goes elsewhere.
    for (Waiter** link = &waiters_; *link != nullptr; link = &(*link)->next) {
      if (*link == &waiter) {
        *link = waiter.next;
        break;
      }
    }
  }
  return waiter.buffer;
}

void CBufferPool::Return(CPacketBuffer* buffer) {
  {
    vqscw::MutexLock lock(&mu_);
    if (Waiter* waiter = waiters_) {
      // The buffer goes straight to the waiter and keeps its reference on the pool.
      waiters_ = waiter->next;
      buffer->ref_count_.store(1, std::memory_order_relaxed);
      waiter->buffer = buffer;
      waiter->event->Set();
      return;
    }
    buffer->next_free_ = free_;
    free_ = buffer;
    ++free_count_;
  }
  Release();  // the reference the buffer held while it was out; may delete the pool
}
