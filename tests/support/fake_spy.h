// A source spy for the dialog's tests: records every call, keeps each handle's callback, and
// "hears" sources on demand from any thread, calling the kept callbacks with its lock held as the
// real listening thread does.
#ifndef TESTS_SUPPORT_FAKE_SPY_H_
#define TESTS_SUPPORT_FAKE_SPY_H_

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/selector/spy_api.h"

namespace vqscw::testing {

class FakeSpy : public SpyApi {
 public:
  struct Call {
    std::string what;  // "open", "close", "acl", "enumerate"
    SourceSpy* handle;
    uint32_t address;  // open: the interface address
    std::string text;  // acl: the access list
  };

  // Results the next calls give.
  uint32_t open_result = SPY_OK;
  uint32_t access_list_result = SPY_OK;

  uint32_t Open(SourceSpy** handle, uint32_t interface_address, uint16_t port) override;
  uint32_t Close(SourceSpy* handle) override;
  uint32_t SetAccessList(SourceSpy* handle, const char* text) override;
  uint32_t Enumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep) override;
  uint32_t GetInterface(SourceSpy* handle, uint32_t* address) override;

  // A spy the host opened itself, on `address`, to lend to the dialog.
  SourceSpy* OpenForHost(uint32_t address);

  // Adds or renames a source in the table every open spy hears, and reports it to the kept
  // callback of each open spy, with the lock held. Any thread.
  void Hear(uint32_t channel, const std::string& name);

  bool IsOpen(SourceSpy* handle);
  uint16_t PortOf(SourceSpy* handle);
  // The callback `handle` keeps, or null.
  SourceCallback KeptCallback(SourceSpy* handle);
  std::vector<Call> Calls();
  int CountCalls(const std::string& what);

 private:
  struct Record {
    bool open = true;
    uint32_t address = 0;
    uint16_t port = 0;
    SourceCallback callback = nullptr;
    void* user = nullptr;
  };

  Record* Find(SourceSpy* handle) REQUIRES(mu_);
  static void Report(SourceSpy* handle, const Record& record, uint32_t channel,
                     const std::string& name);

  Mutex mu_;
  std::deque<Record> records_ GUARDED_BY(mu_);  // stable addresses: a handle is a record's address
  std::map<uint32_t, std::string> table_ GUARDED_BY(mu_);
  std::vector<Call> calls_ GUARDED_BY(mu_);
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_FAKE_SPY_H_
