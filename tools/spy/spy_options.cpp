#include "tools/spy/spy_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include "vqscwlib/spy/access_list.h"

namespace vqscw::tools {
namespace {

constexpr uint32_t kMaxSeconds = 7 * 24 * 3600;

constexpr char kDescription[] =
    "vqscw-spy: listens to the advertisements on a network card (239.192.255.3:4001) with the "
    "library's source spy, and prints each source as it is heard (channel, name, stream id, "
    "type, terminal) and each terminal that falls silent for 30 s.";

constexpr char kFooter[] =
    "Text lines: source CHANNEL \"NAME\" stream ID type T from ADDRESS hwid H \"TERMINAL\" "
    "[sdp PATH], and expired ADDRESS hwid H \"TERMINAL\"; in names a quote, a backslash and "
    "control characters are written as \\\", \\\\, \\n, \\r, \\t and \\xHH. With --json every line "
    "is one "
    "object: {\"event\":\"source\",\"time\":...,\"channel\":N,\"name\":...,\"stream_id\":N,"
    "\"type\":N,\"terminal\":\"a.b.c.d\",\"hwid\":N,\"terminal_name\":...[,\"sdp\":PATH]} or "
    "{\"event\":\"expired\",\"time\":...,\"terminal\":...,\"hwid\":N,\"terminal_name\":...}; "
    "\"time\" is when the spy heard it, in UTC (2026-01-31T12:00:00.000Z). --debug lines and "
    "the spy's own messages go to standard error. Ends after --seconds, or on SIGINT or "
    "SIGTERM, with exit code 0; 1 when the card cannot be listened on; 2 for bad arguments.";

constexpr char kAclForms[] =
    "give channels 1 to 32767 as N or N-M separated by \";\" (\"1-100;205;300 - 310\"), or "
    "file://PATH of a file of \"allow N\" and \"allow N-M\" lines";

bool CheckCard(const std::string& text, bool given, Card* card, std::string* message) {
  if (given && text.empty()) {
    *message = "--card: must name a card by interface name or IPv4 address; the cards here: " +
               KnownCards();
    return false;
  }
  std::string error;
  if (!ResolveCard(text, card, &error)) {
    *message = "--card: " + error;
    return false;
  }
  return true;
}

// The library's parser decides what the list holds; a list it takes no channel from would have
// the spy print nothing, which is never what was meant.
bool CheckAccessList(const std::string& text, std::string* message) {
  AccessList list;
  const uint32_t result = ParseAccessList(text.c_str(), &list);
  if (result == kAccessListNoFile) {
    *message =
        "--acl: cannot open the access-list file " + text.substr(sizeof kAccessFilePrefix - 1);
    return false;
  }
  if (result == kAccessListParsed && list.empty()) {
    *message = "--acl: \"" + text + "\" lets no channel pass; " + kAclForms;
    return false;
  }
  return true;
}

bool CheckFolder(std::string* dir, std::string* message) {
  struct stat info {};
  if (dir->empty()) {
    *message = "--sdp: needs the folder to write the SDP files in";
  } else if (stat(dir->c_str(), &info) != 0) {
    *message = "--sdp: the folder " + *dir + " does not exist";
  } else if (!S_ISDIR(info.st_mode)) {
    *message = "--sdp: " + *dir + " is not a folder";
  } else if (access(dir->c_str(), W_OK | X_OK) != 0) {
    *message = "--sdp: the folder " + *dir + " cannot be written";
  } else {
    while (dir->size() > 1 && dir->back() == '/') dir->pop_back();
    return true;
  }
  return false;
}

}  // namespace

CommandLineOutcome ParseSpyOptions(const std::vector<std::string>& args, SpyOptions* options,
                                   std::string* message) {
  CLI::App app(kDescription, "vqscw-spy");
  AddVersionFlag(app);
  app.footer(kFooter);
  std::string card;
  app.add_option("--card", card,
                 "the network card, by IPv4 address or interface name (default: the first card "
                 "outside 127.0.0.0/8)")
      ->type_name("CARD");
  CLI::Option* acl = app.add_option("--acl", options->acl,
                                    "print only the channels this access list lets pass: "
                                    "\"1-100;205;300 - 310\", or file://PATH of \"allow N\" and "
                                    "\"allow N-M\" lines")
                         ->type_name("LIST");
  app.add_option("--sdp", options->sdp_dir,
                 "write FOLDER/NNNNN.sdp (NNNNN: the stream id) for every source heard whose "
                 "stream type has an encoding (2: L24, 3: L16)")
      ->type_name("FOLDER");
  app.add_flag("--json", options->json, "print one JSON object a line");
  app.add_option("--seconds", options->seconds,
                 "stop after this many seconds, 1 to 604800 (default: until SIGINT or SIGTERM)")
      ->type_name("N")
      ->check(kWholeNumber)
      ->check(CLI::Range(uint32_t{1}, kMaxSeconds));
  app.add_flag("--debug", options->debug, "print the library's source-table lines on stderr");

  const CommandLineOutcome outcome = ParseCommandLine(app, args, message);
  if (outcome != CommandLineOutcome::kRun) return outcome;
  options->acl_given = acl->count() != 0;
  if (!CheckCard(card, app.count("--card") != 0, &options->card, message) ||
      (options->acl_given && !CheckAccessList(options->acl, message)) ||
      (app.count("--sdp") != 0 && !CheckFolder(&options->sdp_dir, message))) {
    return CommandLineOutcome::kBadArguments;
  }
  return CommandLineOutcome::kRun;
}

}  // namespace vqscw::tools
