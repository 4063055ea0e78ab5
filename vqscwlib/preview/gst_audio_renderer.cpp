#include "vqscwlib/preview/gst_audio_renderer.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "vqscwlib/base/wave_format.h"
#include "vqscwlib/preview/debug_output.h"

namespace vqscw {
namespace {

constexpr const char* kDefaultSink = "autoaudiosink";
// The renderer plays each block when it arrives; this is the margin granted for its way through
// the pipeline before the sink counts it late.
constexpr GstClockTime kRenderLatency = 20 * GST_MSECOND;
// How long Stop waits for the end of the stream to pass through the sink, so that a sink writing
// a file can finish it (wavenc writes the sizes into its header then). A sink that never gets
// there only delays the stop by this much.
constexpr int kEndOfStreamWaitMs = 300;

std::atomic<AudioBlockObserver> g_block_observer{nullptr};
std::atomic<void*> g_block_observer_user{nullptr};

GstPadProbeReturn OnBlockToSink(GstPad*, GstPadProbeInfo*, gpointer) {
  void* user = g_block_observer_user.load(std::memory_order_acquire);
  if (AudioBlockObserver observer = g_block_observer.load(std::memory_order_acquire)) {
    observer(user);
  }
  return GST_PAD_PROBE_OK;
}

void ReleaseSample(gpointer sample) { static_cast<IMediaSample*>(sample)->Release(); }

bool WaveFormatOf(const AM_MEDIA_TYPE& type, WAVEFORMATEXTENSIBLE* format) {
  if (type.majortype != MEDIATYPE_Audio || type.formattype != FORMAT_WaveFormatEx ||
      type.pbFormat == nullptr || type.cbFormat < sizeof(WAVEFORMATEX)) {
    return false;
  }
  *format = WAVEFORMATEXTENSIBLE{};
  std::memcpy(format, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof *format));
  return true;
}

}  // namespace

void SetAudioBlockObserver(AudioBlockObserver observer, void* user) {
  g_block_observer.store(nullptr, std::memory_order_release);
  g_block_observer_user.store(user, std::memory_order_release);
  g_block_observer.store(observer, std::memory_order_release);
}

GstCaps* CapsForMediaType(const AM_MEDIA_TYPE& type, bool* compressed) {
  WAVEFORMATEXTENSIBLE format;
  if (!WaveFormatOf(type, &format)) return nullptr;
  const WAVEFORMATEX& head = format.Format;
  if (head.nChannels < 1 || head.nChannels > 2) return nullptr;
  *compressed = false;
  if (type.subtype == MEDIASUBTYPE_MP3) {
    if (head.wFormatTag != WAVE_FORMAT_MPEGLAYER3 && head.wFormatTag != WAVE_FORMAT_MPEG) {
      return nullptr;
    }
    *compressed = true;
    return gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, 1, nullptr);
  }
  if (type.subtype != MEDIASUBTYPE_PCM) return nullptr;
  if (head.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    const size_t extension = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    if (type.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) || head.cbSize < extension ||
        format.SubFormat != KSDATAFORMAT_SUBTYPE_PCM ||
        format.Samples.wValidBitsPerSample != head.wBitsPerSample) {
      return nullptr;
    }
  } else if (head.wFormatTag != WAVE_FORMAT_PCM) {
    return nullptr;
  }
  const char* sample_format = head.wBitsPerSample == 16   ? "S16LE"
                              : head.wBitsPerSample == 24 ? "S24LE"
                                                          : nullptr;
  if (sample_format == nullptr || head.nSamplesPerSec == 0 || head.nSamplesPerSec > INT32_MAX) {
    return nullptr;
  }
  return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, sample_format, "rate",
                             G_TYPE_INT, static_cast<int>(head.nSamplesPerSec), "channels",
                             G_TYPE_INT, static_cast<int>(head.nChannels), "layout", G_TYPE_STRING,
                             "interleaved", nullptr);
}

double LinearGain(int32_t volume) {
  if (volume <= GstAudioRenderer::kSilentVolume) return 0.0;
  return std::pow(10.0, volume / 2000.0);
}

