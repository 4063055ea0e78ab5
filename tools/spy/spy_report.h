// The lines vqscw-spy prints: one per source heard and one per terminal expired, as text for
// people or as one JSON object a line for scripts. Names come from the network: in text they are
// quoted and escaped, in JSON they are strings, so no name can break a line or send control
// sequences to a console.
#ifndef TOOLS_SPY_SPY_REPORT_H_
#define TOOLS_SPY_SPY_REPORT_H_

#include <chrono>
#include <cstdint>
#include <string>

struct SpySource;
struct SpyTerminal;

namespace vqscw::tools {

using WallClock = std::chrono::system_clock;

// A source as the spy reported it, copied out of the spy's table.
struct HeardSource {
  WallClock::time_point time;
  uint32_t channel = 0;
  uint32_t stream_id = 0;
  uint8_t type = 0;
  uint32_t inip = 0;  // network byte order as held in memory
  uint16_t hwid = 0;
  std::string name;
  std::string terminal_name;
};

// A terminal the spy dropped because it fell silent.
struct GoneTerminal {
  WallClock::time_point time;
  uint32_t inip = 0;
  uint16_t hwid = 0;
  std::string name;
};

HeardSource CopySource(const SpySource& source, WallClock::time_point time);
GoneTerminal CopyTerminal(const SpyTerminal& terminal, WallClock::time_point time);

// Writes DIR/NNNNN.sdp for `source` with the library's writer; its path, or empty when the
// source's stream type has no encoding or the file cannot be written.
std::string WriteSdpFile(const std::string& dir, const HeardSource& source);

// `sdp` is the path of the SDP file written for the source, or empty.
std::string SourceLine(const HeardSource& source, const std::string& sdp, bool json);
std::string GoneLine(const GoneTerminal& terminal, bool json);

// A name in double quotes: '"' and '\' escaped with '\', control characters (C0, DEL and C1) and
// bytes that are not UTF-8 as \xHH (\n, \r and \t by their letters); other UTF-8 is kept.
std::string QuotedName(const std::string& name);
// A name as JSON text: its UTF-8 as it is, and each byte that is not UTF-8 as the character of
// that number (Latin-1), so that the line is always valid JSON.
std::string NameForJson(const std::string& name);
// "2026-01-31T12:00:00.000Z".
std::string TimeText(WallClock::time_point time);

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_SPY_REPORT_H_
