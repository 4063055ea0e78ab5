// CPU time per received packet of vqscw-monitor watching 64 channels at 1000 packets a second
// each, against two peers on the same streams in the same run:
//   - reference_receiver, a plain C receiver of the same design (tick + recvmmsg, conversion)
//     that counts nothing else (target: monitor / reference 1.5 or less);
//   - one GStreamer "udpsrc ! rtpL24depay ! fakesink" pipeline per channel, all in one process
//     (target: monitor / GStreamer 0.25 or less).
//
// The benchmark moves into a network namespace of its own (it must run as root), where a child
// process sends the 64 streams on loopback. Each receiver runs as a process of its own and prints
// its packet count every second; after a warm-up second the CPU time of all its threads is read
// from /proc, again after the measured seconds, and divided by the packets it counted in between.
// The receivers take turns for three rounds; the medians are compared.
//
//   bench/monitor_cpu_bench [--benchmark_...]   (VQSCW_BENCH_SECONDS measured per phase, default 5)
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <gst/gst.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_rtp_sender.h"
#include "vqscw/host.h"

extern char** environ;

namespace {

constexpr int kChannels = 64;
constexpr int kFirstChannel = 1;
constexpr int kWarmUpSeconds = 1;
constexpr int kLineWaitMs = 5000;

uint32_t GroupOf(int channel) { return htonl(PreviewGroupOf(static_cast<uint32_t>(channel))); }

// CPU time of every thread of `pid`, from the scheduler's own accounting (nanoseconds).
double ProcessCpuSeconds(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (tasks == nullptr) return -1;
  double total = 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(dir + "/" + entry->d_name + "/schedstat");
    double ns = 0;
    if (stat >> ns) total += ns / 1e9;
  }
  closedir(tasks);
  return total;
}

// A receiver process whose standard output the benchmark reads line by line.
class Receiver {
 public:
  // Starts `argv` (a program and its arguments), or, with `child`, a fork of this process that
  // runs `child(out_fd)`.
  bool Start(const std::vector<std::string>& argv, std::function<void(int)> child = nullptr) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    if (child) {
      pid_ = fork();
      if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        child(fds[1]);
        _exit(0);
      }
    } else {
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
      posix_spawn_file_actions_destroy(&actions);
    }
    close(fds[1]);
    out_ = fds[0];
    return pid_ > 0;
  }
  ~Receiver() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next line of output, or false after kLineWaitMs without one.
  bool NextLine(std::string* line) {
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      pollfd fd{out_, POLLIN, 0};
      char buffer[65536];
      if (poll(&fd, 1, kLineWaitMs) != 1) return false;
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(n));
    }
  }

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

struct Phase {
  double cpu_seconds = 0;
  uint64_t packets = 0;
  double us_per_packet() const { return packets != 0 ? cpu_seconds * 1e6 / packets : 0; }
};

// Reads `receiver`'s seconds: `lines_per_second` lines make one, each giving packets by `parse`.
// Measures the CPU time between the end of the warm-up and the end of the measured seconds.
bool Measure(Receiver* receiver, int lines_per_second, int seconds,
             const std::function<uint64_t(const std::string&)>& parse, Phase* phase) {
  std::string line;
  double cpu_start = 0;
  for (int second = 0; second < kWarmUpSeconds + seconds; ++second) {
    uint64_t packets = 0;
    for (int i = 0; i < lines_per_second; ++i) {
      if (!receiver->NextLine(&line)) return false;
      packets += parse(line);
    }
    if (second == kWarmUpSeconds - 1) cpu_start = ProcessCpuSeconds(receiver->pid());
    if (second >= kWarmUpSeconds) phase->packets += packets;
  }
  phase->cpu_seconds = ProcessCpuSeconds(receiver->pid()) - cpu_start;
  return phase->packets != 0 && phase->cpu_seconds > 0;
}

uint64_t NumberLine(const std::string& line) { return std::strtoull(line.c_str(), nullptr, 10); }

uint64_t MonitorLine(const std::string& line) {
  const size_t at = line.find("\"packets\":");
  return at == std::string::npos ? 0 : std::strtoull(line.c_str() + at + 10, nullptr, 10);
}

bool MeasureMonitor(int seconds, Phase* phase) {
  std::vector<std::string> argv{VQSCW_MONITOR_PATH, "--card", "lo", "--json"};
  for (int c = kFirstChannel; c < kFirstChannel + kChannels; ++c) {
    argv.push_back("--channel");
    argv.push_back(std::to_string(c));
  }
  Receiver monitor;
  return monitor.Start(argv) && Measure(&monitor, kChannels, seconds, MonitorLine, phase);
}

bool MeasureReference(int seconds, Phase* phase) {
  Receiver reference;
  return reference.Start(
             {VQSCW_REFERENCE_PATH, std::to_string(kFirstChannel), std::to_string(kChannels)}) &&
         Measure(&reference, 1, seconds, NumberLine, phase);
}

