// The receiver filter's only pin, "Output", and the allocator every connection of it uses.
//
// The pin offers one type, made from the major type, subtype and format block the filter's
// configuration sets, and pushes samples to the connected input pin on the receive thread. The
// allocator only describes the filter's pools: samples are pushed, never requested.
//
// Both objects live inside the filter and share its reference count and its lock.
#ifndef VQSCWLIB_PREVIEW_OUTPUT_PIN_H_
#define VQSCWLIB_PREVIEW_OUTPUT_PIN_H_

#include <cstdint>

#include "vqscwlib/base/wave_format.h"
#include "vqscwlib/preview/audio_formats.h"
#include "vqscwlib/preview/media_interfaces.h"
#include "vqscwlib/preview/packet_handler.h"

class CNetworkReceiverFilter;

class CReceiverAllocator final : public IMemAllocator {
 public:
  static constexpr int32_t kBuffers = 10;       // the sample pool's size
  static constexpr int32_t kBufferSize = 8192;  // a receive buffer's size

  explicit CReceiverAllocator(CNetworkReceiverFilter* filter) : filter_(filter) {}

  HRESULT QueryInterface(const IID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Commit() override { return S_OK; }
  HRESULT Decommit() override { return S_OK; }
  HRESULT GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, uint32_t) override {
    return E_NOTIMPL;
  }
  HRESULT ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

 private:
  CNetworkReceiverFilter* const filter_;
};

class CNetworkReceiverOutputPin final : public IPin,
                                        public IAMPushSource,
                                        public vqscw::SampleTarget {
 public:
  static constexpr char16_t kName[] = u"Output";

  explicit CNetworkReceiverOutputPin(CNetworkReceiverFilter* filter);
  // REQUIRES: disconnected, or the filter is being destroyed.
  ~CNetworkReceiverOutputPin();
  CNetworkReceiverOutputPin(const CNetworkReceiverOutputPin&) = delete;
  CNetworkReceiverOutputPin& operator=(const CNetworkReceiverOutputPin&) = delete;

  // IUnknown. IID_IAsyncReader is refused, and remembered: a peer that asks for a pull-mode
  // reader is refused the connection.
  HRESULT QueryInterface(const IID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // IPin. Connect tries the given type when it is complete, else the pin's own; it needs a
  // stopped filter and a peer with IMemInputPin.
  HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT QueryId(char16_t** id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;

  // IAMPushSource: a live source without latency or offsets.
  HRESULT GetLatency(REFERENCE_TIME* latency) override;
  HRESULT GetPushSourceFlags(uint32_t* flags) override;
  HRESULT SetPushSourceFlags(uint32_t) override { return S_OK; }
  HRESULT SetStreamOffset(REFERENCE_TIME offset) override { return offset == 0 ? S_OK : S_FALSE; }
  HRESULT GetStreamOffset(REFERENCE_TIME* offset) override;
  HRESULT GetMaxStreamOffset(REFERENCE_TIME* offset) override;
  HRESULT SetMaxStreamOffset(REFERENCE_TIME) override { return S_OK; }

  // The base pin's steps, public for the filter and for tests.
  // S_OK when `type`'s major type is the one offered, S_FALSE otherwise.
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type);
  HRESULT CheckConnect(IPin* pin);
  HRESULT CompleteConnect(IPin* pin);
  // Position 0 gives the offered type (its format block is the caller's to free); later positions
  // give VFW_S_NO_MORE_ITEMS.
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type);
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties);
  HRESULT InitAllocator(IMemAllocator** allocator);

  // Pushes `sample` to the connected input pin (receive thread). VFW_E_NOT_CONNECTED without one.
  HRESULT Deliver(IMediaSample* sample) override;

  bool IsConnected() const { return connected_ != nullptr; }
  IMemAllocator* allocator() const { return allocator_; }

  // The offered type. Changed only while the filter is stopped.
  void SetType(const GUID& major_type, const GUID& sub_type) {
    major_type_ = major_type;
    sub_type_ = sub_type;
  }
  void SetFormat(const uint8_t* format);
  const GUID& major_type() const { return major_type_; }
  const GUID& sub_type() const { return sub_type_; }
  const WAVEFORMATEX& wave_format() const { return wave_format_; }

 private:
  HRESULT AttemptConnection(IPin* receive_pin, const AM_MEDIA_TYPE& type);
  HRESULT DecideAllocator(IMemInputPin* input);
  void BreakConnection();

  CNetworkReceiverFilter* const filter_;
  GUID major_type_{};
  GUID sub_type_{};
  vqscw::FormatBlock format_{};
  WAVEFORMATEX wave_format_{};  // the head of format_, kept aligned for reading
  bool pull_reader_requested_ = false;

  // The connection, under the filter's lock; fixed while the filter is not stopped, so the
  // receive thread reads input_ without the lock.
  IPin* connected_ = nullptr;
  IMemInputPin* input_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  AM_MEDIA_TYPE connection_type_{};
};

#endif  // VQSCWLIB_PREVIEW_OUTPUT_PIN_H_
