// vqscw-spy under a flood of advertisements: 20,000 distinct terminals advertise at 25,000
// datagrams a second for 4 s (each terminal's first datagram its full advertisement, one source,
// then short ones as a running terminal sends them), and a real vqscw-terminal starts midway.
// Measured:
//   - the datagrams lost at the spy's socket: RcvbufErrors of /proc/net/snmp in the namespace,
//     as a share of the datagrams sent (target: 5% or less);
//   - the time from the real terminal's start to its source's line on vqscw-spy's output
//     (target: within 2 s);
//   - vqscw-spy's peak resident memory, VmHWM (target: under 300 MB).
//
// It must run as root: it makes a network namespace of its own with `ip netns`, moves into it
// (the spy and the terminal it starts run there too) and deletes it at the end. A plain program
// that prints its figures and exits with 1 when a target is missed.
//
//   bench/spy_flood_bench
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/transport_helpers.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/protocol/advertise.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;  // NOLINT

constexpr int kTerminals = 20000;
constexpr int kRate = 25000;  // datagrams a second
constexpr int kFloodSeconds = 4;
constexpr auto kRealTerminalAt = 2s;  // after the flood starts
constexpr uint32_t kRealChannel = 32001;
constexpr double kMaxLostShare = 0.05;
constexpr auto kMaxListedAfter = 2s;
constexpr double kMaxPeakMegabytes = 300;

// The namespace's name, made unique per run.
std::string g_namespace;

void DeleteNamespace() {
  if (g_namespace.empty()) return;
  const std::string command = "ip netns delete " + g_namespace;
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "spy_flood_bench: could not delete namespace %s\n", g_namespace.c_str());
  }
  g_namespace.clear();
}

bool EnterNamespace() {
  std::random_device random;
  char name[40];
  std::snprintf(name, sizeof name, "vqscw-spy-bench-%08x", random());
  if (std::system(("ip netns add " + std::string(name)).c_str()) != 0) {
    std::fprintf(stderr, "spy_flood_bench: ip netns add failed (run as root)\n");
    return false;
  }
  g_namespace = name;
  const int fd = open(("/run/netns/" + g_namespace).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
    std::perror("spy_flood_bench: setns");
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return std::system("ip link set lo up && ip route add 224.0.0.0/4 dev lo") == 0;
}

// A counter of the "Udp:" lines of /proc/net/snmp (this process's namespace).
long UdpCounter(const std::string& name) {
  std::ifstream in("/proc/net/snmp");
  std::string names, values;
  while (std::getline(in, names) && std::getline(in, values)) {
    if (names.rfind("Udp:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string key, value;
    while (n >> key && v >> value) {
      if (key == name) return std::stol(value);
    }
  }
  return -1;
}

// VmHWM of `pid` in megabytes.
double PeakMegabytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return -1;
}

// User and system CPU time of `pid` (all its threads), in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t after_name = text.rfind(')');
  if (after_name == std::string::npos) return -1;
  std::istringstream fields(text.substr(after_name + 2));
  std::string field;
  double ticks = 0;
  // Fields 3 on; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index >= 14) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t Spawn(const std::vector<std::string>& args, int out_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (const auto end = Clock::now() + 3s; Clock::now() < end;) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// The frames of terminal `index`: its full advertisement and its short one, as adv_advertise
// builds them (the terminal's "INIP" is 10.x.y.z, one of its own).
std::pair<vqscw::testing::Bytes, vqscw::testing::Bytes> TerminalFrames(int index) {
  LocalTerminal terminal{};
  terminal.inip = htonl(0x0A000000u | static_cast<uint32_t>(index + 1));
  terminal.hwid = static_cast<uint16_t>(1000 + index);
  terminal.advv = 1;
  terminal.sourceCount = 1;
  std::snprintf(terminal.name, sizeof terminal.name, "Flood %05d", index);
  LocalSource& source = terminal.sources[0];
  source.psid = 1 + static_cast<uint32_t>(index % 30000);
  source.fsid = source.psid;
  source.fast = 2;
  std::snprintf(source.name, sizeof source.name, "Flood %05d", index);
  std::pair<vqscw::testing::Bytes, vqscw::testing::Bytes> frames;
  for (const bool full : {true, false}) {
    CMessage message;
    vqscw::BeginAdvertisement(&message, full ? kAdvertisementFull : kAdvertisementShort,
                              vqscw::TerminalFields(terminal, full));
    if (full) {
      const CFieldList list = vqscw::SourceFields(source);
      message.SetList(SourceSlotTag(1), &list);
    }
    (full ? frames.first : frames.second) = vqscw::testing::DatagramFrame(message, 1);
  }
  return frames;
}

// Sends the flood from one socket on loopback; calls `midway` once when it is due.
long Flood(const std::function<void()>& midway) {
  std::vector<std::pair<vqscw::testing::Bytes, vqscw::testing::Bytes>> frames;
  frames.reserve(kTerminals);
  for (int i = 0; i < kTerminals; ++i) frames.push_back(TerminalFrames(i));
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  in_addr loopback{htonl(INADDR_LOOPBACK)};
  setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
  const int buffer = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(kTerminalPort);
  group.sin_addr.s_addr = htonl(kAdvertisementGroup);

  const long total = static_cast<long>(kRate) * kFloodSeconds;
  const auto start = Clock::now();
  bool midway_done = false;
  long sent = 0;
  uint32_t sequence = 0;
  for (long i = 0; i < total; ++i) {
    // Paced per millisecond: datagram i is due at i / kRate seconds.
    if (i % (kRate / 1000) == 0) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / kRate));
      if (!midway_done && Clock::now() - start >= kRealTerminalAt) {
        midway();
        midway_done = true;
      }
    }
    const int terminal = static_cast<int>(i % kTerminals);
    vqscw::testing::Bytes& frame =
        i < kTerminals ? frames[terminal].first : frames[terminal].second;
    vqscw::StoreBE32(frame.data() + kFrameSequenceOffset, ++sequence);
    if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&group),
               sizeof group) == static_cast<ssize_t>(frame.size())) {
      ++sent;
    }
  }
  close(fd);
  return sent;
}

}  // namespace

