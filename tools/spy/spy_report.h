// The lines a listening tool prints: one per source heard and one per terminal expired, as text
// for people or as one JSON object a line for scripts.
#ifndef TOOLS_SPY_SPY_REPORT_H_
#define TOOLS_SPY_SPY_REPORT_H_

#include <string>

#include "tools/spy/heard_table.h"

namespace vqscw::tools {

// `sdp` is the path of the SDP file written for the source, or empty.
std::string SourceLine(const SpySource& source, const std::string& sdp, bool json);
std::string GoneLine(const GoneTerminal& terminal, bool json);

// `text` as a JSON string, quotes included. Bytes that are not printable ASCII are written as
// \u00XX (names from the network need not be UTF-8), so the output is always valid JSON.
std::string JsonString(const std::string& text);

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_SPY_REPORT_H_
