#include "vqscwlib/selector/preview_api.h"

namespace vqscw {
namespace {

class LibraryPreview final : public PreviewApi {
 public:
  HRESULT Start(uint32_t channel, PreviewProgressCallback callback, void* user,
                uint32_t interface_address) override {
    return PreviewStart(channel, callback, user, interface_address);
  }
  void Stop(PreviewProgressCallback callback, void* user) override { PreviewStop(callback, user); }
  HRESULT SetVolume(int32_t volume) override { return PreviewSetVolume(volume); }
  HRESULT GetLevels(int32_t* left, int32_t* right) override {
    return PreviewGetLevels(left, right);
  }
  HRESULT GetStatistics(uint32_t* elapsed_ms, uint32_t* packets) override {
    return PreviewGetStatistics(elapsed_ms, packets);
  }
  HRESULT GetHealth(ReceiverHealth* health) override { return PreviewGetHealth(health); }
};

}  // namespace

PreviewApi& LibraryPreviewApi() {
  static LibraryPreview api;
  return api;
}

}  // namespace vqscw
