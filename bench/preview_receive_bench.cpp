// CPU time per received packet: the receiver filter's receive-and-convert path against
// GStreamer's "udpsrc ! rtpL24depay ! audioconvert ! fakesink", on the same stream (one L24
// stereo channel, 1000 packets a second over loopback multicast) in the same run.
//
// Each phase measures this process's CPU time (every thread) while the stream flows and divides
// it by the packets the receiver counted; the sender is a child process and is not counted. The
// receivers take turns for three rounds and the medians are compared. Prints the ratio
// ours / GStreamer; the target is 0.25 or less.
//
//   bench/preview_receive_bench [--benchmark_...]   (VQSCW_BENCH_SECONDS per phase, default 3)
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/loopback_rtp_sender.h"
#include "vqscw/host.h"
#include "vqscwlib/preview/audio_formats.h"
#include "vqscwlib/preview/receiver_filter.h"

namespace {

constexpr const char* kGroupText = "239.192.0.251";
constexpr double kWarmUpSeconds = 0.5;

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void SleepSeconds(double seconds) { usleep(static_cast<useconds_t>(seconds * 1e6)); }

// Downstream that takes every sample and lets it go at once.
class NullInput final : public IPin, public IMemInputPin {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    *object = nullptr;
    if (iid == IID_IPin) *object = static_cast<IPin*>(this);
    if (iid == IID_IMemInputPin) *object = static_cast<IMemInputPin*>(this);
    if (*object == nullptr) return E_NOINTERFACE;
    return S_OK;
  }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT Disconnect() override { return S_OK; }
  HRESULT ConnectedTo(IPin**) override { return E_NOTIMPL; }
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT QueryId(char16_t**) override { return E_NOTIMPL; }
  HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
  HRESULT NotifyAllocator(IMemAllocator*, bool) override { return S_OK; }
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT Receive(IMediaSample*) override {
    blocks.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
  }
  std::atomic<uint64_t> blocks{0};
};

struct Phase {
  double cpu_seconds = 0;
  uint64_t packets = 0;
  double us_per_packet() const { return packets != 0 ? cpu_seconds * 1e6 / packets : 0; }
};

// Runs the receiver filter on the stream for `seconds` after a warm-up.
bool MeasureReceiverFilter(double seconds, Phase* phase) {
  CNetworkReceiverFilter* filter = nullptr;
  if (CNetworkReceiverFilter::Create(&filter) != S_OK) return false;
  NullInput downstream;
  const vqscw::FormatBlock format = vqscw::Pcm24StereoFormat();
  filter->SetMediaFormat(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, HEADER_RTP, format.data());
  filter->SetGroup(inet_addr(kGroupText), htons(kStreamPort));
  filter->SetInterfaceAddress(inet_addr("127.0.0.1"));
  filter->pin()->Connect(&downstream, nullptr);
  const bool running = filter->Run(0) == S_OK;
  if (running) {
    SleepSeconds(kWarmUpSeconds);
    const uint64_t packets_before = filter->handler()->packets_received();
    const double cpu_before = ProcessCpuSeconds();
    SleepSeconds(seconds);
    phase->cpu_seconds = ProcessCpuSeconds() - cpu_before;
    phase->packets = filter->handler()->packets_received() - packets_before;
  }
  filter->Stop();
  filter->pin()->Disconnect();
  filter->Release();
  return running && phase->packets != 0 && downstream.blocks.load() != 0;
}

std::atomic<uint64_t> g_gst_packets{0};

GstPadProbeReturn CountPacket(GstPad*, GstPadProbeInfo*, gpointer) {
  g_gst_packets.fetch_add(1, std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

// Runs "udpsrc ! rtpL24depay ! audioconvert ! `tail`" on the stream for `seconds`.
bool MeasureGstreamer(const char* tail, double seconds, Phase* phase) {
  const std::string description =
      std::string("udpsrc name=source address=") + kGroupText +
      " port=" + std::to_string(kStreamPort) +
      " multicast-iface=lo caps=\"application/x-rtp,media=audio,clock-rate=48000,"
      "encoding-name=L24,channels=2,payload=96\" ! rtpL24depay ! audioconvert ! " +
      tail;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr) return false;
  GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
  GstPad* pad = gst_element_get_static_pad(source, "src");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountPacket, nullptr, nullptr);
  gst_object_unref(pad);
  gst_object_unref(source);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  SleepSeconds(kWarmUpSeconds);
  const uint64_t packets_before = g_gst_packets.load();
  const double cpu_before = ProcessCpuSeconds();
  SleepSeconds(seconds);
  phase->cpu_seconds = ProcessCpuSeconds() - cpu_before;
  phase->packets = g_gst_packets.load() - packets_before;
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return phase->packets != 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Rounds of the three receivers in turn, so that a change in the machine's load during the run
// falls on all of them alike; the medians are compared.
void BM_ReceiveCpuPerPacket(benchmark::State& state) {
  const int rounds = static_cast<int>(state.range(0));
  const double seconds = bench::PhaseSeconds(3);
  std::vector<double> ours, gstreamer, converting;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      Phase a, b, c;
      if (!MeasureReceiverFilter(seconds, &a) || !MeasureGstreamer("fakesink", seconds, &b) ||
          !MeasureGstreamer("audio/x-raw,format=S24LE ! fakesink", seconds, &c)) {
        state.SkipWithError("a receiver got no packets");
        return;
      }
      ours.push_back(a.us_per_packet());
      gstreamer.push_back(b.us_per_packet());
      converting.push_back(c.us_per_packet());
      state.SetIterationTime(a.cpu_seconds);
    }
  }
  const double ratio = Median(ours) / Median(gstreamer);
  state.counters["ours_us"] = Median(ours);
  state.counters["gstreamer_us"] = Median(gstreamer);
  state.counters["gstreamer_converting_us"] = Median(converting);
  state.counters["ratio"] = ratio;
  std::printf(
      "CPU per packet, median of %d rounds: receiver filter %.2f us; "
      "udpsrc ! rtpL24depay ! audioconvert ! fakesink %.2f us "
      "(%.2f us converting to S24LE)\n",
      rounds, Median(ours), Median(gstreamer), Median(converting));
  std::printf("ratio ours / GStreamer = %.3f (target 0.25 or less)\n", ratio);
}

BENCHMARK(BM_ReceiveCpuPerPacket)
    ->Arg(3)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::LoopbackRtpSender sender(inet_addr(kGroupText), kStreamPort);  // before any thread starts
  if (!sender.running()) return 1;
  gst_init(&argc, &argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
