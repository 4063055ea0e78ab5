#include "tools/spy/spy_options.h"

#include <sys/stat.h>

#include "tools/common/arguments.h"

namespace vqscw::tools {
namespace {

constexpr uint32_t kMaxSeconds = 7 * 24 * 3600;

}  // namespace

SpyParseOutcome ParseSpyOptions(const std::vector<std::string>& args, SpyOptions* options,
                                std::string* error) {
  ArgumentReader reader(args);
  while (!reader.Done()) {
    std::string name;
    if (!reader.NextOption(&name)) {
      if (name == "-h") return SpyParseOutcome::kHelp;
      *error = "unexpected argument \"" + name + "\"";
      return SpyParseOutcome::kBadArguments;
    }
    if (name == "help") return SpyParseOutcome::kHelp;
    if (name == "json" || name == "debug") {
      if (reader.HasInlineValue()) {
        *error = "--" + name + " takes no value";
        return SpyParseOutcome::kBadArguments;
      }
      if (name == "json") {
        options->json = true;
      } else {
        options->debug = true;
      }
      continue;
    }
    std::string value;
    if (!reader.Value(&value)) {
      *error = "--" + name + " needs a value";
      return SpyParseOutcome::kBadArguments;
    }
    if (name == "card") {
      options->card = value;
    } else if (name == "acl") {
      options->acl = value;
      options->acl_given = true;
    } else if (name == "sdp") {
      struct stat info {};
      if (value.empty() || stat(value.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "--sdp needs an existing directory, not \"" + value + "\"";
        return SpyParseOutcome::kBadArguments;
      }
      while (value.size() > 1 && value.back() == '/') value.pop_back();
      options->sdp_dir = value;
    } else if (name == "seconds") {
      uint64_t seconds = 0;
      if (!ParseNumber(value, kMaxSeconds, &seconds) || seconds == 0) {
        *error = "--seconds must be a number from 1 to " + std::to_string(kMaxSeconds);
        return SpyParseOutcome::kBadArguments;
      }
      options->seconds = static_cast<uint32_t>(seconds);
    } else {
      *error = "unknown option --" + name;
      return SpyParseOutcome::kBadArguments;
    }
  }
  return SpyParseOutcome::kRun;
}

std::string SpyUsage() {
  return "usage: vqscw-spy [OPTION...]\n"
         "Listens to the advertisements on a network card (239.192.255.3:4001), asks terminals\n"
         "for their full advertisements, and prints each source as it is heard (channel, name,\n"
         "stream id, type, terminal address) and each terminal that falls silent for 30 s.\n"
         "\n"
         "  --card ADDRESS|NAME  the network card, by IPv4 address or interface name\n"
         "                       (default: the first card that is not loopback)\n"
         "  --acl LIST           print only these channels: \"1-100;205;300 - 310\", or\n"
         "                       \"file://PATH\" naming a file of \"allow N\" / \"allow N-M\" "
         "lines\n"
         "  --sdp DIR            write DIR/NNNNN.sdp (NNNNN: the stream id) for every source\n"
         "                       heard whose stream type has an encoding (2: L24, 3: L16)\n"
         "  --json               print one JSON object a line: "
         "{\"event\":\"source\",\"channel\":N,\n"
         "                       \"name\":..., \"stream_id\":N, \"type\":N, "
         "\"terminal\":\"a.b.c.d\",\n"
         "                       \"hwid\":N, \"terminal_name\":...[, \"sdp\":PATH]} or\n"
         "                       {\"event\":\"expired\", \"terminal\":..., \"hwid\":N,\n"
         "                       \"terminal_name\":...}\n"
         "  --seconds N          stop after N seconds (default: until SIGINT or SIGTERM)\n"
         "  --debug              print the library's source-table lines\n"
         "  --help               print this text\n"
         "\n"
         "Exit status: 0 after a clean stop, 1 when the card's sockets cannot be opened,\n"
         "2 for bad arguments.\n";
}

}  // namespace vqscw::tools
