// What vqscw-spy is told on its command line, read against its one option table. Every value is
// checked before the spy opens: the card must exist, the access list must let a channel pass, the
// SDP folder must exist and be writable.
#ifndef TOOLS_SPY_SPY_OPTIONS_H_
#define TOOLS_SPY_SPY_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/card.h"
#include "tools/common/command_line.h"

namespace vqscw::tools {

struct SpyOptions {
  Card card;  // given, or the first card outside 127.0.0.0/8
  bool acl_given = false;
  std::string acl;
  std::string sdp_dir;  // without trailing "/"; empty: no SDP files
  bool json = false;
  uint32_t seconds = 0;  // 0: until interrupted
  bool debug = false;
};

// Reads the arguments after the program name. kHelp and kVersion put the text to print in
// *message, kBadArguments a one-line reason naming the option.
CommandLineOutcome ParseSpyOptions(const std::vector<std::string>& args, SpyOptions* options,
                                   std::string* message);

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_SPY_OPTIONS_H_
