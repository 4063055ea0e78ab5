// Time PreviewStop takes while a channel is streaming (1000 packets a second over loopback
// multicast), for the sinks a headless user or a test plays into: the silent "fakesink", a WAV
// file ("wavenc ! filesink"), which must be finished before the stop returns, and a sink that
// never sees the end of the stream (a closed valve before it), which shows the stop's bound.
// Each preview plays for 300 ms before it is stopped; 20 stops per sink after 2 warm ones.
// Reports the median, the 95th percentile and the worst, and checks that the WAV file's header
// gives the size of what was written.
//
//   bench/preview_stop_bench [--benchmark_...]
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/loopback_rtp_sender.h"
#include "vqscwlib/preview/preview.h"

namespace {

constexpr uint32_t kChannel = 0x7EED;
constexpr int kWarmStops = 2;
constexpr int kMeasuredStops = 20;
constexpr useconds_t kPlayUs = 300 * 1000;

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::string g_wav_path;

// Whether the RIFF size and the data chunk's size of the WAV file add up to the file's length.
bool WavHeaderIsFinal(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                 bytes[at + 3] << 24);
  };
  if (bytes.size() < 44) return false;
  const std::string text(bytes.begin(), bytes.end());
  const size_t data = text.find("data");
  return data != std::string::npos && u32(4) == bytes.size() - 8 &&
         u32(data + 4) == bytes.size() - data - 8;
}

// Milliseconds PreviewStop took, or a negative number when the preview did not start.
double StopMs() {
  if (PreviewStart(kChannel, nullptr, nullptr, inet_addr("127.0.0.1")) != S_OK) return -1;
  usleep(kPlayUs);
  const int64_t start = NowNs();
  PreviewStop(nullptr, nullptr);
  return (NowNs() - start) / 1e6;
}

void BM_PreviewStop(benchmark::State& state, const std::string& sink, bool wav) {
  setenv("VQSCW_AUDIO_SINK", sink.c_str(), 1);
  std::vector<double> times;
  int finished_files = 0;
  for (auto _ : state) {
    for (int i = 0; i < kWarmStops; ++i) StopMs();
    for (int i = 0; i < kMeasuredStops; ++i) {
      const double ms = StopMs();
      if (ms < 0) {
        state.SkipWithError("the preview did not start");
        return;
      }
      if (wav && WavHeaderIsFinal(g_wav_path)) ++finished_files;
      times.push_back(ms);
      state.SetIterationTime(ms / 1000);
    }
  }
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) {  // nearest rank
    const size_t rank = static_cast<size_t>(std::ceil(q * times.size()));
    return times[std::clamp<size_t>(rank, 1, times.size()) - 1];
  };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p95_ms"] = at(0.95);
  state.counters["max_ms"] = times.back();
  std::printf("PreviewStop into \"%s\" over %zu stops: p50 %.1f ms, p95 %.1f ms, max %.1f ms",
              sink.c_str(), times.size(), at(0.50), at(0.95), times.back());
  if (wav) std::printf(", WAV header final in %d of %zu", finished_files, times.size());
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  bench::LoopbackRtpSender sender(vqscw::PreviewGroup(kChannel), kStreamPort);
  if (!sender.running()) return 1;
  char dir[] = "/tmp/vqscw-stop-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  g_wav_path = std::string(dir) + "/preview.wav";
  const struct {
    const char* name;
    std::string sink;
    bool wav;
  } cases[] = {{"BM_PreviewStop/fakesink", "fakesink", false},
               {"BM_PreviewStop/wav_file", "wavenc ! filesink location=" + g_wav_path, true},
               {"BM_PreviewStop/never_ends", "valve drop=true ! fakesink", false}};
  for (const auto& c : cases) {
    benchmark::RegisterBenchmark(c.name, BM_PreviewStop, c.sink, c.wav)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  unlink(g_wav_path.c_str());
  rmdir(dir);
  return 0;
}
