// The receiving half of vqscw-monitor: one socket per watched channel, all drained by one thread
// in the receiver filter's way (sleep in a wait on every socket while nothing arrives; while
// packets flow, rest a short tick and then take whatever gathered with batched recvmmsg() calls),
// each datagram counted by the library's stream health counting. Nothing is allocated per packet.
//
// Threads: one thread owns a ChannelMonitor.
#ifndef TOOLS_MONITOR_CHANNEL_MONITOR_H_
#define TOOLS_MONITOR_CHANNEL_MONITOR_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/monitor/monitor_report.h"
#include "vqscwlib/platform/datagram_socket.h"
#include "vqscwlib/preview/stream_health.h"

namespace vqscw::tools {

class ChannelMonitor {
 public:
  // Joins on the card `interface_address` (network order as held in memory).
  explicit ChannelMonitor(uint32_t interface_address);
  ~ChannelMonitor();
  ChannelMonitor(const ChannelMonitor&) = delete;
  ChannelMonitor& operator=(const ChannelMonitor&) = delete;

  // Starts receiving `channel` from its group, port 5004. A channel joined again after leaving
  // keeps its counts (the time away is neither loss nor gap). False with a message when the
  // socket cannot be opened or joined.
  bool Join(uint32_t channel, std::string* error);
  // Stops receiving `channel`; its counts stay for the total.
  void Leave(uint32_t channel);
  bool joined(uint32_t channel) const;
  // Channels now joined, and every channel ever joined, in ascending order.
  std::vector<uint32_t> JoinedChannels() const;
  std::vector<uint32_t> AllChannels() const;

  // Waits at most `max_wait_ms` for packets (a signal ends the wait early), then takes what
  // every socket holds.
  void Receive(int max_wait_ms);

  // The counts of `channel` since the previous call (or since it was first joined), judged for
  // silence at `now_us`; starts the next interval.
  ChannelReport TakeInterval(uint32_t channel, uint64_t now_us);
  // The counts of the whole run.
  ChannelReport Total(uint32_t channel) const;

  // Datagrams received into the monitor, for tests and benchmarks.
  uint64_t datagrams() const { return datagrams_; }

 private:
  struct Channel {
    DatagramSocket socket;
    StreamHealth health;
    StreamHealthCounts reported;  // as of the last interval taken
    PeakMagnitudes run_peaks;
  };

  // Receives what `channel`'s socket holds. Returns the datagrams taken.
  int Drain(Channel* channel);

  const uint32_t interface_address_;
  std::map<uint32_t, std::unique_ptr<Channel>> channels_;
  bool streaming_ = false;  // packets came at the last drain: rest a tick instead of polling
  SocketWait idle_wait_;    // kept, so that an idle wait allocates nothing
  SocketWait rest_;         // the tick's rest: a wait on nothing
  std::vector<uint8_t> memory_;
  uint8_t* buffers_[DatagramBatch::kCapacity] = {};
  DatagramBatch batch_;
  uint64_t datagrams_ = 0;
};

}  // namespace vqscw::tools

#endif  // TOOLS_MONITOR_CHANNEL_MONITOR_H_
