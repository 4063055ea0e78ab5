#include "tools/terminal/terminal_options.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "tools/common/arguments.h"

namespace vqscw::tools {
namespace {

constexpr size_t kMaxConfigLines = 1000;
constexpr uint32_t kMaxSeconds = 7 * 24 * 3600;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Trim(const std::string& text) {
  const char* space = " \t\r\n";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool Number(const std::string& what, const std::string& text, uint64_t min, uint64_t max,
            uint64_t* value, std::string* error) {
  if (ParseNumber(text, max, value) && *value >= min) return true;
  *error = what + " must be a number from " + std::to_string(min) + " to " + std::to_string(max) +
           ", not \"" + text + "\"";
  return false;
}

bool ParseSource(const std::string& text, SourceOptions* source, std::string* error) {
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() > 5) {
    *error = "a source is CHANNEL[:NAME[:STREAM-ID[:TYPE[:LABEL]]]], not \"" + text + "\"";
    return false;
  }
  uint64_t value = 0;
  if (!Number("a source's channel", parts[0], 1, kMaxChannel, &value, error)) return false;
  source->channel = static_cast<uint32_t>(value);
  if (parts.size() > 1) source->name = parts[1];
  if (source->name.size() > kLocalSourceNameBytes) {
    *error = "a source's name has at most 16 bytes: \"" + source->name + "\"";
    return false;
  }
  if (parts.size() > 2 && !parts[2].empty()) {
    if (!Number("a source's stream id", parts[2], 1, kMaxStreamId, &value, error)) return false;
    source->stream_id = static_cast<uint32_t>(value);
  }
  if (parts.size() > 3 && !parts[3].empty()) {
    if (!Number("a source's stream type", parts[3], 0, 255, &value, error)) return false;
    source->type = static_cast<uint8_t>(value);
  }
  if (parts.size() > 4) source->label = parts[4];
  if (source->label.size() > kLocalSourceLabelBytes) {
    *error = "a source's label has at most 10 bytes: \"" + source->label + "\"";
    return false;
  }
  return true;
}

bool ReadConfig(const std::string& path, std::vector<std::string>* args, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the config file " + path;
    return false;
  }
  std::string line;
  for (size_t count = 0; std::getline(in, line); ++count) {
    if (count == kMaxConfigLines) {
      *error = "the config file " + path + " has more than 1000 lines";
      return false;
    }
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find_first_of(" \t");
    args->push_back("--" + line.substr(0, space));
    if (space != std::string::npos) args->push_back(Trim(line.substr(space)));
  }
  return true;
}

ParseOutcome Parse(const std::vector<std::string>& args, bool in_config, TerminalOptions* options,
                   std::string* error) {
  ArgumentReader reader(args);
  uint64_t value = 0;
  while (!reader.Done()) {
    std::string name;
    if (!reader.NextOption(&name)) {
      if (name == "-h") return ParseOutcome::kHelp;
      *error = "unexpected argument \"" + name + "\"";
      return ParseOutcome::kBadArguments;
    }
    if (name == "help") return ParseOutcome::kHelp;
    if (name == "no-stream" || name == "debug") {
      if (reader.HasInlineValue()) {
        *error = "--" + name + " takes no value";
        return ParseOutcome::kBadArguments;
      }
      if (name == "debug") {
        options->debug = true;
      } else {
        options->stream = false;
      }
      continue;
    }
    std::string text;
    if (!reader.Value(&text)) {
      *error = "--" + name + " needs a value";
      return ParseOutcome::kBadArguments;
    }
    bool ok = true;
    if (name == "card") {
      options->card = text;
    } else if (name == "name") {
      options->name = text;
      if (text.size() > kLocalTerminalNameBytes) {
        *error = "the terminal's name has at most 32 bytes";
        ok = false;
      }
    } else if (name == "hwid") {
      ok = Number("--hwid", text, 0, 0xFFFF, &value, error);
      options->hwid = static_cast<uint16_t>(value);
    } else if (name == "advv") {
      ok = Number("--advv", text, 0, 0xFFFFFFFF, &value, error);
      options->advv = static_cast<uint32_t>(value);
      options->advv_given = true;
    } else if (name == "udpc") {
      ok = Number("--udpc", text, 0, 0xFFFF, &value, error);
      options->udpc = static_cast<uint16_t>(value);
    } else if (name == "source") {
      SourceOptions source;
      ok = ParseSource(text, &source, error);
      if (ok && options->sources.size() == kLocalSourceSlots) {
        *error = "a terminal has at most 16 sources";
        ok = false;
      }
      if (ok) options->sources.push_back(source);
    } else if (name == "wav") {
      options->wav = text;
    } else if (name == "seconds") {
      ok = Number("--seconds", text, 1, kMaxSeconds, &value, error);
      options->seconds = static_cast<uint32_t>(value);
    } else if (name == "config" && !in_config) {
      std::vector<std::string> config_args;
      ok = ReadConfig(text, &config_args, error);
      if (ok) {
        const ParseOutcome outcome = Parse(config_args, true, options, error);
        if (outcome != ParseOutcome::kRun) {
          if (outcome == ParseOutcome::kBadArguments) *error = text + ": " + *error;
          return outcome;
        }
      }
    } else {
      *error = "unknown option --" + name;
      ok = false;
    }
    if (!ok) return ParseOutcome::kBadArguments;
  }
  return ParseOutcome::kRun;
}

}  // namespace

