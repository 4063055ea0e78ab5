// CNetworkReceiverFilter: a live source for the media graph that plays one multicast audio
// stream. It receives the stream with its CNetworkReceiver, turns each datagram into samples with
// its packet handler and pushes them out of its one pin, "Output".
//
// States: Stopped, Paused and Running. Pause from Stopped opens the socket and starts the receive
// thread; Stop ends the thread (and waits for it) before it returns. Configuration happens while
// stopped, through INetworkReceiverConfig, an SDP file (IFileSourceFilter) or saved settings
// (IPersistStream).
//
// Threads: state changes, configuration and connections run on the graph's control thread under
// the filter's lock. The receive thread never takes that lock. Statistics may be read from any
// thread. Lock order: the filter's lock, then the receiver's, then a pool's.
//
// Lifetime: reference counted; the pin and the allocator share the filter's count, and every
// sample downstream holds a reference, so the filter outlives what it lends.
#ifndef VQSCWLIB_PREVIEW_RECEIVER_FILTER_H_
#define VQSCWLIB_PREVIEW_RECEIVER_FILTER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "vqscwlib/preview/buffer_pool.h"
#include "vqscwlib/preview/filter_lock.h"
#include "vqscwlib/preview/media_interfaces.h"
#include "vqscwlib/preview/network_receiver.h"
#include "vqscwlib/preview/output_pin.h"
#include "vqscwlib/preview/packet_handler.h"
#include "vqscwlib/preview/receiver_health.h"
#include "vqscwlib/preview/receiver_interfaces.h"
#include "vqscwlib/preview/sample_pool.h"

