#include "vqscwlib/preview/sample_pool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "vqscwlib/platform/datagram_socket.h"

HRESULT CPacketSample::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMediaSample || iid == IID_IMediaSample2) {
    *object = static_cast<IMediaSample2*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

uint32_t CPacketSample::AddRef() { return ref_count_.fetch_add(1, std::memory_order_acq_rel) + 1; }

uint32_t CPacketSample::Release() {
  const uint32_t left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left != 0) return left;
  CPacketBuffer* buffer = buffer_;
  buffer_ = nullptr;
  data_ = nullptr;
  length_ = 0;
  if (buffer != nullptr) buffer->Release();
  flags_ = 0;
  DeleteMediaType(media_type_);
  media_type_ = nullptr;
  pool_->Return(this);  // the sample may be handed out again from here on
  return 0;
}

HRESULT CPacketSample::GetPointer(uint8_t** buffer) {
  if (buffer == nullptr) return E_POINTER;
  *buffer = data_;
  return S_OK;
}

int32_t CPacketSample::GetSize() { return length_; }

HRESULT CPacketSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (start == nullptr || stop == nullptr) return E_POINTER;
  if ((flags_ & AM_SAMPLE_TIMEVALID) == 0) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = start_;
  if ((flags_ & AM_SAMPLE_STOPVALID) == 0) {
    *stop = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *stop = stop_;
  return S_OK;
}

HRESULT CPacketSample::SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) {
  if (start == nullptr) {
    flags_ &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    return S_OK;
  }
  start_ = *start;
  flags_ |= AM_SAMPLE_TIMEVALID;
  if (stop != nullptr) {
    stop_ = *stop;
    flags_ |= AM_SAMPLE_STOPVALID;
  } else {
    flags_ &= ~AM_SAMPLE_STOPVALID;
  }
  return S_OK;
}

HRESULT CPacketSample::SetFlag(uint32_t flag, bool on) {
  flags_ = on ? (flags_ | flag) : (flags_ & ~flag);
  return S_OK;
}

HRESULT CPacketSample::IsSyncPoint() {
  return (flags_ & AM_SAMPLE_SPLICEPOINT) != 0 ? S_OK : S_FALSE;
}
HRESULT CPacketSample::SetSyncPoint(bool sync_point) {
  return SetFlag(AM_SAMPLE_SPLICEPOINT, sync_point);
}
HRESULT CPacketSample::IsPreroll() { return (flags_ & AM_SAMPLE_PREROLL) != 0 ? S_OK : S_FALSE; }
HRESULT CPacketSample::SetPreroll(bool preroll) { return SetFlag(AM_SAMPLE_PREROLL, preroll); }
HRESULT CPacketSample::IsDiscontinuity() {
  return (flags_ & AM_SAMPLE_DATADISCONTINUITY) != 0 ? S_OK : S_FALSE;
}
HRESULT CPacketSample::SetDiscontinuity(bool discontinuity) {
  return SetFlag(AM_SAMPLE_DATADISCONTINUITY, discontinuity);
}

int32_t CPacketSample::GetActualDataLength() { return length_; }

HRESULT CPacketSample::SetActualDataLength(int32_t length) {
  if (length > length_) return VFW_E_BUFFER_OVERFLOW;
  if (length < 0) return E_INVALIDARG;
  length_ = length;
  return S_OK;
}

HRESULT CPacketSample::GetMediaType(AM_MEDIA_TYPE** type) {
  if (type == nullptr) return E_POINTER;
  *type = nullptr;
  if (media_type_ == nullptr) return S_FALSE;
  *type = CreateMediaType(*media_type_);
  return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPacketSample::SetMediaType(const AM_MEDIA_TYPE* type) {
  DeleteMediaType(media_type_);
  media_type_ = nullptr;
  flags_ &= ~AM_SAMPLE_TYPECHANGED;
  if (type == nullptr) return S_OK;
  media_type_ = CreateMediaType(*type);
  if (media_type_ == nullptr) return E_OUTOFMEMORY;
  flags_ |= AM_SAMPLE_TYPECHANGED;
  return S_OK;
}

HRESULT CPacketSample::GetMediaTime(int64_t* start, int64_t* stop) {
  if (start == nullptr || stop == nullptr) return E_POINTER;
  if ((flags_ & kMediaTimeValid) == 0) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = media_start_;
  *stop = media_stop_;
  return S_OK;
}

HRESULT CPacketSample::SetMediaTime(const int64_t* start, const int64_t* stop) {
  if (start == nullptr) {
    flags_ &= ~kMediaTimeValid;
    return S_OK;
  }
  if (stop == nullptr) return E_POINTER;
  media_start_ = *start;
  media_stop_ = *stop;
  flags_ |= kMediaTimeValid;
  return S_OK;
}

HRESULT CPacketSample::GetProperties(uint32_t size, uint8_t* properties) {
  if (size == 0) return S_OK;
  if (properties == nullptr) return E_POINTER;
  AM_SAMPLE2_PROPERTIES record{};
  record.cbData = sizeof record;
  record.dwSampleFlags = flags_ & ~kMediaTimeValid;
  record.lActual = length_;
  record.tStart = start_;
  record.tStop = stop_;
  record.pMediaType = media_type_;
  record.pbBuffer = data_;
  record.cbBuffer = length_;
  std::memcpy(properties, &record, std::min<size_t>(size, sizeof record));
  return S_OK;
}

HRESULT CPacketSample::SetProperties(uint32_t, const uint8_t*) { return E_NOTIMPL; }

CSamplePool::CSamplePool(IUnknown* owner, uint32_t count) : owner_(owner) {
  samples_.reset(new (std::nothrow) CPacketSample[count]);
  if (!samples_) return;
  vqscw::MutexLock lock(&mu_);
  for (uint32_t i = count; i-- > 0;) {
    samples_[i].pool_ = this;
    samples_[i].next_free_ = free_;
    free_ = &samples_[i];
  }
  free_count_ = count;
}

CSamplePool::~CSamplePool() = default;

uint32_t CSamplePool::free_count() const {
  vqscw::MutexLock lock(&mu_);
  return free_count_;
}

CPacketSample* CSamplePool::Get(CPacketBuffer* buffer, uint8_t* data, int32_t length,
                                vqscw::Event* abort) {
  CPacketSample* sample = nullptr;
  for (;;) {
    {
      vqscw::MutexLock lock(&mu_);
      if (free_ != nullptr) {
        sample = free_;
        free_ = sample->next_free_;
        sample->next_free_ = nullptr;
        --free_count_;
        break;
      }
      // Reset under the lock: a sample that comes back after this sets the event again.
      returned_.Reset();
    }
    vqscw::SocketWait wait(abort);
    wait.Add(&returned_);
    if (abort != nullptr && abort->IsSet()) return nullptr;
    if (wait.Wait(vqscw::SocketWait::kForever) == vqscw::WaitResult::kFailed) return nullptr;
    if (abort != nullptr && abort->IsSet()) return nullptr;
  }
  sample->ref_count_.store(1, std::memory_order_relaxed);
  sample->buffer_ = buffer;
  sample->data_ = data;
  sample->length_ = length;
  if (buffer != nullptr) buffer->AddRef();
  if (owner_ != nullptr) owner_->AddRef();
  return sample;
}

void CSamplePool::Return(CPacketSample* sample) {
  IUnknown* owner = owner_;
  {
    vqscw::MutexLock lock(&mu_);
    sample->next_free_ = free_;
    free_ = sample;
    ++free_count_;
    returned_.Set();
  }
  // Last: the owner may be destroyed here, and this pool with it.
  if (owner != nullptr) owner->Release();
}