// The renderer's input pin: accepts one connection, takes samples pushed to it.
class GstAudioRenderer::InputPin final : public IPin, public IMemInputPin {
 public:
  explicit InputPin(GstAudioRenderer* renderer) : renderer_(renderer) {}
  ~InputPin() { DropConnection(); }

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin) {
      *object = static_cast<IPin*>(this);
    } else if (iid == IID_IMemInputPin) {
      *object = static_cast<IMemInputPin*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return renderer_->AddRef(); }
  uint32_t Release() override { return renderer_->Release(); }

  HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return VFW_E_INVALID_DIRECTION; }

  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    if (connector == nullptr || type == nullptr) return E_POINTER;
    MutexLock lock(&renderer_->mu_);
    if (connector_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (renderer_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction;
    if (FAILED(connector->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
      return VFW_E_INVALID_DIRECTION;
    }
    HRESULT hr = CopyMediaType(&type_, *type);
    if (SUCCEEDED(hr)) hr = renderer_->BuildPipeline(type_);
    if (FAILED(hr)) {
      FreeMediaType(type_);
      return hr;
    }
    connector_ = connector;
    connector_->AddRef();
    return S_OK;
  }

  HRESULT Disconnect() override {
    MutexLock lock(&renderer_->mu_);
    if (connector_ == nullptr) return S_FALSE;
    if (renderer_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    DropConnection();
    return S_OK;
  }

  HRESULT ConnectedTo(IPin** pin) override {
    if (pin == nullptr) return E_POINTER;
    MutexLock lock(&renderer_->mu_);
    *pin = connector_;
    if (connector_ == nullptr) return VFW_E_NOT_CONNECTED;
    connector_->AddRef();
    return S_OK;
  }

  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (type == nullptr) return E_POINTER;
    MutexLock lock(&renderer_->mu_);
    if (connector_ == nullptr) {
      *type = AM_MEDIA_TYPE{};
      return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, type_);
  }

  HRESULT QueryDirection(PIN_DIRECTION* direction) override {
    if (direction == nullptr) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
  }

  HRESULT QueryId(char16_t** id) override {
    if (id == nullptr) return E_POINTER;
    *id = static_cast<char16_t*>(CoTaskMemAlloc(sizeof kPinName));
    if (*id == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*id, kPinName, sizeof kPinName);
    return S_OK;
  }

  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override {
    if (type == nullptr) return E_POINTER;
    bool compressed = false;
    GstCaps* caps = CapsForMediaType(*type, &compressed);
    if (caps == nullptr) return S_FALSE;
    gst_caps_unref(caps);
    return S_OK;
  }

  // No allocator of its own: the upstream pin brings one.
  HRESULT GetAllocator(IMemAllocator** allocator) override {
    if (allocator == nullptr) return E_POINTER;
    *allocator = nullptr;
    return VFW_E_NO_ALLOCATOR;
  }

  HRESULT NotifyAllocator(IMemAllocator* allocator, bool) override {
    if (allocator == nullptr) return E_POINTER;
    MutexLock lock(&renderer_->mu_);
    allocator->AddRef();
    if (allocator_ != nullptr) allocator_->Release();
    allocator_ = allocator;
    return S_OK;
  }

  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }

  HRESULT Receive(IMediaSample* sample) override { return renderer_->Receive(sample); }

 private:
  void DropConnection() {
    if (allocator_ != nullptr) allocator_->Release();
    allocator_ = nullptr;
    if (connector_ != nullptr) connector_->Release();
    connector_ = nullptr;
    FreeMediaType(type_);
    type_ = AM_MEDIA_TYPE{};
  }

  GstAudioRenderer* const renderer_;
  // Under the renderer's lock.
  IPin* connector_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  AM_MEDIA_TYPE type_{};
};

HRESULT GstAudioRenderer::Create(GstAudioRenderer** renderer) {
  if (renderer == nullptr) return E_POINTER;
  *renderer = nullptr;
  GError* error = nullptr;
  if (!gst_init_check(nullptr, nullptr, &error)) {
    if (error != nullptr) g_error_free(error);
    return E_FAIL;
  }
  *renderer = new (std::nothrow) GstAudioRenderer();
  return *renderer != nullptr ? S_OK : E_OUTOFMEMORY;
}

GstAudioRenderer::GstAudioRenderer() : pin_(new InputPin(this)) {}

GstAudioRenderer::~GstAudioRenderer() {
  {
    MutexLock lock(&mu_);
    running_.store(false, std::memory_order_release);
    EndStream();  // a renderer released while running still finishes its sink
    DestroyPipeline();
  }
  delete pin_;
}

