// The preview operations the selector uses, behind an interface so that tests can stand a
// recording fake in for the real playback.
//
// Every call comes from the dialog's thread, as the preview requires (vqscwlib/preview/preview.h).
#ifndef VQSCWLIB_SELECTOR_PREVIEW_API_H_
#define VQSCWLIB_SELECTOR_PREVIEW_API_H_

#include <cstdint>

#include "vqscwlib/preview/preview.h"

namespace vqscw {

class PreviewApi {
 public:
  virtual ~PreviewApi() = default;
  virtual HRESULT Start(uint32_t channel, PreviewProgressCallback callback, void* user,
                        uint32_t interface_address) = 0;
  virtual void Stop(PreviewProgressCallback callback, void* user) = 0;
  virtual HRESULT SetVolume(int32_t volume) = 0;
  virtual HRESULT GetLevels(int32_t* left, int32_t* right) = 0;
  virtual HRESULT GetStatistics(uint32_t* elapsed_ms, uint32_t* packets) = 0;
  virtual HRESULT GetHealth(ReceiverHealth* health) = 0;
};

// The library's own preview.
PreviewApi& LibraryPreviewApi();

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_PREVIEW_API_H_
