#include "tools/spy/spy_listener.h"

#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/source_spy.h"

namespace vqscw::tools {

bool SpyListener::Open(uint32_t interface_address, const std::string* acl, std::string* error) {
  uint32_t result = vqscwSourceSpyOpen(&spy_, interface_address, kTerminalPort);
  if (result != SPY_OK) {
    spy_ = nullptr;
    *error = "cannot listen for advertisements on the card (source spy error " +
             std::to_string(result) + ")";
    return false;
  }
  if (acl != nullptr && (result = vqscwSourceSpySetAccessList(spy_, acl->c_str())) != SPY_OK) {
    Close();
    *error = "cannot set the access list (source spy error " + std::to_string(result) + ")";
    return false;
  }
  // Removals first: a terminal that expires after the enumeration is then never missed. What
  // the spy heard before the enumeration, the enumeration reports.
  SourceSpyWatchRemovals(spy_, &SpyListener::OnRemoved, this);
  SourceSpyEnumerateRecords(spy_, &SpyListener::OnSource, this, 1);
  return true;
}

void SpyListener::Close() {
  if (spy_ == nullptr) return;
  vqscwSourceSpyClose(spy_);
  spy_ = nullptr;
}

std::vector<SpyEvent> SpyListener::Take(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mu_);
  ready_.wait_for(lock, wait, [this] { return !queue_.empty(); });
  std::vector<SpyEvent> events(std::make_move_iterator(queue_.begin()),
                               std::make_move_iterator(queue_.end()));
  queue_.clear();
  return events;
}

int SpyListener::OnSource(SourceSpy*, const SpySource* source, void* user) {
  static_cast<SpyListener*>(user)->Push(CopySource(*source, WallClock::now()));
  return 1;
}

void SpyListener::OnRemoved(SourceSpy*, const SpyTerminal* terminal, int expired, void* user) {
  // A terminal whose advertisement changed is reported again through its sources.
  if (expired != 0)
    static_cast<SpyListener*>(user)->Push(CopyTerminal(*terminal, WallClock::now()));
}

void SpyListener::Push(SpyEvent event) {
  bool was_empty = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    was_empty = queue_.empty();
    queue_.push_back(std::move(event));
  }
  // Take waits only for an empty queue: a flood of reports wakes it once, not once a report.
  if (was_empty) ready_.notify_one();
}

}  // namespace vqscw::tools