std::atomic<uint64_t> g_gst_packets{0};

GstPadProbeReturn CountPacket(GstPad*, GstPadProbeInfo*, gpointer) {
  g_gst_packets.fetch_add(1, std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

// In the forked child: one pipeline per channel, and the packets of each second on `out`.
void RunGstreamer(int out) {
  gst_init(nullptr, nullptr);
  std::vector<GstElement*> pipelines;
  for (int c = kFirstChannel; c < kFirstChannel + kChannels; ++c) {
    char group[32];
    std::snprintf(group, sizeof group, "239.192.%d.%d", c / 256, c % 256);
    const std::string description =
        std::string("udpsrc name=source address=") + group +
        " port=" + std::to_string(kStreamPort) +
        " multicast-iface=lo caps=\"application/x-rtp,media=audio,clock-rate=48000,"
        "encoding-name=L24,channels=2,payload=96\" ! rtpL24depay ! fakesink";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (pipeline == nullptr) return;
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    GstPad* pad = gst_element_get_static_pad(source, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountPacket, nullptr, nullptr);
    gst_object_unref(pad);
    gst_object_unref(source);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    pipelines.push_back(pipeline);
  }
  auto next = std::chrono::steady_clock::now();
  uint64_t before = 0;
  for (;;) {  // ends with the SIGTERM of the benchmark
    next += std::chrono::seconds(1);
    std::this_thread::sleep_until(next);
    const uint64_t now = g_gst_packets.load(std::memory_order_relaxed);
    const std::string line = std::to_string(now - before) + "\n";
    before = now;
    if (write(out, line.data(), line.size()) <= 0) return;
  }
}

bool MeasureGstreamer(int seconds, Phase* phase) {
  Receiver gstreamer;
  return gstreamer.Start({}, RunGstreamer) && Measure(&gstreamer, 1, seconds, NumberLine, phase);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void BM_MonitorCpuPerPacket(benchmark::State& state) {
  const int rounds = static_cast<int>(state.range(0));
  const int seconds = static_cast<int>(bench::PhaseSeconds(5));
  std::vector<double> monitor, reference, gstreamer, packets_per_second;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      Phase m, r, g;
      if (!MeasureMonitor(seconds, &m) || !MeasureReference(seconds, &r) ||
          !MeasureGstreamer(seconds, &g)) {
        state.SkipWithError("a receiver did not report its packets");
        return;
      }
      monitor.push_back(m.us_per_packet());
      reference.push_back(r.us_per_packet());
      gstreamer.push_back(g.us_per_packet());
      packets_per_second.push_back(static_cast<double>(m.packets) / seconds);
      std::printf(
          "round %d: monitor %.3f us/packet (%llu packets), reference %.3f us (%llu), "
          "GStreamer %.3f us (%llu)\n",
          round + 1, m.us_per_packet(), static_cast<unsigned long long>(m.packets),
          r.us_per_packet(), static_cast<unsigned long long>(r.packets), g.us_per_packet(),
          static_cast<unsigned long long>(g.packets));
      state.SetIterationTime(m.cpu_seconds);
    }
  }
  const double to_reference = Median(monitor) / Median(reference);
  const double to_gstreamer = Median(monitor) / Median(gstreamer);
  state.counters["monitor_us"] = Median(monitor);
  state.counters["reference_us"] = Median(reference);
  state.counters["gstreamer_us"] = Median(gstreamer);
  state.counters["ratio_reference"] = to_reference;
  state.counters["ratio_gstreamer"] = to_gstreamer;
  std::printf(
      "CPU per packet, %d channels at 1000 packets/s (monitor received %.0f/s), median of %d "
      "rounds: vqscw-monitor %.3f us; reference receiver %.3f us; GStreamer udpsrc ! "
      "rtpL24depay ! fakesink %.3f us\n",
      kChannels, Median(packets_per_second), rounds, Median(monitor), Median(reference),
      Median(gstreamer));
  std::printf("ratio monitor / reference = %.3f (target 1.5 or less)\n", to_reference);
  std::printf("ratio monitor / GStreamer = %.3f (target 0.25 or less)\n", to_gstreamer);
}

BENCHMARK(BM_MonitorCpuPerPacket)
    ->Arg(3)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A network namespace of this process's own, whose loopback carries the groups.
bool EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) {
    std::perror("monitor_cpu_bench: unshare (run as root)");
    return false;
  }
  return std::system("ip link set lo up && ip route add 224.0.0.0/4 dev lo") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!EnterPrivateNetwork()) return 1;
  std::vector<uint32_t> groups;
  for (int c = kFirstChannel; c < kFirstChannel + kChannels; ++c) groups.push_back(GroupOf(c));
  bench::LoopbackRtpSender sender(groups, kStreamPort);  // before any thread starts
  if (!sender.running()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
