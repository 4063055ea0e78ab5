#include "vqscwlib/preview/preview.h"

#include <arpa/inet.h>
#include <gst/gst.h>

#include "vqscwlib/platform/sound_driver.h"
#include "vqscwlib/preview/audio_formats.h"
#include "vqscwlib/preview/media_interfaces.h"
#include "vqscwlib/preview/preview_graph.h"
#include "vqscwlib/preview/receiver_interfaces.h"

namespace {

constexpr char16_t kFilterName[] = u"VqsRtpRecv";
constexpr char16_t kOutputPinName[] = u"Output";
constexpr uint64_t kMillisecondsPerSecond = 1000;

// The process-wide preview, owned by the controlling thread (no lock).
IGraphBuilder* g_graph = nullptr;
IMediaControl* g_media_control = nullptr;
INetworkReceiverStats* g_stats = nullptr;
INetworkReceiverHealth* g_health = nullptr;

template <typename Interface>
void ReleaseAndClear(Interface** pointer) {
  if (*pointer != nullptr) (*pointer)->Release();
  *pointer = nullptr;
}

void Report(PreviewProgressCallback callback, void* user, int step) {
  if (callback != nullptr) callback(step, user);
}

// Builds and runs the graph; the locals it takes are released by the caller.
struct StartLocals {
  IBaseFilter* filter = nullptr;
  INetworkReceiverConfig* config = nullptr;
  IPin* pin = nullptr;

  ~StartLocals() {
    ReleaseAndClear(&pin);
    ReleaseAndClear(&config);
    ReleaseAndClear(&filter);
  }
};

HRESULT BuildAndRun(uint32_t group, uint32_t interface_address, PreviewProgressCallback callback,
                    void* user) {
  GError* error = nullptr;
  if (!gst_init_check(nullptr, nullptr, &error)) {
    if (error != nullptr) g_error_free(error);
    return E_FAIL;
  }
  Report(callback, user, 1);

  HRESULT hr = CreatePreviewGraph(&g_graph);
  if (FAILED(hr)) return hr;
  void* control = nullptr;
  hr = g_graph->QueryInterface(IID_IMediaControl, &control);
  if (FAILED(hr)) return hr;
  g_media_control = static_cast<IMediaControl*>(control);
  Report(callback, user, 2);

  StartLocals locals;
  hr = CreateNetworkReceiverFilter(&locals.filter);
  if (FAILED(hr)) return hr;
  void* config = nullptr;
  hr = locals.filter->QueryInterface(IID_INetworkReceiverConfig, &config);
  if (FAILED(hr)) return hr;
  locals.config = static_cast<INetworkReceiverConfig*>(config);
  const vqscw::FormatBlock format = vqscw::Pcm24StereoFormat();
  hr = locals.config->SetMediaFormat(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, HEADER_RTP, format.data());
  if (FAILED(hr)) return hr;
  hr = locals.config->SetGroup(group, htons(kStreamPort));
  if (FAILED(hr)) return hr;
  hr = locals.config->SetInterfaceAddress(interface_address);
  if (FAILED(hr)) return hr;
  hr = locals.filter->FindPin(kOutputPinName, &locals.pin);
  if (FAILED(hr)) return hr;
  hr = g_graph->AddFilter(locals.filter, kFilterName);
  if (FAILED(hr)) return hr;
  Report(callback, user, 3);

  hr = g_graph->Render(locals.pin);
  if (FAILED(hr)) return hr;
  Report(callback, user, 4);

  hr = g_media_control->Run();
  if (FAILED(hr)) return hr;
  Report(callback, user, 5);

  void* stats = nullptr;
  if (SUCCEEDED(locals.filter->QueryInterface(IID_INetworkReceiverStats, &stats))) {
    g_stats = static_cast<INetworkReceiverStats*>(stats);
  }
  void* health = nullptr;
  if (SUCCEEDED(locals.filter->QueryInterface(IID_INetworkReceiverHealth, &health))) {
    g_health = static_cast<INetworkReceiverHealth*>(health);
  }
  return S_OK;
}

}  // namespace

namespace vqscw {

uint32_t PreviewGroup(uint32_t channel) { return htonl(PreviewGroupOf(channel)); }

uint32_t PlayingMilliseconds(uint64_t payload_bytes, uint32_t bytes_per_second) {
  if (bytes_per_second == 0) return 0;
  // Below 2^32 bytes the product fits 64 bits with room; above, divide first to keep it there.
  const uint64_t whole = payload_bytes / bytes_per_second;
  const uint64_t rest = payload_bytes % bytes_per_second;
  // Truncated to 32 bits, as the status line expects.
  return static_cast<uint32_t>(whole * kMillisecondsPerSecond +
                               rest * kMillisecondsPerSecond / bytes_per_second);
}

}  // namespace vqscw

HRESULT PreviewStart(uint32_t channel, PreviewProgressCallback callback, void* user,
                     uint32_t interface_address) {
  PreviewStop(nullptr, nullptr);
  if (interface_address == 0) interface_address = GetDriverInterfaceAddress();
  return BuildAndRun(vqscw::PreviewGroup(channel), interface_address, callback, user);
}

void PreviewStop(PreviewProgressCallback callback, void* user) {
  ReleaseAndClear(&g_health);
  ReleaseAndClear(&g_stats);
  ReleaseAndClear(&g_media_control);
  ReleaseAndClear(&g_graph);  // the last reference: stops the graph and its receive thread
  Report(callback, user, 0);
}

HRESULT PreviewSetVolume(int32_t volume) {
  if (g_graph == nullptr) return S_FALSE;
  void* audio = nullptr;
  HRESULT hr = g_graph->QueryInterface(IID_IBasicAudio, &audio);
  if (FAILED(hr)) return hr;
  hr = static_cast<IBasicAudio*>(audio)->put_Volume(volume);
  static_cast<IBasicAudio*>(audio)->Release();
  return hr;
}

HRESULT PreviewGetLevels(int32_t* left, int32_t* right) {
  if (g_stats == nullptr) return S_FALSE;
  return g_stats->GetLevels(left, right);
}

HRESULT PreviewGetStatistics(uint32_t* elapsed_ms, uint32_t* packets) {
  if (g_stats == nullptr) return S_FALSE;
  if (elapsed_ms == nullptr || packets == nullptr) return E_POINTER;
  ReceiverStatistics statistics;
  const HRESULT hr = g_stats->GetStatistics(&statistics);
  if (FAILED(hr)) return hr;
  // The 32-bit payload count wraps after 4.1 hours of audio; the health's 64-bit count does not,
  // and equals it before the wrap.
  uint64_t payload = statistics.payloadBytesReceived;
  ReceiverHealth health;
  if (g_health != nullptr && g_health->GetHealth(&health) == S_OK) payload = health.payloadBytes;
  *elapsed_ms = vqscw::PlayingMilliseconds(payload, statistics.bytesPerSecond);
  *packets = statistics.packetsReceived;
  return S_OK;
}

HRESULT PreviewGetHealth(ReceiverHealth* health) {
  if (g_health == nullptr) return S_FALSE;
  if (health == nullptr) return E_POINTER;
  return g_health->GetHealth(health);
}
