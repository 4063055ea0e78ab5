#include "vqscwlib/preview/output_pin.h"

#include <cstring>

#include "vqscwlib/preview/receiver_filter.h"

HRESULT CReceiverAllocator::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
    *object = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

uint32_t CReceiverAllocator::AddRef() { return filter_->AddRef(); }
uint32_t CReceiverAllocator::Release() { return filter_->Release(); }

HRESULT CReceiverAllocator::SetProperties(const ALLOCATOR_PROPERTIES*,
                                          ALLOCATOR_PROPERTIES* actual) {
  return GetProperties(actual);  // the pools are fixed: the request changes nothing
}

HRESULT CReceiverAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (properties == nullptr) return E_POINTER;
  properties->cBuffers = kBuffers;
  properties->cbBuffer = kBufferSize;
  properties->cbAlign = 1;
  properties->cbPrefix = 0;
  return S_OK;
}

CNetworkReceiverOutputPin::CNetworkReceiverOutputPin(CNetworkReceiverFilter* filter)
    : filter_(filter) {}

CNetworkReceiverOutputPin::~CNetworkReceiverOutputPin() {
  // A connected pin keeps its filter alive, so only a peer's leftovers can remain here.
  if (input_ != nullptr) input_->Release();
  if (connected_ != nullptr) connected_->Release();
  FreeMediaType(connection_type_);
}

HRESULT CNetworkReceiverOutputPin::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IPin) {
    *object = static_cast<IPin*>(this);
  } else if (iid == IID_IAMPushSource) {
    *object = static_cast<IAMPushSource*>(this);
  } else {
    // A peer that looks for a pull-mode reader cannot use this pin; CompleteConnect refuses it.
    if (iid == IID_IAsyncReader) pull_reader_requested_ = true;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

uint32_t CNetworkReceiverOutputPin::AddRef() { return filter_->AddRef(); }
uint32_t CNetworkReceiverOutputPin::Release() { return filter_->Release(); }

HRESULT CNetworkReceiverOutputPin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) {
  if (receive_pin == nullptr) return E_POINTER;
  vqscw::FilterLockHolder lock(filter_->lock());
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (type != nullptr && type->majortype != GUID_NULL && type->subtype != GUID_NULL &&
      type->formattype != GUID_NULL) {
    return AttemptConnection(receive_pin, *type);
  }
  AM_MEDIA_TYPE offered{};
  if (GetMediaType(0, &offered) != S_OK) return VFW_E_NO_ACCEPTABLE_TYPES;
  HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
  // A partial type narrows the choice to types that match what it gives.
  const bool matches =
      type == nullptr || ((type->majortype == GUID_NULL || type->majortype == offered.majortype) &&
                          (type->subtype == GUID_NULL || type->subtype == offered.subtype));
  if (matches) hr = AttemptConnection(receive_pin, offered);
  FreeMediaType(offered);
  return hr;
}

HRESULT CNetworkReceiverOutputPin::AttemptConnection(IPin* receive_pin, const AM_MEDIA_TYPE& type) {
  HRESULT hr = CheckConnect(receive_pin);
  if (FAILED(hr)) {
    BreakConnection();
    return hr;
  }
  if (CheckMediaType(type) != S_OK) {
    BreakConnection();
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  connected_ = receive_pin;
  connected_->AddRef();
  hr = CopyMediaType(&connection_type_, type);
  if (SUCCEEDED(hr)) hr = receive_pin->ReceiveConnection(this, &connection_type_);
  if (FAILED(hr)) {
    BreakConnection();
    return hr;
  }
  hr = CompleteConnect(receive_pin);
  if (FAILED(hr)) {
    receive_pin->Disconnect();
    BreakConnection();
    return hr;
  }
  return S_OK;
}

void CNetworkReceiverOutputPin::BreakConnection() {
  if (allocator_ != nullptr) allocator_->Release();
  allocator_ = nullptr;
  if (input_ != nullptr) input_->Release();
  input_ = nullptr;
  if (connected_ != nullptr) connected_->Release();
  connected_ = nullptr;
  FreeMediaType(connection_type_);
  connection_type_ = AM_MEDIA_TYPE{};
}

HRESULT CNetworkReceiverOutputPin::CheckConnect(IPin* pin) {
  pull_reader_requested_ = false;
  PIN_DIRECTION direction;
  if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT) {
    return VFW_E_INVALID_DIRECTION;
  }
  void* input = nullptr;
  const HRESULT hr = pin->QueryInterface(IID_IMemInputPin, &input);
  if (FAILED(hr)) return hr;
  input_ = static_cast<IMemInputPin*>(input);
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::CompleteConnect(IPin*) {
  if (pull_reader_requested_) return VFW_E_NO_TRANSPORT;
  if (input_ == nullptr) return E_UNEXPECTED;
  return DecideAllocator(input_);
}

HRESULT CNetworkReceiverOutputPin::DecideAllocator(IMemInputPin* input) {
  ALLOCATOR_PROPERTIES properties{};
  input->GetAllocatorRequirements(&properties);
  IMemAllocator* allocator = nullptr;
  // The peer's allocator first, as the base pin does; DecideBufferSize turns it down.
  HRESULT hr = input->GetAllocator(&allocator);
  if (SUCCEEDED(hr) && allocator != nullptr) {
    hr = DecideBufferSize(allocator, &properties);
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, false);
    if (SUCCEEDED(hr)) {
      allocator_ = allocator;
      return S_OK;
    }
    allocator->Release();
    allocator = nullptr;
  }
  hr = InitAllocator(&allocator);
  if (FAILED(hr)) return hr;
  hr = DecideBufferSize(allocator, &properties);
  if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, false);
  if (FAILED(hr)) {
    allocator->Release();
    return hr;
  }
  allocator_ = allocator;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                                    ALLOCATOR_PROPERTIES* properties) {
  if (allocator == nullptr || properties == nullptr) return E_POINTER;
  IMemAllocator* own = nullptr;
  InitAllocator(&own);
  const bool is_own = allocator == own;
  own->Release();
  if (!is_own) return E_FAIL;
  return allocator->GetProperties(properties);
}