int main() {
  if (!EnterNamespace()) {
    DeleteNamespace();
    return 1;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return 1;
  const pid_t spy = Spawn({VQSCW_SPY_PATH, "--card", "lo"}, pipe_fds[1]);
  close(pipe_fds[1]);

  // The spy's output, read as it comes: when it listens, and when the real source is listed.
  std::atomic<bool> listening{false};
  std::atomic<long> lines{0};
  std::atomic<int64_t> listed_ns{-1};
  std::thread reader([&] {
    std::string pending;
    char buffer[65536];
    const std::string real = "source " + std::to_string(kRealChannel) + " ";
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        const std::string line = pending.substr(0, end);
        if (line.rfind("vqscw-spy: listening", 0) == 0) listening = true;
        if (line.rfind("source ", 0) == 0) ++lines;
        if (line.rfind(real, 0) == 0 && listed_ns < 0) {
          listed_ns = Clock::now().time_since_epoch().count();
        }
      }
    }
  });
  for (const auto end = Clock::now() + 5s; !listening && Clock::now() < end;) {
    std::this_thread::sleep_for(5ms);
  }
  int status = 1;
  if (spy > 0 && listening) {
    const double cpu_before = CpuSeconds(spy);
    const long errors_before = UdpCounter("RcvbufErrors");
    const long received_before = UdpCounter("InDatagrams");
    const std::string config = "/tmp/" + g_namespace + ".conf";
    std::ofstream(config) << "name Real terminal\nhwid 4321\nsource " << kRealChannel << "\n";
    pid_t terminal = -1;
    Clock::time_point terminal_start;
    const long sent = Flood([&] {
      terminal_start = Clock::now();
      terminal = Spawn({VQSCW_TERMINAL_PATH, "--card", "lo", "--config", config}, -1);
    });
    // Listed during the flood or, for the figure, up to the target's time after its start.
    for (const auto end = terminal_start + kMaxListedAfter + 1s;
         listed_ns < 0 && Clock::now() < end;) {
      std::this_thread::sleep_for(5ms);
    }
    // The spy's socket has drained what reached it once its line count stops rising.
    for (long before = -1; before != lines;) {
      before = lines;
      std::this_thread::sleep_for(200ms);
    }
    const long lost = UdpCounter("RcvbufErrors") - errors_before;
    const long received = UdpCounter("InDatagrams") - received_before;
    const double peak = PeakMegabytes(spy);
    const double cpu = CpuSeconds(spy) - cpu_before;
    const double share = sent > 0 ? static_cast<double>(lost) / static_cast<double>(sent) : 1;
    const double listed_after =
        listed_ns < 0 ? -1
                      : std::chrono::duration<double>(
                            Clock::time_point(Clock::duration(listed_ns)) - terminal_start)
                            .count();
    std::printf(
        "flood: %d terminals, %ld datagrams in %d s (%d/s); vqscw-spy printed %ld sources\n",
        kTerminals, sent, kFloodSeconds, kRate, lines.load());
    std::printf("delivered to sockets in the namespace (InDatagrams): %ld\n", received);
    std::printf(
        "lost at the socket (RcvbufErrors): %ld = %.2f%% of those sent (target 5%% or less)\n",
        lost, 100 * share);
    if (listed_after >= 0) {
      std::printf("real terminal listed %.3f s after its start (target 2 s or less)\n",
                  listed_after);
    } else {
      std::printf("real terminal not listed within %.0f s of its start (target 2 s)\n",
                  std::chrono::duration<double>(kMaxListedAfter + 1s).count());
    }
    std::printf("vqscw-spy CPU: %.2f s, %.1f us a datagram\n", cpu,
                sent > 0 ? 1e6 * cpu / static_cast<double>(sent) : 0.0);
    std::printf("vqscw-spy peak RSS (VmHWM): %.1f MB (target under 300 MB)\n", peak);
    const bool met = share <= kMaxLostShare && listed_after >= 0 &&
                     listed_after <= std::chrono::duration<double>(kMaxListedAfter).count() &&
                     peak > 0 && peak < kMaxPeakMegabytes;
    std::printf("%s\n", met ? "all targets met" : "a target was missed");
    status = met ? 0 : 1;
    Stop(terminal);
    std::remove(config.c_str());
  } else {
    std::fprintf(stderr, "spy_flood_bench: vqscw-spy did not start listening\n");
  }
  Stop(spy);
  reader.join();
  close(pipe_fds[0]);
  DeleteNamespace();
  return status;
}
