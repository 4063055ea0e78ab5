#include "tools/terminal/terminal_options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>

namespace vqscw::tools {
namespace {

constexpr size_t kMaxConfigLines = 1000;
constexpr uint32_t kMaxSeconds = 7 * 24 * 3600;

constexpr char kDescription[] =
    "vqscw-terminal: a software terminal. It advertises itself and its sources on a network card "
    "(a short advertisement to 239.192.255.3:4001 every second, the full one at start and "
    "whenever asked), grants and expires allocations of its sources, and streams each source as "
    "RTP L24/48000/2 in 1 ms packets to 239.192.0.0|channel:5004, where a previewing selector "
    "listens, and to 239.128.0.0|stream-id:5004, the group its SDP file names (a source of type 3 "
    "sends L16/48000/2 there, as its SDP file says).";

constexpr char kFooter[] =
    "Tones: the source in slot N (1 to 16) plays a sine of N x 500 Hz on both channels at -12 "
    "dBFS: S001 500 Hz, S002 1000 Hz, ... S016 8000 Hz.\n"
    "Each terminal on a machine needs an address of its own: requests for its advertisement come "
    "to its card's address, port 4001, and a second terminal there is refused (on lo, add "
    "addresses such as 127.0.1.2: ip addr add 127.0.1.2/8 dev lo).\n"
    "Exit status: 0 after a clean stop, 1 when the card's sockets cannot be opened, 2 for bad "
    "arguments, a file that cannot be played, or a card where another terminal listens.";

std::string RangeText(uint64_t min, uint64_t max) {
  return std::to_string(min) + " to " + std::to_string(max);
}

bool SourceNumber(const std::string& what, const std::string& text, uint64_t min, uint64_t max,
                  uint64_t* value, std::string* error) {
  if (ReadNumber(text, max, value) && *value >= min) return true;
  *error = what + " must be a number from " + RangeText(min, max) + ", not \"" + text + "\"";
  return false;
}

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

bool ParseSource(const std::string& text, SourceOptions* source, std::string* error) {
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() > 5) {
    *error = "a source is CHANNEL[:NAME[:STREAM-ID[:TYPE[:LABEL]]]], not \"" + text + "\"";
    return false;
  }
  uint64_t value = 0;
  if (!SourceNumber("a source's channel", parts[0], 1, kMaxChannel, &value, error)) return false;
  source->channel = static_cast<uint32_t>(value);
  if (parts.size() > 1) source->name = parts[1];
  if (source->name.size() > kLocalSourceNameBytes) {
    *error = "a source's name has at most 16 bytes: \"" + source->name + "\"";
    return false;
  }
  if (parts.size() > 2 && !parts[2].empty()) {
    if (!SourceNumber("a source's stream id", parts[2], 1, kMaxStreamId, &value, error)) {
      return false;
    }
    source->stream_id = static_cast<uint32_t>(value);
  }
  if (parts.size() > 3 && !parts[3].empty()) {
    if (parts[3] != std::to_string(kStreamTypeL24) && parts[3] != std::to_string(kStreamTypeL16)) {
      *error = "a source's stream type is 2 (24-bit) or 3 (16-bit), not \"" + parts[3] + "\"";
      return false;
    }
    source->type = static_cast<uint8_t>(parts[3][0] - '0');
  }
  if (parts.size() > 4) source->label = parts[4];
  if (source->label.size() > kLocalSourceLabelBytes) {
    *error = "a source's label has at most 10 bytes: \"" + source->label + "\"";
    return false;
  }
  return true;
}

const CLI::Validator kSourceText(
    [](std::string& text) {
      SourceOptions source;
      std::string error;
      return ParseSource(text, &source, &error) ? std::string() : error;
    },
    "");

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

// What the table reads, before the sources are parsed and the defaults applied.
struct Given {
  TerminalOptions options;
  std::vector<std::string> sources;
  std::string config;
  bool no_stream = false;
};

// The option table, reading into *given. An option given twice (in the config file and on the
// command line) keeps its last value; --source collects every value in order.
void Describe(CLI::App& app, Given* given) {
  AddVersionFlag(app);
  app.footer(kFooter);
  TerminalOptions& o = given->options;
  auto once = [](CLI::Option* option) {
    return option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  };
  once(app.add_option("--card", o.card,
                      "the network card, by IPv4 address or interface name (default: the first "
                      "card that is not loopback)"))
      ->type_name("ADDRESS|NAME")
      ->check(kNotEmpty);
  once(app.add_option("--name", o.name,
                      "the terminal's name, at most 32 bytes (default: the host name)"))
      ->check(CLI::Validator(
          [](std::string& text) {
            return text.size() > kLocalTerminalNameBytes
                       ? std::string("the terminal's name has at most 32 bytes")
                       : std::string();
          },
          ""));
  once(app.add_option("--hwid", o.hwid, "hardware id (default: 1)"))
      ->transform(NumberFrom(0, 0xFFFF));
  once(app.add_option("--advv", o.advv,
                      "advertisement version (default: the start time, so that listeners drop "
                      "what they kept of an earlier run)"))
      ->transform(NumberFrom(0, 0xFFFFFFFF));
  once(app.add_option("--udpc", o.udpc, "the \"UDPC\" value (default: 0)"))
      ->transform(NumberFrom(0, 0xFFFF));
  app.add_option("--source", given->sources,
                 "a source, CHANNEL[:NAME[:STREAM-ID[:TYPE[:LABEL]]]]: channel 1 to 32767, name at "
                 "most 16 bytes, stream id 1 to 32767 (default: the channel), type 2 (24-bit, the "
                 "default) or 3 (16-bit), label at most 10 bytes. Up to 16, filling slots S001 to "
                 "S016 in order. Default: one source on channel 1.")
      ->type_name("DESC")
      ->check(kSourceText)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  once(app.add_option("--config", given->config,
                      "read options from FILE, one \"OPTION VALUE\" a line without the dashes "
                      "(\"source 101:Mic 1\"; \"#\" starts a comment); its sources come first, "
                      "and the command line's other options override the file's"))
      ->type_name("FILE");
  once(app.add_option("--wav", o.wav,
                      "stream FILE in a loop, from every source, instead of the tones: any audio "
                      "file GStreamer can decode (WAV, FLAC, Ogg, ...), at any rate, resampled to "
                      "48000 Hz"))
      ->type_name("FILE")
      ->check(kNotEmpty);
  once(app.add_option("--seconds", o.seconds,
                      "stop after N seconds (default: until SIGINT or SIGTERM)"))
      ->transform(NumberFrom(1, kMaxSeconds));
  app.add_flag("--no-stream", given->no_stream,
               "advertise and grant allocations, but send no audio")
      ->disable_flag_override();
  app.add_flag("--debug", o.debug, "print the library's advertising and allocation lines")
      ->disable_flag_override();
}

CommandLineOutcome ParseWithTable(const std::vector<std::string>& args, Given* given,
                                  std::string* message) {
  CLI::App app(kDescription, "vqscw-terminal");
  Describe(app, given);
  const CommandLineOutcome outcome = ParseCommandLine(app, args, message);
  given->options.advv_given = app.count("--advv") > 0;
  given->options.stream = !given->no_stream;
  return outcome;
}

CommandLineOutcome Refuse(std::string* message, const std::string& reason) {
  *message = reason;
  return CommandLineOutcome::kBadArguments;
}

}  // namespace