HRESULT GstAudioRenderer::QueryInterface(const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IBaseFilter || iid == IID_IMediaFilter ||
      iid == IID_IPersist) {
    *object = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

uint32_t GstAudioRenderer::AddRef() {
  return ref_count_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

uint32_t GstAudioRenderer::Release() {
  const uint32_t left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT GstAudioRenderer::GetClassID(CLSID* class_id) {
  if (class_id == nullptr) return E_POINTER;
  *class_id = GUID_NULL;
  return S_OK;
}

IPin* GstAudioRenderer::input_pin() { return pin_; }

HRESULT GstAudioRenderer::FindPin(const char16_t* id, IPin** pin) {
  if (id == nullptr || pin == nullptr) return E_POINTER;
  if (std::u16string_view(id) != kPinName) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = pin_;
  pin_->AddRef();
  return S_OK;
}

HRESULT GstAudioRenderer::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  MutexLock lock(&mu_);
  const size_t length = std::min<size_t>(name_.size(), kMaxFilterName - 1);
  std::copy_n(name_.data(), length, info->achName);
  info->achName[length] = u'\0';
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

HRESULT GstAudioRenderer::JoinFilterGraph(IFilterGraph* graph, const char16_t* name) {
  MutexLock lock(&mu_);
  graph_ = graph;
  name_ = graph != nullptr && name != nullptr ? name : u"";
  return S_OK;
}

HRESULT GstAudioRenderer::GetState(uint32_t, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  MutexLock lock(&mu_);
  *state = state_;
  return S_OK;
}

HRESULT GstAudioRenderer::BuildPipeline(const AM_MEDIA_TYPE& type) {
  bool compressed = false;
  GstCaps* caps = CapsForMediaType(type, &compressed);
  if (caps == nullptr) return VFW_E_TYPE_NOT_ACCEPTED;
  DestroyPipeline();

  GstElement* pipeline = gst_pipeline_new("vqscw-preview");
  bool ok = pipeline != nullptr;
  auto add = [&](const char* factory, const char* name) -> GstElement* {
    GstElement* element = ok ? gst_element_factory_make(factory, name) : nullptr;
    if (element == nullptr) {
      ok = false;
      return nullptr;
    }
    gst_bin_add(GST_BIN(pipeline), element);  // the pipeline owns it now
    return element;
  };
  GstElement* source = add("appsrc", "source");
  GstElement* chain_start = nullptr;
  if (compressed) {
    chain_start = add("mpegaudioparse", "parse");
    GstElement* decoder = add("mpg123audiodec", "decode");
    ok = ok && gst_element_link(chain_start, decoder);
    GstElement* convert = add("audioconvert", "convert");
    ok = ok && gst_element_link(decoder, convert);
    GstElement* resample = add("audioresample", "resample");
    ok = ok && gst_element_link(convert, resample);
    volume_element_ = add("volume", "volume");
    ok = ok && gst_element_link(resample, volume_element_);
  } else {
    chain_start = add("audioconvert", "convert");
    GstElement* resample = add("audioresample", "resample");
    ok = ok && gst_element_link(chain_start, resample);
    volume_element_ = add("volume", "volume");
    ok = ok && gst_element_link(resample, volume_element_);
  }
  if (ok) {
    const char* sink_text = std::getenv("VQSCW_AUDIO_SINK");
    if (sink_text == nullptr || sink_text[0] == '\0') sink_text = kDefaultSink;
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(sink_text, TRUE, &error);
    if (error != nullptr) {
      DebugOutput(error->message);
      g_error_free(error);
    }
    ok = sink != nullptr;
    if (ok) {
      gst_bin_add(GST_BIN(pipeline), sink);
      ok = gst_element_link(volume_element_, sink);
    }
  }
  if (ok) {
    g_object_set(source, "caps", caps, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp",
                 TRUE, "min-latency", static_cast<gint64>(kRenderLatency), "block", FALSE, nullptr);
    ok = gst_element_link(source, chain_start);
  }
  gst_caps_unref(caps);
  if (!ok) {
    if (pipeline != nullptr) gst_object_unref(pipeline);
    volume_element_ = nullptr;
    return VFW_E_CANNOT_RENDER;
  }

  // Errors and the end of the stream are noted as they are posted; every message is dropped, so
  // nothing piles up on a bus nobody reads.
  sink_error_.store(false, std::memory_order_relaxed);
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_bus_set_sync_handler(
      bus,
      [](GstBus*, GstMessage* message, gpointer self) {
        auto* renderer = static_cast<GstAudioRenderer*>(self);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
          renderer->sink_error_.store(true, std::memory_order_relaxed);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
          renderer->stream_ended_.Set();
        }
        return GST_BUS_DROP;
      },
      this, nullptr);
  gst_object_unref(bus);

  GstPad* pad = gst_element_get_static_pad(volume_element_, "src");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnBlockToSink, nullptr, nullptr);
  gst_object_unref(pad);

  WAVEFORMATEXTENSIBLE format;
  WaveFormatOf(type, &format);
  bytes_per_second_.store(compressed ? 0 : format.Format.nAvgBytesPerSec,
                          std::memory_order_relaxed);
  g_object_set(volume_element_, "volume", LinearGain(volume_), nullptr);
  pipeline_ = pipeline;
  appsrc_.store(source, std::memory_order_release);
  return S_OK;
}

void GstAudioRenderer::DestroyPipeline() {
  if (pipeline_ == nullptr) return;
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  appsrc_.store(nullptr, std::memory_order_release);
  gst_object_unref(pipeline_);
  pipeline_ = nullptr;
  volume_element_ = nullptr;
}

HRESULT GstAudioRenderer::Start(int target_state) {
  MutexLock lock(&mu_);
  const FILTER_STATE next = target_state == GST_STATE_PLAYING ? State_Running : State_Paused;
  if (pipeline_ != nullptr) {
    const GstStateChangeReturn result =
        gst_element_set_state(pipeline_, static_cast<GstState>(target_state));
    // A sink that cannot open its device fails here or posts an error while changing state;
    // nothing here waits for data to arrive.
    if (result == GST_STATE_CHANGE_FAILURE || sink_error_.load(std::memory_order_relaxed)) {
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      running_.store(false, std::memory_order_release);
      state_ = State_Stopped;
      sink_error_.store(false, std::memory_order_relaxed);
      return VFW_E_NO_AUDIO_HARDWARE;
    }
  }
  state_ = next;
  running_.store(next == State_Running, std::memory_order_release);
  return S_OK;
}

HRESULT GstAudioRenderer::Pause() { return Start(GST_STATE_PAUSED); }

HRESULT GstAudioRenderer::Run(REFERENCE_TIME) { return Start(GST_STATE_PLAYING); }

void GstAudioRenderer::EndStream() {
  if (pipeline_ == nullptr || state_ != State_Running) return;
  // Nothing is pushed after this (Receive checks running_ first; a push racing with the end of
  // the stream is refused by appsrc, which frees the buffer and so releases its sample).
  stream_ended_.Reset();
  if (gst_app_src_end_of_stream(GST_APP_SRC(appsrc_.load(std::memory_order_relaxed))) ==
      GST_FLOW_OK) {
    stream_ended_.Wait(kEndOfStreamWaitMs);
  }
}

HRESULT GstAudioRenderer::Stop() {
  MutexLock lock(&mu_);
  running_.store(false, std::memory_order_release);
  EndStream();
  // Going to NULL flushes what appsrc holds and frees every buffer, so each sample goes home.
  if (pipeline_ != nullptr) gst_element_set_state(pipeline_, GST_STATE_NULL);
  state_ = State_Stopped;
  return S_OK;
}

HRESULT GstAudioRenderer::SetVolume(int32_t volume) {
  if (volume < kSilentVolume || volume > 0) return E_INVALIDARG;
  MutexLock lock(&mu_);
  volume_ = volume;
  if (volume_element_ != nullptr) {
    g_object_set(volume_element_, "volume", LinearGain(volume), nullptr);
  }
  return S_OK;
}

int32_t GstAudioRenderer::volume() const {
  MutexLock lock(&mu_);
  return volume_;
}

HRESULT GstAudioRenderer::Receive(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  if (!running_.load(std::memory_order_acquire)) return VFW_E_WRONG_STATE;
  GstElement* source = appsrc_.load(std::memory_order_acquire);
  if (source == nullptr) return VFW_E_WRONG_STATE;
  uint8_t* data = nullptr;
  const int32_t length = sample->GetActualDataLength();
  if (FAILED(sample->GetPointer(&data)) || data == nullptr || length <= 0) return S_OK;
  sample->AddRef();  // released when GStreamer frees the buffer
  GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, data, length, 0, length,
                                                  sample, ReleaseSample);
  if (const uint64_t rate = bytes_per_second_.load(std::memory_order_relaxed); rate != 0) {
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(length, GST_SECOND, rate);
  }
  // Takes the buffer in every case; appsrc never blocks the caller.
  const GstFlowReturn result = gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
  return result == GST_FLOW_OK ? S_OK : S_FALSE;
}

}  // namespace vqscw
