#include "tools/monitor/spy_follower.h"

#include <unistd.h>

#include <cstdio>

#include "vqscw/host.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/source_spy.h"

namespace vqscw::tools {
namespace {

// Runs `open` with the process's standard output sent to standard error: the spy announces its
// endpoints on standard output, where the monitor's JSON lines go.
template <typename Open>
uint32_t WithOutputOnStandardError(Open open) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (saved >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  const uint32_t result = open();
  std::fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  return result;
}

}  // namespace

bool SpyFollower::Open(uint32_t interface_address, std::string* error) {
  const uint32_t result = WithOutputOnStandardError(
      [&] { return vqscwSourceSpyOpen(&spy_, interface_address, kTerminalPort); });
  if (result != SPY_OK) {
    spy_ = nullptr;
    *error = "cannot listen for advertisements (source spy error " + std::to_string(result) + ")";
    return false;
  }
  // Removals first: a terminal that leaves after the enumeration is then never missed.
  SourceSpyWatchRemovals(spy_, &SpyFollower::OnRemoved, this);
  SourceSpyEnumerate(spy_, &SpyFollower::OnSource, this, 1);
  return true;
}

void SpyFollower::Close() {
  if (spy_ == nullptr) return;
  vqscwSourceSpyClose(spy_);
  spy_ = nullptr;
}

int SpyFollower::OnSource(SourceSpy*, SourceInfo* info, void* user) {
  static_cast<SpyFollower*>(user)->Offered(info->channel);
  return 1;
}

void SpyFollower::OnRemoved(SourceSpy*, const SpyTerminal* terminal, int, void* user) {
  static_cast<SpyFollower*>(user)->TerminalGone(*terminal);
}

void SpyFollower::Offered(uint32_t channel) {
  vqscw::MutexLock lock(&mu_);
  if (offers_[channel]++ == 0) changed_.insert(channel);
}

void SpyFollower::TerminalGone(const SpyTerminal& terminal) {
  vqscw::MutexLock lock(&mu_);
  const SpySource* sources = terminal.sources();
  for (uint16_t i = 0; i < terminal.nums; ++i) {
    const SpySource& source = sources[i];
    // The slots that were reported: filled, and of a type the spy reports.
    if (source.tag == 0 || source.fast == kHiddenStreamType) continue;
    const auto found = offers_.find(source.psid);
    // Sources that left before the enumeration reported them were never counted.
    if (found == offers_.end() || found->second == 0) continue;
    if (--found->second == 0) changed_.insert(source.psid);
  }
}

std::vector<std::pair<uint32_t, bool>> SpyFollower::TakeChanges() {
  vqscw::MutexLock lock(&mu_);
  std::vector<std::pair<uint32_t, bool>> changes;
  for (uint32_t channel : changed_) changes.emplace_back(channel, offers_[channel] > 0);
  changed_.clear();
  return changes;
}

}  // namespace vqscw::tools
