#include "tools/spy/spy_report.h"

#include <time.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "tools/common/card.h"
#include "vqscwlib/protocol/sdp_writer.h"
#include "vqscwlib/protocol/source_table.h"

namespace vqscw::tools {
namespace {

// The length of the UTF-8 sequence at `text[at]` (shortest form, no surrogate, at most U+10FFFF)
// and its character; 0 when the byte there starts none.
size_t Utf8At(const std::string& text, size_t at, uint32_t* character) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    *character = lead;
    return 1;
  }
  size_t length = 0;
  uint32_t value = 0;
  uint32_t lowest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, lowest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *character = value;
  return length;
}

void AppendUtf8(uint32_t character, std::string* out) {
  if (character < 0x80) {
    *out += static_cast<char>(character);
  } else {  // only Latin-1 comes here
    *out += static_cast<char>(0xC0 | (character >> 6));
    *out += static_cast<char>(0x80 | (character & 0x3F));
  }
}

bool IsControl(uint32_t character) {
  return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

nlohmann::ordered_json EventHead(const char* event, WallClock::time_point time) {
  nlohmann::ordered_json line;
  line["event"] = event;
  line["time"] = TimeText(time);
  return line;
}

}  // namespace

HeardSource CopySource(const SpySource& source, WallClock::time_point time) {
  HeardSource heard;
  heard.time = time;
  heard.channel = source.psid;
  heard.stream_id = source.fsid;
  heard.type = source.fast;
  heard.inip = source.terminal->inip;
  heard.hwid = source.terminal->hwid;
  heard.name = source.name;
  heard.terminal_name = source.terminal->name;
  return heard;
}

GoneTerminal CopyTerminal(const SpyTerminal& terminal, WallClock::time_point time) {
  return {time, terminal.inip, terminal.hwid, terminal.name};
}

std::string WriteSdpFile(const std::string& dir, const HeardSource& source) {
  // The writer reads a slot and its terminal: give it both, as the table held them.
  SpyTerminal terminal{};
  terminal.hwid = source.hwid;
  terminal.inip = source.inip;
  source.terminal_name.copy(terminal.name, sizeof terminal.name - 1);
  terminal.nums = 1;
  SpySource slot{};
  slot.terminal = &terminal;
  slot.psid = source.channel;
  slot.fsid = source.stream_id;
  slot.fast = source.type;
  source.name.copy(slot.name, sizeof slot.name - 1);
  std::vector<char> path(dir.size() + kSdpFileNameLength + 1);
  if (advspy_GenerateSDP(dir.c_str(), &slot, path.data()) != 0) return "";
  return path.data();
}

std::string QuotedName(const std::string& name) {
  std::string out = "\"";
  for (size_t at = 0; at < name.size();) {
    uint32_t character = 0;
    size_t length = Utf8At(name, at, &character);
    if (length != 0 && !IsControl(character)) {
      if (character == '"' || character == '\\') out += '\\';
      out.append(name, at, length);
    } else if (character == '\n' || character == '\r' || character == '\t') {
      out += character == '\n' ? "\\n" : character == '\r' ? "\\r" : "\\t";
    } else {
      if (length == 0) length = 1;  // a byte that is not UTF-8
      for (size_t i = 0; i < length; ++i) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x",
                      static_cast<unsigned>(static_cast<unsigned char>(name[at + i])));
        out += escaped;
      }
    }
    at += length;
  }
  return out + "\"";
}

std::string NameForJson(const std::string& name) {
  std::string out;
  for (size_t at = 0; at < name.size();) {
    uint32_t character = 0;
    const size_t length = Utf8At(name, at, &character);
    if (length != 0) {
      out.append(name, at, length);
      at += length;
    } else {
      AppendUtf8(static_cast<unsigned char>(name[at++]), &out);
    }
  }
  return out;
}

std::string TimeText(WallClock::time_point time) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];  // room for any year gmtime_r can give
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

std::string SourceLine(const HeardSource& source, const std::string& sdp, bool json) {
  const std::string address = AddressText(source.inip);
  if (json) {
    nlohmann::ordered_json line = EventHead("source", source.time);
    line["channel"] = source.channel;
    line["name"] = NameForJson(source.name);
    line["stream_id"] = source.stream_id;
    line["type"] = source.type;
    line["terminal"] = address;
    line["hwid"] = source.hwid;
    line["terminal_name"] = NameForJson(source.terminal_name);
    if (!sdp.empty()) line["sdp"] = NameForJson(sdp);
    return line.dump();
  }
  std::string line = "source " + std::to_string(source.channel) + " " + QuotedName(source.name) +
                     " stream " + std::to_string(source.stream_id) + " type " +
                     std::to_string(source.type) + " from " + address + " hwid " +
                     std::to_string(source.hwid) + " " + QuotedName(source.terminal_name);
  if (!sdp.empty()) line += " sdp " + sdp;
  return line;
}

std::string GoneLine(const GoneTerminal& terminal, bool json) {
  const std::string address = AddressText(terminal.inip);
  if (json) {
    nlohmann::ordered_json line = EventHead("expired", terminal.time);
    line["terminal"] = address;
    line["hwid"] = terminal.hwid;
    line["terminal_name"] = NameForJson(terminal.name);
    return line.dump();
  }
  return "expired " + address + " hwid " + std::to_string(terminal.hwid) + " " +
         QuotedName(terminal.name);
}

}  // namespace vqscw::tools
