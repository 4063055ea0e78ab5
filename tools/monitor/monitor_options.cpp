#include "tools/monitor/monitor_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace vqscw::tools {
namespace {

constexpr uint32_t kMaxSeconds = 31 * 24 * 3600;  // a month

constexpr char kDescription[] =
    "vqscw-monitor: watches the RTP streams of channels on a network card and prints, every "
    "second, each channel's packets, loss, duplicates, reordering, jitter, peak levels and "
    "silence; at the end the totals of the whole run.";

constexpr char kFooter[] =
    "Each channel N is received from 239.192.0.0 | N, port 5004. With --json every line is one "
    "object: {\"event\":\"stats\",...} for each channel every second (the counts of that "
    "second; \"lost\" falls when a packet counted lost arrives late), {\"event\":\"total\",...} "
    "for each channel at the end, and with --all {\"event\":\"joined\"} and "
    "{\"event\":\"left\"} as channels come and go. \"jitter_ms\" is RTP's interarrival jitter "
    "when the line is printed (in a total, the highest it reached); \"peak_dbfs\" the largest "
    "left and right sample in dB below full scale (-140.0 for none); \"silent\" whether nothing "
    "reached -60 dBFS for 2 s (in a total: during the whole run); \"ssrc\" the sender's source "
    "identifier (null before any packet). Ends after --seconds, or on SIGINT or SIGTERM, with "
    "exit code 0; bad arguments exit with 2.";

}  // namespace

CommandLineOutcome ParseMonitorOptions(const std::vector<std::string>& args,
                                       MonitorOptions* options, std::string* message) {
  CLI::App app(kDescription, "vqscw-monitor");
  AddVersionFlag(app);
  app.footer(kFooter);
  std::vector<uint32_t> channels;
  app.add_option("--card", options->card,
                 "the network card, by IPv4 address or interface name (default: the first card "
                 "outside 127.0.0.0/8)");
  app.add_option("--channel", channels, "a channel to watch (1 to 65535); give it once per channel")
      ->check(kWholeNumber)
      ->check(CLI::Range(uint32_t{1}, kMonitorMaxChannel))
      ->allow_extra_args(false);
  app.add_flag("--all", options->all,
               "also watch every channel the card's advertisements offer, joining and leaving as "
               "sources come and go");
  app.add_option("--seconds", options->seconds,
                 "stop after this many seconds (0: run until stopped)")
      ->check(kWholeNumber)
      ->check(CLI::Range(uint32_t{0}, kMaxSeconds));
  app.add_flag("--json", options->json, "print JSON lines");

  const CommandLineOutcome outcome = ParseCommandLine(app, args, message);
  if (outcome != CommandLineOutcome::kRun) return outcome;
  if (channels.empty() && !options->all) {
    *message = "no channel to watch: give --channel N or --all";
    return CommandLineOutcome::kBadArguments;
  }
  options->channels.clear();
  for (uint32_t channel : channels) {
    if (std::find(options->channels.begin(), options->channels.end(), channel) ==
        options->channels.end()) {
      options->channels.push_back(channel);
    }
  }
  return CommandLineOutcome::kRun;
}

}  // namespace vqscw::tools
