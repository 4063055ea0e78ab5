/* A plain receiver of many L24 stereo RTP channels, the yardstick of vqscw-monitor's CPU cost: the
 * same design (one socket per channel joined to its group on port 5004; sleep in poll() while
 * nothing arrives, else rest an 8 ms tick and drain every socket with recvmmsg() of up to 32
 * datagrams), and the conversion a player does (each payload's 24-bit samples reversed into
 * little-endian 50 ms blocks, with the positive peak of each channel), but no counting of loss,
 * jitter or levels beyond that. Prints the datagrams received in each second, one number a line,
 * until SIGTERM or SIGINT.
 *
 *   reference_receiver FIRST_CHANNEL COUNT   (groups 239.192.0.0 | channel, joined on loopback)
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum {
  kMaxChannels = 1024,
  kBatch = 32,
  kBufferBytes = 8192,
  kHeaderBytes = 12,
  kBlockBytes = 14400, /* 50 ms of 24-bit stereo at 48000 Hz */
  kTickMs = 8,
  kIdleWaitMs = 100,
  kMaxDrainRounds = 64,
  kPort = 5004
};

struct Channel {
  int socket;
  uint8_t block[kBlockBytes];
  uint32_t used;
  int32_t peak_left;
  int32_t peak_right;
};

static volatile sig_atomic_t g_stop = 0;
static void OnSignal(int signal_number) {
  (void)signal_number;
  g_stop = 1;
}

static int64_t NowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static int OpenChannel(uint32_t channel) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1, off = 0;
  struct sockaddr_in local;
  struct ip_mreq membership;
  if (fd < 0) return -1;
  memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = htons(kPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  membership.imr_multiaddr.s_addr = htonl(0xEFC00000u | channel);
  membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) < 0 ||
      bind(fd, (const struct sockaddr*)&local, sizeof local) < 0 ||
      setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

/* Reverses the payload's samples into the channel's block, raising its peaks. */
static void Convert(struct Channel* c, const uint8_t* payload, uint32_t length) {
  while (length >= 6) {
    uint32_t room = kBlockBytes - c->used;
    uint32_t n = length < room ? length : room;
    uint8_t* out = c->block + c->used;
    uint32_t i;
    n -= n % 6;
    for (i = 0; i < n; i += 6) {
      const int32_t l = (int32_t)(((uint32_t)payload[i] << 24) | ((uint32_t)payload[i + 1] << 16) |
                                  ((uint32_t)payload[i + 2] << 8));
      const int32_t r =
          (int32_t)(((uint32_t)payload[i + 3] << 24) | ((uint32_t)payload[i + 4] << 16) |
                    ((uint32_t)payload[i + 5] << 8));
      out[i] = payload[i + 2];
      out[i + 1] = payload[i + 1];
      out[i + 2] = payload[i];
      out[i + 3] = payload[i + 5];
      out[i + 4] = payload[i + 4];
      out[i + 5] = payload[i + 3];
      if (l > c->peak_left) c->peak_left = l;
      if (r > c->peak_right) c->peak_right = r;
    }
    c->used += n;
    payload += n;
    length -= n;
    if (c->used == kBlockBytes) c->used = 0; /* a block is complete: handed on */
    if (n == 0) break;
  }
}

int main(int argc, char** argv) {
  static struct Channel channels[kMaxChannels];
  static uint8_t memory[kBatch][kBufferBytes];
  static struct mmsghdr messages[kBatch];
  static struct iovec vectors[kBatch];
  static struct pollfd fds[kMaxChannels];
  struct sigaction action;
  long first, count, i;
  int streaming = 0;
  uint64_t second_packets = 0;
  int64_t next_report;

  if (argc != 3) {
    fprintf(stderr, "usage: reference_receiver FIRST_CHANNEL COUNT\n");
    return 2;
  }
  first = strtol(argv[1], NULL, 10);
  count = strtol(argv[2], NULL, 10);
  if (first < 1 || count < 1 || count > kMaxChannels || first + count - 1 > 65535) {
    fprintf(stderr, "reference_receiver: bad channels\n");
    return 2;
  }
  memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  setvbuf(stdout, NULL, _IOLBF, 0);
  for (i = 0; i < count; ++i) {
    channels[i].socket = OpenChannel((uint32_t)(first + i));
    if (channels[i].socket < 0) {
      perror("reference_receiver: channel");
      return 1;
    }
    fds[i].fd = channels[i].socket;
    fds[i].events = POLLIN;
  }
  next_report = NowMs() + 1000;
  while (!g_stop) {
    const int64_t now = NowMs();
    int taken = 0;
    if (now >= next_report) {
      printf("%llu\n", (unsigned long long)second_packets);
      second_packets = 0;
      next_report += 1000;
    }
    if (streaming) {
      poll(NULL, 0, kTickMs);
    } else if (poll(fds, (nfds_t)count, kIdleWaitMs) <= 0) {
      continue;
    }
    for (i = 0; i < count; ++i) {
      int round;
      for (round = 0; round < kMaxDrainRounds; ++round) {
        int k, received;
        for (k = 0; k < kBatch; ++k) {
          vectors[k].iov_base = memory[k];
          vectors[k].iov_len = kBufferBytes;
          memset(&messages[k].msg_hdr, 0, sizeof messages[k].msg_hdr);
          messages[k].msg_hdr.msg_iov = &vectors[k];
          messages[k].msg_hdr.msg_iovlen = 1;
        }
        received = recvmmsg(channels[i].socket, messages, kBatch, MSG_DONTWAIT, NULL);
        if (received <= 0) break;
        for (k = 0; k < received; ++k) {
          if ((messages[k].msg_hdr.msg_flags & MSG_TRUNC) != 0) continue;
          if (messages[k].msg_len > kHeaderBytes) {
            Convert(&channels[i], memory[k] + kHeaderBytes, messages[k].msg_len - kHeaderBytes);
          }
        }
        taken += received;
        if (received < kBatch) break;
      }
    }
    second_packets += (uint64_t)taken;
    streaming = taken > 0;
  }
  return 0;
}