class CNetworkReceiverFilter final : public IBaseFilter,
                                     public INetworkReceiverConfig,
                                     public INetworkReceiverStats,
                                     public INetworkReceiverHealth,
                                     public IFileSourceFilter,
                                     public IPersistStream,
                                     public IAMFilterMiscFlags,
                                     public IAMovieSetup,
                                     private vqscw::PacketSink {
 public:
  static constexpr uint32_t kNotSet = 0xFFFFFFFE;  // group or interface never set
  static constexpr uint32_t kReceiveBuffers = 24;
  static constexpr uint32_t kReceiveBufferSize = 8192;
  static constexpr uint32_t kPcmBlocks = 10;
  static constexpr uint32_t kPcmBlocksPerSecond = 20;  // 50 ms blocks
  static constexpr uint32_t kPersistedSize = 34;

  // A new filter with one reference for the caller, or the failure.
  static HRESULT Create(CNetworkReceiverFilter** filter);

  // IUnknown. Asking for INetworkReceiverStats resets the peaks.
  HRESULT QueryInterface(const IID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  // IPersist (the filter and its persistence facet).
  HRESULT GetClassID(CLSID* class_id) override;

  // IMediaFilter. Pause and Run fail (and the filter stays stopped) when the group or interface
  // was never set or the socket cannot be opened and joined. Stop waits for the receive thread,
  // which waits for free samples: downstream must have released its samples or be stopped.
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(uint32_t timeout_ms, FILTER_STATE* state) override;

  // IBaseFilter.
  HRESULT FindPin(const char16_t* id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, const char16_t* name) override;
  HRESULT QueryVendorInfo(char16_t** info) override;
  int GetPinCount() const { return 1; }
  // The pin at `index` without an added reference, or null.
  IPin* GetPin(int index);

  // INetworkReceiverConfig.
  HRESULT SetInterfaceAddress(uint32_t address) override;
  HRESULT GetInterfaceAddress(uint32_t* address) override;
  HRESULT SetGroup(uint32_t group, uint16_t port) override;
  HRESULT GetGroup(uint32_t* group, uint16_t* port) override;
  HRESULT SetMediaFormat(GUID major_type, GUID sub_type, PayloadHeaderMode mode,
                         const uint8_t* format) override;

  // INetworkReceiverStats.
  HRESULT GetLevels(int32_t* left, int32_t* right) override;
  HRESULT GetStatistics(ReceiverStatistics* statistics) override;

  // INetworkReceiverHealth. Silence is judged at the platform clock's MonotonicMicroseconds().
  HRESULT GetHealth(ReceiverHealth* health) override;

  // IFileSourceFilter: configures the filter from an SDP file (UTF-16 name, converted to UTF-8
  // for the file system). S_OK, E_POINTER, E_OUTOFMEMORY, E_FAIL when the file cannot be read
  // or applied, VFW_E_NOT_STOPPED unless stopped. GetCurFile gives a task-allocated copy of the
  // last name loaded (null before any) and does not fill `type`.
  HRESULT Load(const char16_t* file_name, const AM_MEDIA_TYPE* type) override;
  HRESULT GetCurFile(char16_t** file_name, AM_MEDIA_TYPE* type) override;

  // IPersistStream: 34 bytes, a version text of 12 UTF-16 characters, then group, port and
  // interface address in network order. Load takes the settings without checking them.
  HRESULT IsDirty() override;
  HRESULT Load(ISequentialStream* stream) override;
  HRESULT Save(ISequentialStream* stream, bool clear_dirty) override;
  HRESULT GetSizeMax(uint64_t* size) override;

  // IAMFilterMiscFlags: a source.
  uint32_t GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  // IAMovieSetup: the filter is not registered with the system.
  HRESULT Register() override { return S_FALSE; }
  HRESULT Unregister() override { return S_FALSE; }

  // Reads the SDP file at `path` and applies it: false, with nothing changed, when the file
  // cannot be read or the filter is not stopped.
  bool LoadStreamDescription(const char* path);

  // The filter's own allocator, with a reference for the caller.
  HRESULT QueryAllocator(IMemAllocator** allocator) {
    allocator_.AddRef();
    *allocator = &allocator_;
    return S_OK;
  }

  // Parts, for tests and benchmarks.
  CNetworkReceiverOutputPin* pin() { return &pin_; }
  CBufferPool* receive_pool() { return receive_pool_; }
  CSamplePool* sample_pool() { return &sample_pool_; }
  vqscw::PacketHandler* handler() { return &handler_; }
  CNetworkReceiver* receiver() { return &receiver_; }
  vqscw::FilterLock* lock() RETURN_CAPABILITY(mu_) { return &mu_; }
  FILTER_STATE state() const { return state_.load(std::memory_order_acquire); }

 private:
  CNetworkReceiverFilter();
  ~CNetworkReceiverFilter();
  HRESULT init_result();

  // vqscw::PacketSink, on the receive thread.
  void HandlePacket(CPacketBuffer* buffer) override;

  HRESULT SetGroupLocked(uint32_t group, uint16_t port) REQUIRES(mu_);
  HRESULT SetInterfaceAddressLocked(uint32_t address) REQUIRES(mu_);
  // Makes the PCM block pool for the pin's format and hands it to the packet handler.
  HRESULT CreatePcmPool() REQUIRES(mu_);
  void ApplyFormatToHandler() REQUIRES(mu_);

  std::atomic<uint32_t> ref_count_{1};
  vqscw::FilterLock mu_;
  std::atomic<FILTER_STATE> state_{State_Stopped};  // written under mu_, read anywhere
  REFERENCE_TIME start_time_ GUARDED_BY(mu_) = 0;
  IFilterGraph* graph_ GUARDED_BY(mu_) = nullptr;  // not referenced: the graph holds the filter
  std::u16string name_ GUARDED_BY(mu_);

  uint32_t group_ GUARDED_BY(mu_) = kNotSet;
  uint16_t port_ GUARDED_BY(mu_) = 0;
  uint32_t interface_address_ GUARDED_BY(mu_) = kNotSet;
  PayloadHeaderMode header_mode_ GUARDED_BY(mu_) = HEADER_NONE;
  bool dirty_ GUARDED_BY(mu_) = false;
  std::u16string file_name_ GUARDED_BY(mu_);
  bool has_file_name_ GUARDED_BY(mu_) = false;

  // Declared in construction order. The destructor stops the receiver first.
  CNetworkReceiverOutputPin pin_{this};
  CBufferPool* const receive_pool_;  // one reference, or null when it could not be made
  CNetworkReceiver receiver_;
  CSamplePool sample_pool_;
  CReceiverAllocator allocator_{this};
  vqscw::PacketHandler handler_;
  // nAvgBytesPerSec of the pin's format: written under mu_, read by statistics from any thread.
  std::atomic<uint32_t> bytes_per_second_{0};
};

#endif  // VQSCWLIB_PREVIEW_RECEIVER_FILTER_H_
