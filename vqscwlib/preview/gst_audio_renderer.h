// The audio output of the preview graph: a filter with one input pin that hands every sample it
// receives to a GStreamer pipeline without copying it, and plays it there:
//
//   appsrc [! mpegaudioparse ! mpg123audiodec] ! audioconvert ! audioresample ! volume ! SINK
//
// SINK is the pipeline text in $VQSCW_AUDIO_SINK (for example "fakesink" or
// "wavenc ! filesink location=out.wav"), else "autoaudiosink". Each sample becomes a GstBuffer
// that wraps the sample's memory; freeing the buffer releases the sample, which returns its
// pooled block to the source.
//
// Threads: state changes, connections and volume run on the graph's control thread; Receive runs
// on the upstream filter's receive thread and never blocks. Samples are released on GStreamer's
// threads or on the thread that pushed them.
#ifndef VQSCWLIB_PREVIEW_GST_AUDIO_RENDERER_H_
#define VQSCWLIB_PREVIEW_GST_AUDIO_RENDERER_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/platform/event.h"
#include "vqscwlib/preview/media_interfaces.h"

typedef struct _GstElement GstElement;
typedef struct _GstCaps GstCaps;

namespace vqscw {

// Called on a GStreamer thread for every block that leaves the volume stage for the sink.
using AudioBlockObserver = void (*)(void* user);
// Installs the process-wide observer (null removes it). For measurements and tests.
void SetAudioBlockObserver(AudioBlockObserver observer, void* user);

// The caps for a media type the renderer can play (16- or 24-bit PCM, one or two channels, or
// MPEG audio), or null. *compressed tells whether a decoder is needed. The caller unrefs them.
GstCaps* CapsForMediaType(const AM_MEDIA_TYPE& type, bool* compressed);

// Maps 0.01 dB (-10000 silent to 0 full) to the volume element's linear gain.
double LinearGain(int32_t volume);

class GstAudioRenderer final : public IBaseFilter {
 public:
  static constexpr char16_t kPinName[] = u"In";
  static constexpr int32_t kSilentVolume = -10000;

  // A stopped renderer with one reference for the caller. E_FAIL when GStreamer cannot start.
  static HRESULT Create(GstAudioRenderer** renderer);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT GetClassID(CLSID* class_id) override;

  // Pause and Run start the pipeline; a sink that cannot start gives VFW_E_NO_AUDIO_HARDWARE
  // (with the pipeline stopped again) instead of waiting. Stop of a running renderer first ends
  // the stream and waits a bounded time (a few hundred ms at most) for the end to pass through
  // the sink, so that a file sink is complete; then it stops the pipeline, which frees every
  // sample it still holds.
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(uint32_t timeout_ms, FILTER_STATE* state) override;

  HRESULT FindPin(const char16_t* id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, const char16_t* name) override;
  HRESULT QueryVendorInfo(char16_t**) override { return E_NOTIMPL; }

  // The input pin, without an added reference.
  IPin* input_pin();

  // Volume in 0.01 dB: E_INVALIDARG outside -10000..0.
  HRESULT SetVolume(int32_t volume);
  int32_t volume() const;

 private:
  class InputPin;

  GstAudioRenderer();
  ~GstAudioRenderer();

  HRESULT Start(int target_state);  // a GstState
  HRESULT BuildPipeline(const AM_MEDIA_TYPE& type) REQUIRES(mu_);
  void DestroyPipeline() REQUIRES(mu_);
  // Ends the stream of a running pipeline and waits, bounded, until the sink has seen the end.
  void EndStream() REQUIRES(mu_);
  HRESULT Receive(IMediaSample* sample);

  std::atomic<uint32_t> ref_count_{1};
  InputPin* const pin_;  // owned; shares this reference count

  mutable Mutex mu_;
  FILTER_STATE state_ GUARDED_BY(mu_) = State_Stopped;
  IFilterGraph* graph_ GUARDED_BY(mu_) = nullptr;  // not referenced
  std::u16string name_ GUARDED_BY(mu_);
  int32_t volume_ GUARDED_BY(mu_) = 0;
  GstElement* pipeline_ GUARDED_BY(mu_) = nullptr;
  GstElement* volume_element_ GUARDED_BY(mu_) = nullptr;

  // Read by Receive on the receive thread. appsrc_ is set while stopped and kept until the
  // renderer is destroyed; running_ says whether pushing makes sense.
  std::atomic<GstElement*> appsrc_{nullptr};
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> bytes_per_second_{0};  // 0 for compressed audio
  std::atomic<bool> sink_error_{false};        // an error came up from the pipeline
  // Set on a GStreamer thread when the end of the stream has passed through every sink.
  Event stream_ended_{Event::ResetMode::kManual};
};

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_GST_AUDIO_RENDERER_H_
