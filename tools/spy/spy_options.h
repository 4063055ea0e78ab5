// What a listening tool is told on its command line.
#ifndef TOOLS_SPY_SPY_OPTIONS_H_
#define TOOLS_SPY_SPY_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vqscw::tools {

struct SpyOptions {
  std::string card;  // empty: the first card that is not loopback
  bool acl_given = false;
  std::string acl;
  std::string sdp_dir;  // empty: no SDP files
  bool json = false;
  uint32_t seconds = 0;  // 0: until interrupted
  bool debug = false;
};

enum class SpyParseOutcome { kRun, kHelp, kBadArguments };

// Reads the arguments after the program name. On kBadArguments *error says why.
SpyParseOutcome ParseSpyOptions(const std::vector<std::string>& args, SpyOptions* options,
                                std::string* error);

std::string SpyUsage();

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_SPY_OPTIONS_H_
