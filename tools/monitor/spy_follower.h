// Which channels the advertisements on a card offer, for vqscw-monitor --all: the library's
// source spy reports each source as it is heard and each terminal that leaves its table
// (expired, or replaced by a new advertisement whose sources are then reported again); the
// follower counts the offers of every channel and tells the monitor's thread which channels
// started or stopped being offered.
//
// Threads: the spy's callbacks run on its listening thread with its lock held; they only take
// the follower's own lock, briefly. Open, Close and TakeChanges belong to the monitor's thread.
// Lock order: the spy's lock, then the follower's.
#ifndef TOOLS_MONITOR_SPY_FOLLOWER_H_
#define TOOLS_MONITOR_SPY_FOLLOWER_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vqscwlib/base/thread_annotations.h"

struct SourceSpy;
struct SourceInfo;
struct SpyTerminal;

namespace vqscw::tools {

class SpyFollower {
 public:
  SpyFollower() = default;
  ~SpyFollower() { Close(); }
  SpyFollower(const SpyFollower&) = delete;
  SpyFollower& operator=(const SpyFollower&) = delete;

  // Opens a spy on the card `interface_address` (network order as held in memory). The spy's
  // own lines go to standard error, so that standard output keeps only the monitor's. False with
  // a message when it cannot be opened.
  bool Open(uint32_t interface_address, std::string* error);
  // Closes the spy; no callback runs after it returns.
  void Close();

  // The channels whose offer changed since the last call, each with whether it is offered now,
  // in ascending order.
  std::vector<std::pair<uint32_t, bool>> TakeChanges();

  // What the spy's callbacks do, callable by tests: a source heard, a terminal gone.
  void Offered(uint32_t channel);
  void TerminalGone(const SpyTerminal& terminal);

 private:
  static int OnSource(SourceSpy* spy, SourceInfo* info, void* user);
  static void OnRemoved(SourceSpy* spy, const SpyTerminal* terminal, int expired, void* user);

  SourceSpy* spy_ = nullptr;
  vqscw::Mutex mu_;
  std::map<uint32_t, int> offers_ GUARDED_BY(mu_);  // sources heard per channel
  std::set<uint32_t> changed_ GUARDED_BY(mu_);
};

}  // namespace vqscw::tools

#endif  // TOOLS_MONITOR_SPY_FOLLOWER_H_
