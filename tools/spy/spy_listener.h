// vqscw-spy's hold on the library's source spy: the spy listens on its own thread and reports
// each source its access list lets pass and each terminal that expires; the listener copies
// every report into a queue that the tool's thread takes them from and prints, so that no
// printing or file writing holds up the spy's thread.
//
// Threads: the spy's callbacks run on its listening thread with its lock held and only take the
// queue's lock, briefly. Open, Close and Take belong to the tool's thread.
#ifndef TOOLS_SPY_SPY_LISTENER_H_
#define TOOLS_SPY_SPY_LISTENER_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "tools/spy/spy_report.h"

struct SourceSpy;

namespace vqscw::tools {

using SpyEvent = std::variant<HeardSource, GoneTerminal>;

class SpyListener {
 public:
  SpyListener() = default;
  ~SpyListener() { Close(); }
  SpyListener(const SpyListener&) = delete;
  SpyListener& operator=(const SpyListener&) = delete;

  // Opens the spy on the card `interface_address` (network order as held in memory), with the
  // access list `acl` unless it is null. False with a message when that fails.
  bool Open(uint32_t interface_address, const std::string* acl, std::string* error);
  // Closes the spy: every report it made is in the queue, and none comes after.
  void Close();

  // The reports queued, oldest first, once there is one or `wait` has passed.
  std::vector<SpyEvent> Take(std::chrono::milliseconds wait);

 private:
  static int OnSource(SourceSpy* spy, const SpySource* source, void* user);
  static void OnRemoved(SourceSpy* spy, const SpyTerminal* terminal, int expired, void* user);
  void Push(SpyEvent event);

  SourceSpy* spy_ = nullptr;
  std::mutex mu_;
  std::condition_variable ready_;
  std::deque<SpyEvent> queue_;  // guarded by mu_
};

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_SPY_LISTENER_H_
