// Lock order: the filter's lock (mu_), then the receiver's lock, then a pool's lock.
#include "vqscwlib/preview/receiver_filter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "vqscw/network.h"
#include "vqscwlib/base/wave_format.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/preview/debug_output.h"

namespace {

constexpr double kFullScale = 2130706432.0;  // 0x7F000000: a full-scale 24-bit sample, shifted
constexpr int32_t kSilentPeak = 655360;      // 0xA0000: at or below this, the level is silence
constexpr int32_t kSilentLevel = -10000;
constexpr uint32_t kMaxPcmBlockBytes = 1 << 20;
constexpr uint32_t kMpegRtpClockRate = 90000;  // RTP's clock for MPEG audio
constexpr double kMicrosecondsPerMs = 1000.0;

// An address held in network byte order, in host order.
uint32_t HostOrder(uint32_t address) { return ntohl(address); }

// 0.1 dB below full scale, truncated toward zero.
int32_t LevelOf(int32_t peak) {
  if (peak <= kSilentPeak) return kSilentLevel;
  return static_cast<int32_t>(200.0 * std::log10(static_cast<double>(peak) / kFullScale));
}

// Whether the packet handler can convert `format` into 50 ms blocks: 16- or 24-bit integer PCM
// whose block is a whole number of frames.
bool IsConvertiblePcm(const uint8_t* format) {
  WAVEFORMATEXTENSIBLE record;
  std::memcpy(&record, format, sizeof record);
  const WAVEFORMATEX& head = record.Format;
  if (head.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    const size_t extension = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    if (head.cbSize < extension || record.SubFormat != KSDATAFORMAT_SUBTYPE_PCM) return false;
  } else if (head.wFormatTag != WAVE_FORMAT_PCM) {
    return false;
  }
  if (head.wBitsPerSample != 16 && head.wBitsPerSample != 24) return false;
  if (head.nChannels == 0 || head.nBlockAlign != head.nChannels * (head.wBitsPerSample / 8)) {
    return false;
  }
  const uint32_t block = head.nAvgBytesPerSec / CNetworkReceiverFilter::kPcmBlocksPerSecond;
  return block != 0 && block <= kMaxPcmBlockBytes && block % head.nBlockAlign == 0;
}

// What the health counting takes a stream of `mode` and `format` to carry: RTP header modes are
// sequenced, linear PCM gives levels.
vqscw::StreamHealthFormat HealthFormatOf(PayloadHeaderMode mode, bool pcm,
                                         const WAVEFORMATEX& format) {
  vqscw::StreamHealthFormat health;
  if (mode == HEADER_RTP || mode == HEADER_RTP_MPA) {
    health.header_bytes = static_cast<uint32_t>(PayloadHeaderBytes(mode));
    health.clock_rate = pcm ? format.nSamplesPerSec : kMpegRtpClockRate;
  }
  if (pcm) {
    health.channels = format.nChannels;
    health.bytes_per_sample = format.wBitsPerSample / 8u;
    health.interval_peaks = false;  // the meter has levels of its own: only silence is wanted
  }
  return health;
}

}  // namespace

