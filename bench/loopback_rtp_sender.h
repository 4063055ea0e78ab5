// A child process that streams L24 stereo channels as RTP over loopback multicast: for each
// group, 1000 packets a second of 1 ms (48 frames, 288 bytes of payload), like a terminal's
// stream. Running it in its own process keeps its CPU time out of the measurements.
#ifndef BENCH_LOOPBACK_RTP_SENDER_H_
#define BENCH_LOOPBACK_RTP_SENDER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace bench {

constexpr int kPacketsPerSecond = 1000;
constexpr int kFramesPerPacket = 48;
constexpr int kRtpHeader = 12;
constexpr int kPacketBytes = kRtpHeader + kFramesPerPacket * 6;

class LoopbackRtpSender {
 public:
  // Forks the sender of one stream to each of `groups` (network order). Call before any thread
  // of this process starts.
  LoopbackRtpSender(const std::vector<uint32_t>& groups, uint16_t port) {
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      Stream(groups, port);
      _exit(0);
    }
  }
  LoopbackRtpSender(uint32_t group, uint16_t port)
      : LoopbackRtpSender(std::vector<uint32_t>{group}, port) {}
  ~LoopbackRtpSender() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  LoopbackRtpSender(const LoopbackRtpSender&) = delete;
  LoopbackRtpSender& operator=(const LoopbackRtpSender&) = delete;

  bool running() const { return pid_ > 0; }

 private:
  [[noreturn]] static void Stream(const std::vector<uint32_t>& groups, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    in_addr loopback{};
    loopback.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
    std::vector<sockaddr_in> to(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
      to[g].sin_family = AF_INET;
      to[g].sin_addr.s_addr = groups[g];
      to[g].sin_port = htons(port);
    }
    uint8_t packet[kPacketBytes] = {0x80, 96};
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
      packet[2] = static_cast<uint8_t>(sequence >> 8);
      packet[3] = static_cast<uint8_t>(sequence);
      for (int i = 0; i < 4; ++i) packet[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
      for (int f = 0; f < kFramesPerPacket; ++f) {  // a 1 kHz sine at half scale, both channels
        const double phase = 2 * M_PI * 1000.0 * (timestamp + f) / 48000.0;
        const int32_t value = static_cast<int32_t>(std::sin(phase) * 4194303);
        for (int c = 0; c < 2; ++c) {
          uint8_t* out = packet + kRtpHeader + f * 6 + c * 3;
          out[0] = static_cast<uint8_t>(value >> 16);
          out[1] = static_cast<uint8_t>(value >> 8);
          out[2] = static_cast<uint8_t>(value);
        }
      }
      for (size_t g = 0; g < to.size(); ++g) {
        packet[8] = static_cast<uint8_t>(g);  // an SSRC of each stream's own
        sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to[g]),
               sizeof to[g]);
      }
      ++sequence;
      timestamp += kFramesPerPacket;
      next.tv_nsec += 1000000000 / kPacketsPerSecond;
      if (next.tv_nsec >= 1000000000) {
        next.tv_nsec -= 1000000000;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
  }

  pid_t pid_ = -1;
};

// Seconds each measured phase lasts: $VQSCW_BENCH_SECONDS, else `fallback`.
inline double PhaseSeconds(double fallback) {
  const char* text = std::getenv("VQSCW_BENCH_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 0;
  return seconds > 0 ? seconds : fallback;
}

}  // namespace bench

#endif  // BENCH_LOOPBACK_RTP_SENDER_H_
