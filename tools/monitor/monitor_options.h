// The command line of vqscw-monitor.
#ifndef TOOLS_MONITOR_MONITOR_OPTIONS_H_
#define TOOLS_MONITOR_MONITOR_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/command_line.h"

namespace vqscw::tools {

// Channel numbers the monitor can join: the preview's groups 239.192.0.1 to 239.192.255.255.
constexpr uint32_t kMonitorMaxChannel = 65535;

struct MonitorOptions {
  std::string card;                // address or interface name; empty: the first card
  std::vector<uint32_t> channels;  // in the order given, each once
  bool all = false;                // also every channel the spy hears
  uint32_t seconds = 0;            // 0: until SIGINT or SIGTERM
  bool json = false;
};

// Reads `args` (without the program name), as ParseCommandLine does.
CommandLineOutcome ParseMonitorOptions(const std::vector<std::string>& args,
                                       MonitorOptions* options, std::string* message);

}  // namespace vqscw::tools

#endif  // TOOLS_MONITOR_MONITOR_OPTIONS_H_
