// TEMPORARY STAND-IN for the source spy, so the selector links and runs before the spy service
// exists. It opens and closes handles and keeps the client's callback, but hears nothing: its
// table is always empty. Remove this file (and its line in vqscwlib/selector/CMakeLists.txt)
// when the real spy lands.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "vqscwlib/spy/source_spy.h"

struct SourceSpy {
  uint32_t magic = 0;
  uint32_t interface_address = 0;
  SourceCallback callback = nullptr;
  void* user = nullptr;
};

namespace {

constexpr uint32_t kOpenMagic = 0xFEE10001u;

std::mutex g_mutex;
// Closed spies stay readable, so later calls with their handles are refused.
std::vector<std::unique_ptr<SourceSpy>>& AllSpies() {
  static std::vector<std::unique_ptr<SourceSpy>> spies;
  return spies;
}

bool IsOpen(const SourceSpy* spy) { return spy != nullptr && spy->magic == kOpenMagic; }

}  // namespace

extern "C" {

uint32_t vqscwSourceSpyOpen(SourceSpy** handle, uint32_t interfaceAddress, uint16_t) {
  if (handle == nullptr) return SPY_E_HANDLE;
  std::lock_guard lock(g_mutex);
  auto spy = std::make_unique<SourceSpy>();
  spy->magic = kOpenMagic;
  spy->interface_address = interfaceAddress;
  *handle = spy.get();
  AllSpies().push_back(std::move(spy));
  return SPY_OK;
}

uint32_t vqscwSourceSpyClose(SourceSpy* handle) {
  std::lock_guard lock(g_mutex);
  if (!IsOpen(handle)) return SPY_E_HANDLE;
  handle->magic = 0;
  return SPY_OK;
}

uint32_t vqscwSourceSpySetAccessList(SourceSpy* handle, const char*) {
  std::lock_guard lock(g_mutex);
  return IsOpen(handle) ? SPY_OK : SPY_E_HANDLE;
}

}  // extern "C"

uint32_t SourceSpyEnumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep) {
  std::lock_guard lock(g_mutex);
  if (!IsOpen(handle)) return SPY_E_HANDLE;
  if (keep != 0) {
    handle->callback = callback;
    handle->user = user;
  }
  return SPY_OK;
}

uint32_t SourceSpyGetInterface(SourceSpy* handle, uint32_t* address) {
  std::lock_guard lock(g_mutex);
  if (!IsOpen(handle) || address == nullptr) return SPY_E_HANDLE;
  *address = handle->interface_address;
  return SPY_OK;
}
