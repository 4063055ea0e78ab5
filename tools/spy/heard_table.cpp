#include "tools/spy/heard_table.h"

#include <vector>

namespace vqscw::tools {
namespace {

int OnFilled(SpySource* source, void* user) {
  (*static_cast<const HeardTable::SourceHandler*>(user))(*source);
  return 1;
}

// A record in the table expires at most one terminal lifetime from now, so its expiry moved back
// by two lifetimes lies in the past whatever the tick is.
constexpr uint32_t kPastLifetime = 2 * kTerminalLifetimeMs;

}  // namespace

HeardTable::~HeardTable() { ReleaseAll(); }

void HeardTable::Register(CMessage* message, const SourceHandler& on_source) {
  advspy_Register(&first_, message, requester_, OnFilled, const_cast<SourceHandler*>(&on_source));
}

void HeardTable::Collect(const GoneHandler& on_gone) {
  // The library tells no one what it drops: compare the records before and after.
  std::vector<std::pair<const SpyTerminal*, GoneTerminal>> before;
  for (const SpyTerminal* t = first_; t != nullptr; t = t->next) {
    before.push_back({t, {t->hwid, t->inip, t->name}});
  }
  if (advspy_GarbageCollect(&first_) == 0) return;
  for (const auto& [record, gone] : before) {
    bool kept = false;
    for (const SpyTerminal* t = first_; t != nullptr && !kept; t = t->next) kept = t == record;
    if (!kept) on_gone(gone);
  }
}

void HeardTable::ReleaseAll() {
  // Records are the library's to release: make every one due and let the collection drop them.
  for (SpyTerminal* t = first_; t != nullptr; t = t->next) t->expiry -= kPastLifetime;
  advspy_GarbageCollect(&first_);
}

}  // namespace vqscw::tools
