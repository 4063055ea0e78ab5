// Media samples that lend a region of a pooled buffer, and the fixed pool they come from.
//
// A sample handed out by CSamplePool::Get holds a reference on the buffer it lends and one on the
// pool's owner (the receiver filter), so neither goes away while the sample is downstream. When
// the sample's count drops to zero it releases both, forgets its flags, times and media type,
// and goes back to the pool, waking a thread that waits for one.
//
// Threads: a sample is filled by the thread that got it; AddRef and Release may be called from
// any thread; the other sample operations belong to whoever holds the sample.
#ifndef VQSCWLIB_PREVIEW_SAMPLE_POOL_H_
#define VQSCWLIB_PREVIEW_SAMPLE_POOL_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/platform/event.h"
#include "vqscwlib/preview/buffer_pool.h"
#include "vqscwlib/preview/media_interfaces.h"

class CSamplePool;

class CPacketSample final : public IMediaSample2 {
 public:
  CPacketSample() = default;
  CPacketSample(const CPacketSample&) = delete;
  CPacketSample& operator=(const CPacketSample&) = delete;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT GetPointer(uint8_t** buffer) override;
  int32_t GetSize() override;
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) override;
  HRESULT IsSyncPoint() override;
  HRESULT SetSyncPoint(bool sync_point) override;
  HRESULT IsPreroll() override;
  HRESULT SetPreroll(bool preroll) override;
  int32_t GetActualDataLength() override;
  HRESULT SetActualDataLength(int32_t length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT IsDiscontinuity() override;
  HRESULT SetDiscontinuity(bool discontinuity) override;
  HRESULT GetMediaTime(int64_t* start, int64_t* stop) override;
  HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) override;
  HRESULT GetProperties(uint32_t size, uint8_t* properties) override;
  HRESULT SetProperties(uint32_t size, const uint8_t* properties) override;

  // The buffer whose region the sample lends.
  CPacketBuffer* buffer() const { return buffer_; }

 private:
  friend class CSamplePool;

  // Our own flag beside the AM_SAMPLE_* bits: media start and stop are set.
  static constexpr uint32_t kMediaTimeValid = 0x10000;

  HRESULT SetFlag(uint32_t flag, bool on);

  std::atomic<uint32_t> ref_count_{0};
  CSamplePool* pool_ = nullptr;
  uint32_t flags_ = 0;
  uint8_t* data_ = nullptr;
  int32_t length_ = 0;
  CPacketBuffer* buffer_ = nullptr;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  int64_t media_start_ = 0;
  int64_t media_stop_ = 0;
  AM_MEDIA_TYPE* media_type_ = nullptr;
  CPacketSample* next_free_ = nullptr;  // guarded by the pool's lock while the sample is free
};

class CSamplePool {
 public:
  static constexpr uint32_t kDefaultCount = 10;

  // `owner` (may be null) gets a reference for every sample that is out. Check valid().
  explicit CSamplePool(IUnknown* owner, uint32_t count = kDefaultCount);
  // REQUIRES: every sample is back.
  ~CSamplePool();
  CSamplePool(const CSamplePool&) = delete;
  CSamplePool& operator=(const CSamplePool&) = delete;

  bool valid() const { return samples_ != nullptr && returned_.valid(); }

  // Waits until a sample is free and returns it with a count of 1, lending `length` bytes at
  // `data` of `buffer` (which gets a reference of the sample's). The wait has no limit unless
  // `abort` (optional) is set first: then null. No flags and no times are set.
  CPacketSample* Get(CPacketBuffer* buffer, uint8_t* data, int32_t length, vqscw::Event* abort);

  uint32_t free_count() const;

 private:
  friend class CPacketSample;

  // Takes back a sample whose count reached zero and wakes a waiting taker.
  void Return(CPacketSample* sample);

  IUnknown* const owner_;
  std::unique_ptr<CPacketSample[]> samples_;
  vqscw::Event returned_{vqscw::Event::ResetMode::kManual, true};  // set when a sample comes back

  mutable vqscw::Mutex mu_;
  CPacketSample* free_ GUARDED_BY(mu_) = nullptr;
  uint32_t free_count_ GUARDED_BY(mu_) = 0;
};

#endif  // VQSCWLIB_PREVIEW_SAMPLE_POOL_H_
