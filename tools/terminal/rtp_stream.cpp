#include "tools/terminal/rtp_stream.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>

namespace vqscw::tools {
namespace {

constexpr uint8_t kRtpVersionBits = 2 << 6;
constexpr uint8_t kMarkerBit = 0x80;
constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
// When the sender falls further behind than this (a stalled machine), it skips ahead instead of
// sending a burst; the timestamps keep counting the skipped time.
constexpr int64_t kMaxCatchUpPackets = 100;

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

void SleepUntil(int64_t deadline_ns) {
  timespec at{};
  at.tv_sec = static_cast<time_t>(deadline_ns / kNsPerSecond);
  at.tv_nsec = static_cast<long>(deadline_ns % kNsPerSecond);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

}  // namespace

size_t WriteRtpPacket(const RtpHeader& header, const int32_t* samples, int frames,
                      int bytes_per_sample, uint8_t* out) {
  out[0] = kRtpVersionBits;  // no padding, no extension, no contributing sources
  out[1] = static_cast<uint8_t>((header.marker ? kMarkerBit : 0) | (header.payload_type & 0x7F));
  out[2] = static_cast<uint8_t>(header.sequence >> 8);
  out[3] = static_cast<uint8_t>(header.sequence);
  for (int i = 0; i < 4; ++i) {
    out[4 + i] = static_cast<uint8_t>(header.timestamp >> (24 - 8 * i));
    out[8 + i] = static_cast<uint8_t>(header.ssrc >> (24 - 8 * i));
  }
  uint8_t* p = out + kRtpHeaderBytes;
  for (int i = 0; i < frames * kChannels; ++i) {
    const auto value = static_cast<uint32_t>(samples[i]);
    *p++ = static_cast<uint8_t>(value >> 16);
    *p++ = static_cast<uint8_t>(value >> 8);
    if (bytes_per_sample == 3) *p++ = static_cast<uint8_t>(value);
  }
  return static_cast<size_t>(p - out);
}

RtpStreamer::~RtpStreamer() { Stop(); }

bool RtpStreamer::Open(uint32_t interface_address, std::string* error) {
  if (socket_.Open() != 0) {
    *error = std::string("cannot open the RTP socket: ") + std::strerror(socket_.LastError());
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = interface_address;
  if (socket_.SetMulticastInterface(interface_address) != 0 || socket_.BindExclusive(local) != 0) {
    *error = std::string("cannot send RTP from the card: ") + std::strerror(socket_.LastError());
    return false;
  }
  return true;
}

void RtpStreamer::Add(StreamSetup setup) {
  // Random starting numbers, as RTP asks, and an SSRC of each source's own.
  static std::random_device seed;
  std::mt19937 random(seed());
  Stream stream{std::move(setup), {}};
  stream.header.sequence = static_cast<uint16_t>(random());
  stream.header.timestamp = static_cast<uint32_t>(random());
  std::set<uint32_t> taken;
  for (const Stream& other : streams_) taken.insert(other.header.ssrc);
  do {
    stream.header.ssrc = static_cast<uint32_t>(random());
  } while (taken.count(stream.header.ssrc) != 0);
  streams_.push_back(std::move(stream));
}

void RtpStreamer::Start() {
  if (thread_.joinable() || streams_.empty()) return;
  stop_ = false;
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  thread_ = std::thread([this] { Run(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void RtpStreamer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void RtpStreamer::SendPacket(Stream* stream, bool first) {
  int32_t samples[kFramesPerPacket * kChannels];
  stream->setup.audio->Render(samples, kFramesPerPacket);
  uint8_t packet[kMaxRtpPacketBytes];
  RtpHeader header = stream->header;
  header.marker = first;  // the start of the talkspurt
  auto send = [&](uint32_t group, uint8_t payload_type, int bytes_per_sample) {
    if (group == 0) return;
    header.payload_type = payload_type;
    const size_t length =
        WriteRtpPacket(header, samples, kFramesPerPacket, bytes_per_sample, packet);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kStreamPort);
    to.sin_addr.s_addr = htonl(group);
    if (socket_.SendTo(to, packet, static_cast<uint32_t>(length)) == static_cast<int>(length)) {
      sent_.fetch_add(1, std::memory_order_relaxed);
    } else {
      failures_.fetch_add(1, std::memory_order_relaxed);
    }
  };
  send(stream->setup.preview_group, kPayloadTypeL24, 3);
  if (stream->setup.l16_to_stream_group) {
    send(stream->setup.stream_group, kPayloadTypeL16, 2);
  } else {
    send(stream->setup.stream_group, kPayloadTypeL24, 3);
  }
}

void RtpStreamer::Run() {
  int64_t next = MonotonicNs();
  bool first = true;
  while (!stop_.load(std::memory_order_relaxed)) {
    SleepUntil(next);
    const int64_t late = (MonotonicNs() - next) / kNsPerMs;
    if (late > kMaxCatchUpPackets) {
      // Skip the time lost; sequence numbers stay continuous, timestamps jump with the clock.
      for (Stream& stream : streams_) {
        stream.header.timestamp += static_cast<uint32_t>(late * kFramesPerPacket);
      }
      next += late * kNsPerMs;
    }
    for (Stream& stream : streams_) {
      SendPacket(&stream, first);
      // Both counters wrap modulo their width, as RTP receivers expect.
      ++stream.header.sequence;
      stream.header.timestamp += kFramesPerPacket;
    }
    first = false;
    next += kNsPerMs;
  }
}

}  // namespace vqscw::tools
