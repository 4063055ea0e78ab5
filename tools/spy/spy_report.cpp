#include "tools/spy/spy_report.h"

#include <cstdio>

#include "tools/common/card.h"

namespace vqscw::tools {
namespace {

// A name from the network as a console shows it safely: control characters (escape sequences
// above all) become "?".
std::string Printable(const char* name) {
  std::string text(name);
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string SourceLine(const SpySource& source, const std::string& sdp, bool json) {
  const SpyTerminal& terminal = *source.terminal;
  const std::string address = AddressText(terminal.inip);
  const std::string channel = std::to_string(source.psid);
  const std::string stream = std::to_string(source.fsid);
  const std::string type = std::to_string(source.fast);
  const std::string hwid = std::to_string(terminal.hwid);
  if (json) {
    std::string line = "{\"event\":\"source\",\"channel\":" + channel +
                       ",\"name\":" + JsonString(source.name) + ",\"stream_id\":" + stream +
                       ",\"type\":" + type + ",\"terminal\":\"" + address + "\",\"hwid\":" + hwid +
                       ",\"terminal_name\":" + JsonString(terminal.name);
    if (!sdp.empty()) line += ",\"sdp\":" + JsonString(sdp);
    return line + "}";
  }
  std::string line = "source " + channel + " \"" + Printable(source.name) + "\" stream " + stream +
                     " type " + type + " from " + address + " hwid " + hwid + " \"" +
                     Printable(terminal.name) + "\"";
  if (!sdp.empty()) line += " sdp " + sdp;
  return line;
}

std::string GoneLine(const GoneTerminal& terminal, bool json) {
  const std::string address = AddressText(terminal.inip);
  const std::string hwid = std::to_string(terminal.hwid);
  if (json) {
    return "{\"event\":\"expired\",\"terminal\":\"" + address + "\",\"hwid\":" + hwid +
           ",\"terminal_name\":" + JsonString(terminal.name) + "}";
  }
  return "expired " + address + " hwid " + hwid + " \"" + Printable(terminal.name.c_str()) + "\"";
}

}  // namespace vqscw::tools
