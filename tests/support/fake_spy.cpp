#include "tests/support/fake_spy.h"

#include <algorithm>
#include <cstring>

namespace vqscw::testing {
namespace {

SourceSpy* HandleOf(void* record) { return reinterpret_cast<SourceSpy*>(record); }

SourceInfo InfoOf(uint32_t channel, const std::string& name) {
  SourceInfo info{};
  info.size = sizeof info;
  info.channel = channel;
  std::memcpy(info.name, name.data(), std::min(name.size(), sizeof info.name));
  return info;
}

}  // namespace

FakeSpy::Record* FakeSpy::Find(SourceSpy* handle) {
  for (Record& record : records_) {
    if (HandleOf(&record) == handle) return &record;
  }
  return nullptr;
}

uint32_t FakeSpy::Open(SourceSpy** handle, uint32_t interface_address, uint16_t port) {
  MutexLock lock(&mu_);
  calls_.push_back({"open", nullptr, interface_address, {}});
  if (open_result != SPY_OK) return open_result;
  records_.push_back(Record{true, interface_address, port, nullptr, nullptr});
  *handle = HandleOf(&records_.back());
  calls_.back().handle = *handle;
  return SPY_OK;
}

SourceSpy* FakeSpy::OpenForHost(uint32_t address) {
  MutexLock lock(&mu_);
  records_.push_back(Record{true, address, 0, nullptr, nullptr});
  return HandleOf(&records_.back());
}

uint32_t FakeSpy::Close(SourceSpy* handle) {
  MutexLock lock(&mu_);
  calls_.push_back({"close", handle, 0, {}});
  Record* record = Find(handle);
  if (record == nullptr || !record->open) return SPY_E_HANDLE;
  record->open = false;
  return SPY_OK;
}

uint32_t FakeSpy::SetAccessList(SourceSpy* handle, const char* text) {
  MutexLock lock(&mu_);
  calls_.push_back({"acl", handle, 0, text ? text : ""});
  Record* record = Find(handle);
  if (record == nullptr || !record->open) return SPY_E_HANDLE;
  return access_list_result;
}

uint32_t FakeSpy::Enumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep) {
  MutexLock lock(&mu_);
  calls_.push_back({"enumerate", handle, 0, {}});
  Record* record = Find(handle);
  if (record == nullptr || !record->open) return SPY_E_HANDLE;
  for (const auto& [channel, name] : table_) {
    SourceInfo info = InfoOf(channel, name);
    if (callback(handle, &info, user) == 0) return SPY_OK;
  }
  if (keep != 0) {
    record->callback = callback;
    record->user = user;
  }
  return SPY_OK;
}

uint32_t FakeSpy::GetInterface(SourceSpy* handle, uint32_t* address) {
  MutexLock lock(&mu_);
  Record* record = Find(handle);
  if (record == nullptr || !record->open) return SPY_E_HANDLE;
  *address = record->address;
  return SPY_OK;
}

void FakeSpy::Report(SourceSpy* handle, const Record& record, uint32_t channel,
                     const std::string& name) {
  SourceInfo info = InfoOf(channel, name);
  record.callback(handle, &info, record.user);
}

void FakeSpy::Hear(uint32_t channel, const std::string& name) {
  MutexLock lock(&mu_);
  table_[channel] = name;
  for (Record& record : records_) {
    if (record.open && record.callback != nullptr) Report(HandleOf(&record), record, channel, name);
  }
}

bool FakeSpy::IsOpen(SourceSpy* handle) {
  MutexLock lock(&mu_);
  Record* record = Find(handle);
  return record != nullptr && record->open;
}

uint16_t FakeSpy::PortOf(SourceSpy* handle) {
  MutexLock lock(&mu_);
  Record* record = Find(handle);
  return record ? record->port : 0;
}

SourceCallback FakeSpy::KeptCallback(SourceSpy* handle) {
  MutexLock lock(&mu_);
  Record* record = Find(handle);
  return record ? record->callback : nullptr;
}

std::vector<FakeSpy::Call> FakeSpy::Calls() {
  MutexLock lock(&mu_);
  return calls_;
}

int FakeSpy::CountCalls(const std::string& what) {
  MutexLock lock(&mu_);
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [&](const Call& c) { return c.what == what; }));
}

}  // namespace vqscw::testing
