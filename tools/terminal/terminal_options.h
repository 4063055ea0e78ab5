// What a software terminal is told on its command line (and in its optional config file): the
// terminal it plays, its sources and how it runs.
#ifndef TOOLS_TERMINAL_TERMINAL_OPTIONS_H_
#define TOOLS_TERMINAL_TERMINAL_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/command_line.h"
#include "vqscwlib/host.h"

namespace vqscw::tools {

// Slot N (1 to 16) plays a tone of N times this many Hz.
constexpr double kToneStepHz = 500;
constexpr double kToneAmplitude = 0.25;  // -12 dBFS
constexpr uint32_t kMaxChannel = 32767;
constexpr uint32_t kMaxStreamId = 32767;
constexpr uint8_t kStreamTypeL24 = 2;
constexpr uint8_t kStreamTypeL16 = 3;

struct SourceOptions {
  uint32_t channel = 0;
  std::string name;
  uint32_t stream_id = 0;
  uint8_t type = kStreamTypeL24;
  std::string label;
};

struct TerminalOptions {
  std::string card;  // empty (not given): the first card that is not loopback
  std::string name;  // empty: the host name
  uint16_t hwid = 1;
  bool advv_given = false;
  uint32_t advv = 0;
  uint16_t udpc = 0;
  std::vector<SourceOptions> sources;  // in slot order; empty: one tone on channel 1
  std::string wav;                     // empty: tones
  uint32_t seconds = 0;                // 0: until interrupted
  bool stream = true;
  bool debug = false;
};

// Reads the arguments after the program name, and the config files they name (a config file's
// options take its place among the arguments, so later arguments override it). kHelp and
// kVersion put the text to print in *message, kBadArguments a one-line reason.
CommandLineOutcome ParseTerminalOptions(const std::vector<std::string>& args,
                                        TerminalOptions* options, std::string* message);

// The frequency of the tone that slot `slot` (0 to 15) plays.
inline double ToneFrequency(int slot) { return kToneStepHz * (slot + 1); }

// Fills `terminal` from the options (the sources' defaults applied) for the card `inip`.
void BuildLocalTerminal(const TerminalOptions& options, uint32_t inip, LocalTerminal* terminal);

}  // namespace vqscw::tools

#endif  // TOOLS_TERMINAL_TERMINAL_OPTIONS_H_
