#include "vqscwlib/selector/spy_api.h"

namespace vqscw {
namespace {

class LibrarySpy final : public SpyApi {
 public:
  uint32_t Open(SourceSpy** handle, uint32_t interface_address, uint16_t port) override {
    return vqscwSourceSpyOpen(handle, interface_address, port);
  }
  uint32_t Close(SourceSpy* handle) override { return vqscwSourceSpyClose(handle); }
  uint32_t SetAccessList(SourceSpy* handle, const char* text) override {
    return vqscwSourceSpySetAccessList(handle, text);
  }
  uint32_t Enumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep) override {
    return SourceSpyEnumerate(handle, callback, user, keep);
  }
  uint32_t GetInterface(SourceSpy* handle, uint32_t* address) override {
    return SourceSpyGetInterface(handle, address);
  }
};

}  // namespace

SpyApi& LibrarySpyApi() {
  static LibrarySpy api;
  return api;
}

}  // namespace vqscw
