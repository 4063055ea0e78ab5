// The lines vqscw-monitor prints: one per channel every second and a total per channel at the
// end, as text for a person or as JSON objects, one a line, for a script.
#ifndef TOOLS_MONITOR_MONITOR_REPORT_H_
#define TOOLS_MONITOR_MONITOR_REPORT_H_

#include <cstdint>
#include <string>

namespace vqscw::tools {

// What one line says of one channel.
struct ChannelReport {
  uint32_t channel = 0;
  uint64_t packets = 0;
  int64_t lost = 0;  // per second: the change, which a late arrival makes negative
  uint64_t duplicated = 0;
  uint64_t reordered = 0;
  double jitter_ms = 0;
  double peak_left_dbfs = 0;
  double peak_right_dbfs = 0;
  bool silent = false;
  bool has_ssrc = false;
  uint32_t ssrc = 0;
};

enum class ReportKind { kSecond, kTotal };

// {"event":"stats"|"total","channel":N,"packets":P,"lost":L,"duplicated":D,"reordered":R,
//  "jitter_ms":J,"peak_dbfs":[left,right],"silent":false,"ssrc":S}, the jitter rounded to the
// microsecond and the peaks to 0.1 dB; "ssrc" is null before any packet.
std::string JsonReport(ReportKind kind, const ChannelReport& report);
// The same as a line of text.
std::string TextReport(ReportKind kind, const ChannelReport& report);

// A channel joined or left (with --all): {"event":"joined","channel":N}, or a line of text.
std::string JsonChannelEvent(bool joined, uint32_t channel);
std::string TextChannelEvent(bool joined, uint32_t channel);

}  // namespace vqscw::tools

#endif  // TOOLS_MONITOR_MONITOR_REPORT_H_
