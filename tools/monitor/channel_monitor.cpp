#include "tools/monitor/channel_monitor.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "vqscwlib/preview/network_receiver.h"
#include "vqscwlib/preview/preview.h"
#include "vqscwlib/preview/receiver_filter.h"

namespace vqscw::tools {
namespace {

constexpr uint32_t kBufferBytes = CNetworkReceiverFilter::kReceiveBufferSize;
constexpr int kDrainTickMs = CNetworkReceiver::kDrainTickMs;
constexpr int kMaxDrainRounds = CNetworkReceiver::kMaxDrainRounds;

}  // namespace

ChannelMonitor::ChannelMonitor(uint32_t interface_address)
    : interface_address_(interface_address),
      memory_(static_cast<size_t>(kBufferBytes) * DatagramBatch::kCapacity) {
  for (int i = 0; i < DatagramBatch::kCapacity; ++i)
    buffers_[i] = memory_.data() + i * kBufferBytes;
}

ChannelMonitor::~ChannelMonitor() = default;

bool ChannelMonitor::Join(uint32_t number, std::string* error) {
  auto& slot = channels_[number];
  if (slot == nullptr) {
    slot = std::make_unique<Channel>();
    slot->health.Configure(Rtp24StereoHealthFormat());
  }
  Channel& channel = *slot;
  if (channel.socket.IsOpen()) return true;
  if (channel.socket.OpenGroup(PreviewGroup(number), htons(kStreamPort), interface_address_) != 0) {
    *error = "cannot receive channel " + std::to_string(number) + ": " +
             std::strerror(channel.socket.LastError());
    return false;
  }
  channel.health.Restart();
  return true;
}

void ChannelMonitor::Leave(uint32_t number) {
  const auto found = channels_.find(number);
  if (found == channels_.end() || !found->second->socket.IsOpen()) return;
  found->second->socket.Close();
}

bool ChannelMonitor::joined(uint32_t number) const {
  const auto found = channels_.find(number);
  return found != channels_.end() && found->second->socket.IsOpen();
}

std::vector<uint32_t> ChannelMonitor::JoinedChannels() const {
  std::vector<uint32_t> numbers;
  for (const auto& [number, channel] : channels_) {
    if (channel->socket.IsOpen()) numbers.push_back(number);
  }
  return numbers;
}

std::vector<uint32_t> ChannelMonitor::AllChannels() const {
  std::vector<uint32_t> numbers;
  for (const auto& entry : channels_) numbers.push_back(entry.first);
  return numbers;
}

void ChannelMonitor::Receive(int max_wait_ms) {
  if (streaming_) {
    // While packets flow, rest a tick and take what gathered, instead of waking for each one.
    rest_.Wait(std::min(max_wait_ms, kDrainTickMs));
  } else {
    // Idle: sleep until something arrives on any socket.
    idle_wait_.Clear();
    for (const auto& entry : channels_) {
      if (entry.second->socket.IsOpen()) idle_wait_.Add(&entry.second->socket);
    }
    if (idle_wait_.Wait(max_wait_ms) != WaitResult::kReady) return;
  }
  int taken = 0;
  for (auto& entry : channels_) {
    if (entry.second->socket.IsOpen()) taken += Drain(entry.second.get());
  }
  streaming_ = taken > 0;
}

int ChannelMonitor::Drain(Channel* channel) {
  int taken = 0;
  for (int round = 0; round < kMaxDrainRounds; ++round) {
    const int received =
        channel->socket.ReceiveBatch(&batch_, buffers_, kBufferBytes, DatagramBatch::kCapacity);
    if (received <= 0) break;  // drained, or a receive error
    for (int i = 0; i < received; ++i) {
      // A datagram longer than the buffer is an error, as in the receiver filter.
      if (!batch_.truncated(i)) {
        channel->health.Observe(buffers_[i], batch_.length(i), batch_.arrival_us(i));
      }
    }
    taken += received;
    if (received < DatagramBatch::kCapacity) break;
  }
  datagrams_ += static_cast<uint64_t>(taken);
  return taken;
}

ChannelReport ChannelMonitor::TakeInterval(uint32_t number, uint64_t now_us) {
  ChannelReport report;
  report.channel = number;
  const auto found = channels_.find(number);
  if (found == channels_.end()) return report;
  Channel& channel = *found->second;
  const StreamHealthCounts now = channel.health.Counts();
  const StreamHealthCounts& before = channel.reported;
  const PeakMagnitudes peaks = channel.health.TakeIntervalPeaks();
  channel.run_peaks.left = std::max(channel.run_peaks.left, peaks.left);
  channel.run_peaks.right = std::max(channel.run_peaks.right, peaks.right);
  report.packets = now.packets - before.packets;
  report.lost = static_cast<int64_t>(now.lost) - static_cast<int64_t>(before.lost);
  report.duplicated = now.duplicated - before.duplicated;
  report.reordered = now.reordered - before.reordered;
  report.jitter_ms = now.jitter_ms;
  report.peak_left_dbfs = PeakDbfs(peaks.left);
  report.peak_right_dbfs = PeakDbfs(peaks.right);
  report.silent = IsSilent(now, now_us);
  report.has_ssrc = now.has_ssrc;
  report.ssrc = now.ssrc;
  channel.reported = now;
  return report;
}

ChannelReport ChannelMonitor::Total(uint32_t number) const {
  ChannelReport report;
  report.channel = number;
  const auto found = channels_.find(number);
  if (found == channels_.end()) return report;
  const Channel& channel = *found->second;
  const StreamHealthCounts counts = channel.health.Counts();
  // Peaks not yet taken by an interval count too.
  PeakMagnitudes peaks = channel.run_peaks;
  const PeakMagnitudes& pending = channel.health.interval_peaks();
  peaks.left = std::max(peaks.left, pending.left);
  peaks.right = std::max(peaks.right, pending.right);
  report.packets = counts.packets;
  report.lost = static_cast<int64_t>(counts.lost);
  report.duplicated = counts.duplicated;
  report.reordered = counts.reordered;
  report.jitter_ms = counts.max_jitter_ms;
  report.peak_left_dbfs = PeakDbfs(peaks.left);
  report.peak_right_dbfs = PeakDbfs(peaks.right);
  // Silent throughout: audio came and nothing in it reached -60 dBFS.
  report.silent = counts.has_levels && !counts.heard_sound;
  report.has_ssrc = counts.has_ssrc;
  report.ssrc = counts.ssrc;
  return report;
}

}  // namespace vqscw::tools