CommandLineOutcome ParseTerminalOptions(const std::vector<std::string>& args,
                                        TerminalOptions* options, std::string* message) {
  Given given;
  CommandLineOutcome outcome = ParseWithTable(args, &given, message);
  if (outcome != CommandLineOutcome::kRun) return outcome;
  if (!given.config.empty()) {
    const std::string path = given.config;
    std::vector<std::string> combined;
    if (!ReadConfig(path, &combined, message)) return Refuse(message, "--config: " + *message);
    Given from_file;  // the file alone, so that its faults are told as its own
    outcome = ParseWithTable(combined, &from_file, message);
    if (outcome != CommandLineOutcome::kRun) return Refuse(message, path + ": " + *message);
    if (!from_file.config.empty()) {
      return Refuse(message, path + ": a config file cannot name another config file");
    }
    combined.insert(combined.end(), args.begin(), args.end());
    given = Given{};
    outcome = ParseWithTable(combined, &given, message);
    if (outcome != CommandLineOutcome::kRun) return outcome;
  }
  *options = given.options;
  options->sources.clear();
  for (const std::string& text : given.sources) {
    SourceOptions source;
    if (!ParseSource(text, &source, message)) return Refuse(message, "--source: " + *message);
    options->sources.push_back(source);
  }
  if (options->sources.size() > kLocalSourceSlots) {
    return Refuse(message, "--source: a terminal has at most 16 sources");
  }
  if (options->sources.empty()) {
    SourceOptions first;
    first.channel = 1;
    options->sources.push_back(first);
  }
  std::set<uint32_t> channels;
  for (size_t slot = 0; slot < options->sources.size(); ++slot) {
    SourceOptions& source = options->sources[slot];
    if (!channels.insert(source.channel).second) {
      return Refuse(message,
                    "--source: channel " + std::to_string(source.channel) + " is given twice");
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
  return CommandLineOutcome::kRun;
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

}  // namespace vqscw::tools
