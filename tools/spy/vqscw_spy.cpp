// vqscw-spy: a headless listener for a console or a script. It keeps a table of the terminals and
// sources heard on a card with the library's source-table operations and prints each source as it
// is heard and each terminal that expires; optionally it filters by an access list and writes an
// SDP file for every source. Built only on the library's exported interface. See SpyUsage().
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/arguments.h"
#include "tools/common/card.h"
#include "tools/common/stop_signal.h"
#include "tools/spy/channel_filter.h"
#include "tools/spy/heard_table.h"
#include "tools/spy/spy_options.h"
#include "tools/spy/spy_report.h"
#include "vqscwlib/host.h"

namespace {

using vqscw::tools::SpyOptions;
using Clock = std::chrono::steady_clock;

constexpr int kExitFailure = 1;
// The longest the loop waits for a message before it collects silent terminals and looks at the
// stop flag and the clock again.
constexpr uint32_t kMaxWaitMs = 100;

class Listener {
 public:
  Listener(const SpyOptions& options, const vqscw::tools::ChannelFilter& filter,
           CMessageEndpoint* requester)
      : options_(options), filter_(filter), table_(requester) {}

  void Heard(CMessage* message) {
    table_.Register(message, [this](const SpySource& source) { Report(source); });
  }
  void Collect() {
    table_.Collect([this](const vqscw::tools::GoneTerminal& gone) {
      std::printf("%s\n", vqscw::tools::GoneLine(gone, options_.json).c_str());
    });
  }

 private:
  void Report(const SpySource& source) {
    if (!filter_.Allows(source.psid)) return;
    char path[4096] = {};
    std::string sdp;
    if (!options_.sdp_dir.empty()) {
      if (options_.sdp_dir.size() + kSdpFileNameLength < sizeof path &&
          advspy_GenerateSDP(options_.sdp_dir.c_str(), &source, path) == 0) {
        sdp = path;
      } else {
        std::fprintf(stderr, "vqscw-spy: no SDP file written for channel %u (stream type %u)\n",
                     source.psid, source.fast);
      }
    }
    std::printf("%s\n", vqscw::tools::SourceLine(source, sdp, options_.json).c_str());
  }

  const SpyOptions& options_;
  const vqscw::tools::ChannelFilter& filter_;
  vqscw::tools::HeardTable table_;
};

int Run(const SpyOptions& options) {
  vqscw::tools::Card card;
  vqscw::tools::ChannelFilter filter;
  std::string error;
  if (!vqscw::tools::ResolveCard(options.card, &card, &error) ||
      (options.acl_given && !filter.Parse(options.acl, &error))) {
    std::fprintf(stderr, "vqscw-spy: %s\n", error.c_str());
    return vqscw::tools::kExitUsage;
  }
  dbg_spy = options.debug ? 1 : 0;

  CServerEndpoint server;
  CClientEndpoint requester;
  if (!requester.Open(false, card.text.c_str(), 0) ||
      !server.Open(true, card.text.c_str(), kTerminalPort)) {
    std::fprintf(stderr, "vqscw-spy: cannot open the endpoints on %s\n", card.text.c_str());
    return kExitFailure;
  }
  if (!server.JoinGroup(htonl(kAdvertisementGroup), card.address)) {
    std::fprintf(stderr,
                 "vqscw-spy: cannot join 239.192.255.3 on %s; hearing only what is sent "
                 "to the card itself\n",
                 card.text.c_str());
  }
  vqscw::tools::InstallStopHandlers();
  if (!options.json) {
    std::printf("vqscw-spy: listening on %s (%s)\n", card.text.c_str(), card.interface.c_str());
  }

  Listener listener(options, filter, &requester);
  const Clock::time_point end = Clock::now() + std::chrono::seconds(options.seconds);
  CMessage message;
  while (!vqscw::tools::StopRequested()) {
    const Clock::time_point now = Clock::now();
    if (options.seconds != 0 && now >= end) break;
    uint32_t wait = kMaxWaitMs;
    if (options.seconds != 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
      wait = static_cast<uint32_t>(std::min<int64_t>(wait, std::max<int64_t>(left, 0)));
    }
    if (server.ReceiveMessage(&message, wait)) listener.Heard(&message);
    listener.Collect();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // lines reach a pipe or file as they are printed
  SpyOptions options;
  std::string error;
  switch (vqscw::tools::ParseSpyOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                        &error)) {
    case vqscw::tools::SpyParseOutcome::kHelp:
      std::fputs(vqscw::tools::SpyUsage().c_str(), stdout);
      return 0;
    case vqscw::tools::SpyParseOutcome::kBadArguments:
      std::fprintf(stderr, "vqscw-spy: %s\nTry vqscw-spy --help.\n", error.c_str());
      return vqscw::tools::kExitUsage;
    case vqscw::tools::SpyParseOutcome::kRun:
      break;
  }
  return Run(options);
}