HRESULT CreateNetworkReceiverFilter(IBaseFilter** filter) {
  if (filter == nullptr) return E_POINTER;
  *filter = nullptr;
  CNetworkReceiverFilter* created = nullptr;
  const HRESULT hr = CNetworkReceiverFilter::Create(&created);
  if (FAILED(hr)) return hr;
  *filter = created;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::Create(CNetworkReceiverFilter** filter) {
  if (filter == nullptr) return E_POINTER;
  *filter = nullptr;
  auto* created = new (std::nothrow) CNetworkReceiverFilter();
  if (created == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = created->init_result();
  if (FAILED(hr)) {
    created->Release();
    return hr;
  }
  *filter = created;
  return S_OK;
}

CNetworkReceiverFilter::CNetworkReceiverFilter()
    : receive_pool_(CBufferPool::Create(kReceiveBuffers, kReceiveBufferSize)),
      receiver_(receive_pool_, this),
      sample_pool_(static_cast<IBaseFilter*>(this)),
      handler_(&sample_pool_, &pin_, receiver_.stop_event()) {}

CNetworkReceiverFilter::~CNetworkReceiverFilter() {
  receiver_.Stop();
  handler_.SetPcmPool(nullptr);
  if (receive_pool_ != nullptr) receive_pool_->Release();
}

HRESULT CNetworkReceiverFilter::init_result() {
  if (receive_pool_ == nullptr || !sample_pool_.valid()) return E_OUTOFMEMORY;
  return receiver_.init_result();
}

HRESULT CNetworkReceiverFilter::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  void* found = nullptr;
  if (iid == IID_IUnknown || iid == IID_IBaseFilter || iid == IID_IMediaFilter) {
    found = static_cast<IBaseFilter*>(this);
  } else if (iid == IID_IPersist) {
    found = static_cast<IPersist*>(static_cast<IBaseFilter*>(this));
  } else if (iid == IID_INetworkReceiverConfig) {
    found = static_cast<INetworkReceiverConfig*>(this);
  } else if (iid == IID_INetworkReceiverStats) {
    handler_.ResetPeaks();
    found = static_cast<INetworkReceiverStats*>(this);
  } else if (iid == IID_INetworkReceiverHealth) {
    found = static_cast<INetworkReceiverHealth*>(this);
  } else if (iid == IID_IFileSourceFilter) {
    found = static_cast<IFileSourceFilter*>(this);
  } else if (iid == IID_IPersistStream) {
    found = static_cast<IPersistStream*>(this);
  } else if (iid == IID_IAMFilterMiscFlags) {
    found = static_cast<IAMFilterMiscFlags*>(this);
  } else if (iid == IID_IAMovieSetup) {
    found = static_cast<IAMovieSetup*>(this);
  }
  *object = found;
  if (found == nullptr) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

uint32_t CNetworkReceiverFilter::AddRef() {
  return ref_count_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

uint32_t CNetworkReceiverFilter::Release() {
  const uint32_t left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT CNetworkReceiverFilter::GetClassID(CLSID* class_id) {
  if (class_id == nullptr) return E_POINTER;
  *class_id = CLSID_NetworkReceiverFilter;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::Stop() {
  vqscw::FilterLockHolder lock(&mu_);
  receiver_.Stop();
  if (IMemAllocator* allocator = pin_.allocator()) allocator->Decommit();
  state_.store(State_Stopped, std::memory_order_release);
  return S_OK;
}

HRESULT CNetworkReceiverFilter::Pause() {
  HRESULT hr = S_OK;
  {
    vqscw::FilterLockHolder lock(&mu_);
    if (group_ == kNotSet || interface_address_ == kNotSet) {
      hr = E_FAIL;
    } else if (state() == State_Stopped) {
      handler_.RestartHealth();  // before the receive thread, which the start orders after it
      hr = receiver_.Start(group_, port_, interface_address_);
      if (SUCCEEDED(hr)) {
        if (IMemAllocator* allocator = pin_.allocator(); allocator && pin_.IsConnected()) {
          allocator->Commit();
        }
        state_.store(State_Paused, std::memory_order_release);
      }
    } else {
      state_.store(State_Paused, std::memory_order_release);  // the stream keeps flowing
    }
  }
  vqscw::DebugOutput(hr == S_OK ? "CNetworkReceiverFilter::Pause\n OK"
                                : "CNetworkReceiverFilter::Pause\n E_FAIL");
  return hr;
}

HRESULT CNetworkReceiverFilter::Run(REFERENCE_TIME start) {
  {
    vqscw::FilterLockHolder lock(&mu_);
    start_time_ = start;
  }
  if (state() == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  vqscw::FilterLockHolder lock(&mu_);
  state_.store(State_Running, std::memory_order_release);
  return S_OK;
}

HRESULT CNetworkReceiverFilter::GetState(uint32_t, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  *state = this->state();
  return S_OK;
}

HRESULT CNetworkReceiverFilter::FindPin(const char16_t* id, IPin** pin) {
  if (id == nullptr || pin == nullptr) return E_POINTER;
  if (std::u16string_view(id) != CNetworkReceiverOutputPin::kName) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = &pin_;
  pin_.AddRef();
  return S_OK;
}

IPin* CNetworkReceiverFilter::GetPin(int index) {
  vqscw::FilterLockHolder lock(&mu_);
  return index == 0 ? &pin_ : nullptr;
}

HRESULT CNetworkReceiverFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  vqscw::FilterLockHolder lock(&mu_);
  const size_t length = std::min<size_t>(name_.size(), kMaxFilterName - 1);
  std::copy_n(name_.data(), length, info->achName);
  info->achName[length] = u'\0';
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

HRESULT CNetworkReceiverFilter::JoinFilterGraph(IFilterGraph* graph, const char16_t* name) {
  vqscw::FilterLockHolder lock(&mu_);
  graph_ = graph;
  name_ = graph != nullptr && name != nullptr ? name : u"";
  return S_OK;
}

HRESULT CNetworkReceiverFilter::QueryVendorInfo(char16_t**) { return E_NOTIMPL; }

HRESULT CNetworkReceiverFilter::SetInterfaceAddress(uint32_t address) {
  vqscw::FilterLockHolder lock(&mu_);
  return SetInterfaceAddressLocked(address);
}

HRESULT CNetworkReceiverFilter::SetInterfaceAddressLocked(uint32_t address) {
  if (state() != State_Stopped) return E_UNEXPECTED;
  if (address != 0 && HostOrder(address) >= kFirstMulticastAddress) return E_INVALIDARG;
  interface_address_ = address;
  dirty_ = true;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::GetInterfaceAddress(uint32_t* address) {
  if (address == nullptr) return E_INVALIDARG;
  vqscw::FilterLockHolder lock(&mu_);
  *address = interface_address_;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::SetGroup(uint32_t group, uint16_t port) {
  vqscw::FilterLockHolder lock(&mu_);
  return SetGroupLocked(group, port);
}

HRESULT CNetworkReceiverFilter::SetGroupLocked(uint32_t group, uint16_t port) {
  if (state() != State_Stopped) return E_UNEXPECTED;
  if (!IsMulticastAddress(HostOrder(group))) return E_INVALIDARG;
  group_ = group;
  port_ = port;
  dirty_ = true;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::GetGroup(uint32_t* group, uint16_t* port) {
  if (group == nullptr || port == nullptr) return E_INVALIDARG;
  vqscw::FilterLockHolder lock(&mu_);
  *group = group_;
  *port = port_;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::SetMediaFormat(GUID major_type, GUID sub_type,
                                               PayloadHeaderMode mode, const uint8_t* format) {
  if (format == nullptr) return E_POINTER;
  // Locked and refused while running: the receive thread reads what this changes.
  vqscw::FilterLockHolder lock(&mu_);
  if (state() != State_Stopped) return E_UNEXPECTED;
  const bool pcm = sub_type == MEDIASUBTYPE_PCM;
  if (pcm && !IsConvertiblePcm(format)) return VFW_E_TYPE_NOT_ACCEPTED;
  pin_.SetType(major_type, sub_type);
  pin_.SetFormat(format);
  bytes_per_second_.store(pin_.wave_format().nAvgBytesPerSec, std::memory_order_relaxed);
  header_mode_ = mode;
  ApplyFormatToHandler();
  if (pcm && FAILED(CreatePcmPool())) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::CreatePcmPool() {
  const uint32_t block_size = pin_.wave_format().nAvgBytesPerSec / kPcmBlocksPerSecond;
  CBufferPool* pool = CBufferPool::Create(kPcmBlocks, block_size);
  if (pool == nullptr) return E_OUTOFMEMORY;
  handler_.SetPcmPool(pool);  // drops the old pool and the partly filled block
  pool->Release();
  return S_OK;
}

void CNetworkReceiverFilter::ApplyFormatToHandler() {
  const bool pcm = pin_.sub_type() == MEDIASUBTYPE_PCM;
  handler_.Configure(header_mode_, pcm, pin_.wave_format().wBitsPerSample);
  handler_.ConfigureHealth(HealthFormatOf(header_mode_, pcm, pin_.wave_format()));
}

HRESULT CNetworkReceiverFilter::GetLevels(int32_t* left, int32_t* right) {
  if (left == nullptr || right == nullptr) return E_POINTER;
  if (state() != State_Running) return S_FALSE;
  const vqscw::PeakLevels peaks = handler_.peaks();
  *left = LevelOf(peaks.left);
  *right = LevelOf(peaks.right);
  handler_.ResetPeaks();
  return S_OK;
}

HRESULT CNetworkReceiverFilter::GetStatistics(ReceiverStatistics* statistics) {
  if (statistics == nullptr) return E_POINTER;
  statistics->packetsReceived = handler_.packets_received();
  statistics->payloadBytesReceived = handler_.payload_bytes_received();
  statistics->bytesPerSecond = bytes_per_second_.load(std::memory_order_relaxed);
  return S_OK;
}

HRESULT CNetworkReceiverFilter::GetHealth(ReceiverHealth* health) {
  if (health == nullptr) return E_POINTER;
  const vqscw::StreamHealthCounts counts = handler_.health();
  health->packets = counts.packets;
  health->payloadBytes = handler_.payload_bytes_total();
  health->bytesPerSecond = bytes_per_second_.load(std::memory_order_relaxed);
  health->ssrc = counts.ssrc;
  health->expected = counts.expected;
  health->lost = counts.lost;
  health->duplicated = counts.duplicated;
  health->reordered = counts.reordered;
  health->unsequenced = counts.unsequenced;
  health->ssrcChanges = counts.ssrc_changes;
  health->silent = vqscw::IsSilent(counts, vqscw::MonotonicMicroseconds()) ? 1 : 0;
  health->jitterMs = counts.jitter_ms;
  health->maxJitterMs = counts.max_jitter_ms;
  health->longestGapMs = static_cast<double>(counts.longest_gap_us) / kMicrosecondsPerMs;
  return S_OK;
}

void CNetworkReceiverFilter::HandlePacket(CPacketBuffer* buffer) { handler_.Handle(buffer); }
