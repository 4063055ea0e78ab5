// vqscw-monitor: a headless monitor of many channels' streams at once, for a console or a script.
// Every second it prints one line per channel with that second's packets, loss, duplicates,
// reordering, jitter, peak levels and silence, and at the end one line per channel with the
// totals of the run. See --help.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/card.h"
#include "tools/common/stop_signal.h"
#include "tools/monitor/channel_monitor.h"
#include "tools/monitor/monitor_options.h"
#include "tools/monitor/monitor_report.h"
#include "tools/monitor/spy_follower.h"
#include "vqscwlib/platform/clock.h"

namespace {

using vqscw::tools::ChannelMonitor;
using vqscw::tools::MonitorOptions;
using vqscw::tools::ReportKind;

constexpr int kExitFailure = 1;
constexpr uint64_t kReportIntervalUs = 1000000;
constexpr uint64_t kUsPerMs = 1000;
// The longest the loop waits before it looks at the stop request and the spy's news again.
constexpr uint64_t kMaxWaitUs = 100 * kUsPerMs;

class Monitor {
 public:
  Monitor(const MonitorOptions& options, uint32_t card) : options_(options), channels_(card) {}

  bool Start(uint32_t card, std::string* error) {
    for (uint32_t channel : options_.channels) {
      if (!channels_.Join(channel, error)) return false;
    }
    return !options_.all || spy_.Open(card, error);
  }

  int Run() {
    const uint64_t start = vqscw::MonotonicMicroseconds();
    const uint64_t end = start + uint64_t{options_.seconds} * kReportIntervalUs;
    uint64_t next_report = start + kReportIntervalUs;
    while (!vqscw::tools::StopRequested()) {
      uint64_t now = vqscw::MonotonicMicroseconds();
      if (now >= next_report) {
        PrintSeconds(now);
        next_report += kReportIntervalUs;
        if (next_report <= now) next_report = now + kReportIntervalUs;  // after a stall
      }
      if (options_.seconds != 0 && now >= end) break;
      if (options_.all) FollowTheSpy();
      now = vqscw::MonotonicMicroseconds();
      const uint64_t until = std::min(next_report, options_.seconds != 0 ? end : next_report);
      const uint64_t wait = until > now ? std::min(until - now, kMaxWaitUs) : 0;
      channels_.Receive(static_cast<int>((wait + kUsPerMs - 1) / kUsPerMs));
    }
    // What arrived before the stop counts too: the totals take what the sockets still hold.
    channels_.Receive(0);
    spy_.Close();
    for (uint32_t channel : channels_.AllChannels())
      Print(ReportKind::kTotal, channels_.Total(channel));
    return 0;
  }

 private:
  void PrintSeconds(uint64_t now) {
    for (uint32_t channel : channels_.JoinedChannels()) {
      Print(ReportKind::kSecond, channels_.TakeInterval(channel, now));
    }
  }

  void Print(ReportKind kind, const vqscw::tools::ChannelReport& report) {
    const std::string line = options_.json ? vqscw::tools::JsonReport(kind, report)
                                           : vqscw::tools::TextReport(kind, report);
    std::printf("%s\n", line.c_str());
  }

  // Joins the channels the spy began to hear and leaves those no terminal offers any more (but
  // never one given with --channel).
  void FollowTheSpy() {
    for (const auto& [channel, offered] : spy_.TakeChanges()) {
      if (offered == channels_.joined(channel)) continue;
      if (!offered && Named(channel)) continue;
      std::string error;
      if (offered && !channels_.Join(channel, &error)) {
        std::fprintf(stderr, "vqscw-monitor: %s\n", error.c_str());
        continue;
      }
      if (!offered) channels_.Leave(channel);
      std::printf("%s\n", options_.json ? vqscw::tools::JsonChannelEvent(offered, channel).c_str()
                                        : vqscw::tools::TextChannelEvent(offered, channel).c_str());
    }
  }

  bool Named(uint32_t channel) const {
    for (uint32_t named : options_.channels) {
      if (named == channel) return true;
    }
    return false;
  }

  const MonitorOptions& options_;
  ChannelMonitor channels_;
  vqscw::tools::SpyFollower spy_;
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // lines reach a pipe or file as they are printed
  MonitorOptions options;
  std::string message;
  const int code = vqscw::tools::ReportCommandLine(
      "vqscw-monitor",
      vqscw::tools::ParseMonitorOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                        &message),
      message);
  if (code >= 0) return code;
  vqscw::tools::Card card;
  std::string error;
  if (!vqscw::tools::ResolveCard(options.card, &card, &error)) {
    std::fprintf(stderr, "vqscw-monitor: %s\n", error.c_str());
    return vqscw::tools::kExitUsage;
  }
  vqscw::tools::InstallStopHandlers();
  Monitor monitor(options, card.address);
  if (!monitor.Start(card.address, &error)) {
    std::fprintf(stderr, "vqscw-monitor: %s\n", error.c_str());
    return kExitFailure;
  }
  return monitor.Run();
}
