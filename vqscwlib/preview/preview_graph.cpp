#include "vqscwlib/preview/preview_graph.h"

#include <atomic>
#include <new>
#include <vector>

#include "vqscwlib/preview/gst_audio_renderer.h"

namespace {

constexpr char16_t kRendererName[] = u"Audio Renderer";

class CPreviewGraph final : public IGraphBuilder, public IMediaControl, public IBasicAudio {
 public:
  CPreviewGraph() = default;
  CPreviewGraph(const CPreviewGraph&) = delete;
  CPreviewGraph& operator=(const CPreviewGraph&) = delete;

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IFilterGraph || iid == IID_IGraphBuilder) {
      *object = static_cast<IGraphBuilder*>(this);
    } else if (iid == IID_IMediaControl) {
      *object = static_cast<IMediaControl*>(this);
    } else if (iid == IID_IBasicAudio) {
      *object = static_cast<IBasicAudio*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ref_count_.fetch_add(1, std::memory_order_acq_rel) + 1; }
  uint32_t Release() override {
    const uint32_t left = ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT AddFilter(IBaseFilter* filter, const char16_t* name) override {
    if (filter == nullptr) return E_POINTER;
    const HRESULT hr = filter->JoinFilterGraph(this, name);
    if (FAILED(hr)) return hr;
    filter->AddRef();
    filters_.push_back(filter);
    return S_OK;
  }

  HRESULT RemoveFilter(IBaseFilter* filter) override {
    for (auto it = filters_.begin(); it != filters_.end(); ++it) {
      if (*it != filter) continue;
      filters_.erase(it);
      filter->JoinFilterGraph(nullptr, nullptr);
      if (filter == renderer_) renderer_ = nullptr;
      filter->Release();
      return S_OK;
    }
    return VFW_E_NOT_FOUND;
  }

  HRESULT Render(IPin* output) override {
    if (output == nullptr) return E_POINTER;
    PIN_DIRECTION direction;
    if (FAILED(output->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
      return VFW_E_INVALID_DIRECTION;
    }
    vqscw::GstAudioRenderer* renderer = nullptr;
    HRESULT hr = vqscw::GstAudioRenderer::Create(&renderer);
    if (FAILED(hr)) return hr;
    hr = AddFilter(renderer, kRendererName);
    if (SUCCEEDED(hr)) {
      IPin* input = renderer->input_pin();
      hr = output->Connect(input, nullptr);
      if (SUCCEEDED(hr)) {
        output->AddRef();
        input->AddRef();
        connections_.push_back({output, input});
        renderer_ = renderer;
      } else {
        RemoveFilter(renderer);
      }
    }
    renderer->Release();
    return hr;
  }

  HRESULT Run() override {
    if (state_ == State_Running) return S_OK;
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
      const HRESULT hr = (*it)->Run(0);
      if (FAILED(hr)) {
        Stop();  // leave nothing half running
        return hr;
      }
    }
    state_ = State_Running;
    return S_OK;
  }

  HRESULT Stop() override {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) (*it)->Stop();
    state_ = State_Stopped;
    return S_OK;
  }

  HRESULT GetState(uint32_t, FILTER_STATE* state) override {
    if (state == nullptr) return E_POINTER;
    *state = state_;
    return S_OK;
  }

  HRESULT put_Volume(int32_t volume) override {
    if (renderer_ == nullptr) return E_NOTIMPL;
    return renderer_->SetVolume(volume);
  }

  HRESULT get_Volume(int32_t* volume) override {
    if (volume == nullptr) return E_POINTER;
    if (renderer_ == nullptr) return E_NOTIMPL;
    *volume = renderer_->volume();
    return S_OK;
  }

 private:
  struct Connection {
    IPin* output;
    IPin* input;
  };

  ~CPreviewGraph() {
    Stop();
    // The pins of a connection hold each other's filters: break the cycle first.
    for (const Connection& connection : connections_) {
      connection.output->Disconnect();
      connection.input->Disconnect();
      connection.output->Release();
      connection.input->Release();
    }
    renderer_ = nullptr;
    for (IBaseFilter* filter : filters_) {
      filter->JoinFilterGraph(nullptr, nullptr);
      filter->Release();
    }
  }

  std::atomic<uint32_t> ref_count_{1};
  FILTER_STATE state_ = State_Stopped;
  std::vector<IBaseFilter*> filters_;  // referenced, in the order added
  std::vector<Connection> connections_;
  vqscw::GstAudioRenderer* renderer_ = nullptr;  // one of filters_
};

}  // namespace

HRESULT CreatePreviewGraph(IGraphBuilder** graph) {
  if (graph == nullptr) return E_POINTER;
  *graph = new (std::nothrow) CPreviewGraph();
  return *graph != nullptr ? S_OK : E_OUTOFMEMORY;
}
