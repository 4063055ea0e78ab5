// The source spy operations the selector uses, behind an interface so that tests can stand a
// recording fake in for the real service.
#ifndef VQSCWLIB_SELECTOR_SPY_API_H_
#define VQSCWLIB_SELECTOR_SPY_API_H_

#include <cstdint>

#include "vqscwlib/spy/source_spy.h"

namespace vqscw {

class SpyApi {
 public:
  virtual ~SpyApi() = default;
  virtual uint32_t Open(SourceSpy** handle, uint32_t interface_address, uint16_t port) = 0;
  virtual uint32_t Close(SourceSpy* handle) = 0;
  virtual uint32_t SetAccessList(SourceSpy* handle, const char* text) = 0;
  virtual uint32_t Enumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep) = 0;
  virtual uint32_t GetInterface(SourceSpy* handle, uint32_t* address) = 0;
};

// The library's own source spy.
SpyApi& LibrarySpyApi();

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SPY_API_H_