ParseOutcome ParseTerminalOptions(const std::vector<std::string>& args, TerminalOptions* options,
                                  std::string* error) {
  const ParseOutcome outcome = Parse(args, false, options, error);
  if (outcome != ParseOutcome::kRun) return outcome;
  if (options->sources.empty()) {
    SourceOptions first;
    first.channel = 1;
    options->sources.push_back(first);
  }
  std::set<uint32_t> channels;
  for (size_t slot = 0; slot < options->sources.size(); ++slot) {
    SourceOptions& source = options->sources[slot];
    if (!channels.insert(source.channel).second) {
      *error = "channel " + std::to_string(source.channel) + " is given twice";
      return ParseOutcome::kBadArguments;
    }
    if (source.stream_id == 0) source.stream_id = source.channel;
    if (source.name.empty()) {
      const int number = static_cast<int>(slot);
      source.name = options->wav.empty()
                        ? "Tone " + std::to_string(static_cast<int>(ToneFrequency(number))) + " Hz"
                        : "Source " + std::to_string(number + 1);
    }
  }
  if (options->name.empty()) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    options->name = std::string(host).substr(0, kLocalTerminalNameBytes);
  }
  // A new version at each start, so that listeners drop what they kept of an earlier run.
  if (!options->advv_given) options->advv = static_cast<uint32_t>(std::time(nullptr));
  return ParseOutcome::kRun;
}

void BuildLocalTerminal(const TerminalOptions& options, uint32_t inip, LocalTerminal* terminal) {
  *terminal = LocalTerminal{};
  terminal->inip = inip;
  terminal->udpc = options.udpc;
  terminal->hwid = options.hwid;
  terminal->advv = options.advv;
  std::memcpy(terminal->name, options.name.data(),
              std::min(options.name.size(), sizeof terminal->name));
  for (size_t slot = 0; slot < options.sources.size() && slot < kLocalSourceSlots; ++slot) {
    const SourceOptions& from = options.sources[slot];
    LocalSource& to = terminal->sources[slot];
    to.psid = from.channel;
    to.fsid = from.stream_id;
    to.fast = from.type;
    std::memcpy(to.name, from.name.data(), std::min(from.name.size(), sizeof to.name - 1));
    std::memcpy(to.label, from.label.data(), std::min(from.label.size(), sizeof to.label - 1));
  }
}

std::string TerminalUsage() {
  std::ostringstream text;
  text << "usage: vqscw-terminal [OPTION...]\n"
          "A software terminal. It advertises itself and its sources on a network card (a short\n"
          "advertisement to 239.192.255.3:4001 every second, the full one at start and whenever\n"
          "asked), grants and expires allocations of its sources, and streams each source as\n"
          "RTP L24/48000/2 in 1 ms packets to 239.192.0.0|channel:5004, where a previewing\n"
          "selector listens, and to 239.128.0.0|stream-id:5004, the group its SDP file names\n"
          "(a source of type 3 sends L16/48000/2 there, as its SDP file says).\n"
          "\n"
          "  --card ADDRESS|NAME  the network card, by IPv4 address or interface name\n"
          "                       (default: the first card that is not loopback)\n"
          "  --name TEXT          the terminal's name, at most 32 bytes (default: the host name)\n"
          "  --hwid N             hardware id, 0 to 65535 (default: 1)\n"
          "  --advv N             advertisement version (default: the start time, so that\n"
          "                       listeners drop what they kept of an earlier run)\n"
          "  --udpc N             the \"UDPC\" value, 0 to 65535 (default: 0)\n"
          "  --source DESC        a source, DESC = CHANNEL[:NAME[:STREAM-ID[:TYPE[:LABEL]]]]:\n"
          "                       channel 1 to 32767, name at most 16 bytes, stream id 1 to\n"
          "                       32767 (default: the channel), type (default: 2, 24-bit;\n"
          "                       3 is 16-bit), label at most 10 bytes. Up to 16, filling slots\n"
          "                       S001 to S016 in order. Default: one source on channel 1.\n"
          "  --config FILE        read options from FILE, one \"OPTION VALUE\" a line without\n"
          "                       the dashes (\"source 101:Mic 1\"); \"#\" starts a comment\n"
          "  --wav FILE           stream FILE (48000 Hz PCM or float WAV) in a loop, from every\n"
          "                       source, instead of the tones\n"
          "  --seconds N          stop after N seconds (default: until SIGINT or SIGTERM)\n"
          "  --no-stream          advertise and grant allocations, but send no audio\n"
          "  --debug              print the library's advertising and allocation lines\n"
          "  --help               print this text\n"
          "\n"
          "Tones: the source in slot N (1 to 16) plays a sine of N x 500 Hz on both channels at\n"
          "-12 dBFS: S001 500 Hz, S002 1000 Hz, ... S016 8000 Hz.\n"
          "Exit status: 0 after a clean stop, 1 when the card's sockets cannot be opened,\n"
          "2 for bad arguments.\n";
  return text.str();
}

}  // namespace vqscw::tools
