// vqscw-spy: a headless listener for a console or a script. It runs the library's source spy on a
// card and prints each source the spy reports and each terminal that expires; optionally the
// spy's access list filters the channels, and an SDP file is written for every source. See the
// option table in spy_options.cpp.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/stop_signal.h"
#include "tools/spy/spy_listener.h"
#include "tools/spy/spy_options.h"
#include "vqscwlib/protocol/source_table.h"

namespace {

using vqscw::tools::SpyOptions;
using Clock = std::chrono::steady_clock;

constexpr int kExitFailure = 1;
// The longest the loop waits for a report before it looks at the stop flag and the clock again.
constexpr std::chrono::milliseconds kMaxWait{100};

class Printer {
 public:
  Printer(const SpyOptions& options, FILE* out) : options_(options), out_(out) {}

  void Print(const std::vector<vqscw::tools::SpyEvent>& events) {
    for (const vqscw::tools::SpyEvent& event : events) {
      if (const auto* source = std::get_if<vqscw::tools::HeardSource>(&event)) {
        std::string sdp;
        if (!options_.sdp_dir.empty()) {
          sdp = vqscw::tools::WriteSdpFile(options_.sdp_dir, *source);
          if (sdp.empty()) {
            std::fprintf(stderr, "vqscw-spy: no SDP file written for channel %u (stream type %u)\n",
                         source->channel, source->type);
          }
        }
        std::fprintf(out_, "%s\n", vqscw::tools::SourceLine(*source, sdp, options_.json).c_str());
      } else {
        std::fprintf(
            out_, "%s\n",
            vqscw::tools::GoneLine(std::get<vqscw::tools::GoneTerminal>(event), options_.json)
                .c_str());
      }
    }
  }

 private:
  const SpyOptions& options_;
  FILE* out_;
};

// Standard output for the tool's lines alone: the library prints its own (the endpoints it opens,
// --debug's lines) on the process's standard output, which from now on is standard error.
FILE* TakeStandardOutput() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  FILE* out = saved >= 0 ? fdopen(saved, "w") : nullptr;
  if (out == nullptr) return stdout;
  dup2(STDERR_FILENO, STDOUT_FILENO);
  std::setvbuf(out, nullptr, _IOLBF, 0);  // lines reach a pipe or file as they are printed
  return out;
}

int Run(const SpyOptions& options) {
  FILE* out = TakeStandardOutput();
  dbg_spy = options.debug ? 1 : 0;
  vqscw::tools::InstallStopHandlers();
  vqscw::tools::SpyListener listener;
  std::string error;
  if (!listener.Open(options.card.address, options.acl_given ? &options.acl : nullptr, &error)) {
    std::fprintf(stderr, "vqscw-spy: %s on %s\n", error.c_str(), options.card.text.c_str());
    return kExitFailure;
  }
  if (!options.json) {
    std::fprintf(out, "vqscw-spy: listening on %s (%s)\n", options.card.text.c_str(),
                 options.card.interface.c_str());
  }
  Printer printer(options, out);
  const Clock::time_point end = Clock::now() + std::chrono::seconds(options.seconds);
  while (!vqscw::tools::StopRequested()) {
    const Clock::time_point now = Clock::now();
    if (options.seconds != 0 && now >= end) break;
    auto wait = kMaxWait;
    if (options.seconds != 0) {
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(end - now));
    }
    printer.Print(listener.Take(wait));
  }
  listener.Close();
  printer.Print(listener.Take(std::chrono::milliseconds(0)));  // what came before the close
  std::fflush(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  SpyOptions options;
  std::string message;
  const vqscw::tools::CommandLineOutcome outcome = vqscw::tools::ParseSpyOptions(
      std::vector<std::string>(argv + 1, argv + argc), &options, &message);
  if (outcome != vqscw::tools::CommandLineOutcome::kRun) {
    return vqscw::tools::ReportCommandLine("vqscw-spy", outcome, message);
  }
  return Run(options);
}