HRESULT CNetworkReceiverOutputPin::InitAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  return filter_->QueryAllocator(allocator);
}

HRESULT CNetworkReceiverOutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  return VFW_E_INVALID_DIRECTION;  // an output pin only connects out
}

HRESULT CNetworkReceiverOutputPin::Disconnect() {
  vqscw::FilterLockHolder lock(filter_->lock());
  if (connected_ == nullptr) return S_FALSE;
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (allocator_ != nullptr) allocator_->Decommit();
  BreakConnection();
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  vqscw::FilterLockHolder lock(filter_->lock());
  *pin = connected_;
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  vqscw::FilterLockHolder lock(filter_->lock());
  if (connected_ == nullptr) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, connection_type_);
}

HRESULT CNetworkReceiverOutputPin::QueryDirection(PIN_DIRECTION* direction) {
  if (direction == nullptr) return E_POINTER;
  *direction = PINDIR_OUTPUT;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::QueryId(char16_t** id) {
  if (id == nullptr) return E_POINTER;
  *id = static_cast<char16_t*>(CoTaskMemAlloc(sizeof kName));
  if (*id == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*id, kName, sizeof kName);
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  return CheckMediaType(*type) == S_OK ? S_OK : S_FALSE;
}

HRESULT CNetworkReceiverOutputPin::GetLatency(REFERENCE_TIME* latency) {
  if (latency == nullptr) return E_POINTER;
  *latency = 0;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::GetPushSourceFlags(uint32_t* flags) {
  if (flags == nullptr) return E_POINTER;
  *flags = 0;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::GetStreamOffset(REFERENCE_TIME* offset) {
  if (offset == nullptr) return E_POINTER;
  *offset = 0;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::GetMaxStreamOffset(REFERENCE_TIME* offset) {
  if (offset == nullptr) return E_POINTER;
  *offset = 0;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
  return type.majortype == major_type_ ? S_OK : S_FALSE;
}

HRESULT CNetworkReceiverOutputPin::GetMediaType(int position, AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  vqscw::FilterLockHolder lock(filter_->lock());
  const bool pcm = sub_type_ == MEDIASUBTYPE_PCM;
  *type = AM_MEDIA_TYPE{};
  type->majortype = major_type_;
  type->subtype = sub_type_;
  type->formattype = FORMAT_WaveFormatEx;
  type->bFixedSizeSamples = 1;
  type->bTemporalCompression = 0;
  type->lSampleSize = pcm ? wave_format_.wBitsPerSample / 8u : 1u;
  const uint32_t length = vqscw::FormatBlockLength(format_.data());
  type->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(length));
  if (type->pbFormat == nullptr) return E_OUTOFMEMORY;
  std::memcpy(type->pbFormat, format_.data(), length);
  type->cbFormat = length;
  return S_OK;
}

HRESULT CNetworkReceiverOutputPin::Deliver(IMediaSample* sample) {
  IMemInputPin* input = input_;
  return input != nullptr ? input->Receive(sample) : VFW_E_NOT_CONNECTED;
}

void CNetworkReceiverOutputPin::SetFormat(const uint8_t* format) {
  std::memcpy(format_.data(), format, format_.size());
  std::memcpy(&wave_format_, format_.data(), sizeof wave_format_);
}
