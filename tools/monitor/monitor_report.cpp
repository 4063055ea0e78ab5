#include "tools/monitor/monitor_report.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace vqscw::tools {
namespace {

double Rounded(double value, double steps_per_unit) {
  const double rounded = std::round(value * steps_per_unit) / steps_per_unit;
  return rounded == 0 ? 0.0 : rounded;  // no "-0.0"
}

constexpr double kJitterSteps = 1000;  // microseconds
constexpr double kPeakSteps = 10;      // tenths of a decibel

}  // namespace

std::string JsonReport(ReportKind kind, const ChannelReport& r) {
  nlohmann::ordered_json line;
  line["event"] = kind == ReportKind::kTotal ? "total" : "stats";
  line["channel"] = r.channel;
  line["packets"] = r.packets;
  line["lost"] = r.lost;
  line["duplicated"] = r.duplicated;
  line["reordered"] = r.reordered;
  line["jitter_ms"] = Rounded(r.jitter_ms, kJitterSteps);
  line["peak_dbfs"] = {Rounded(r.peak_left_dbfs, kPeakSteps),
                       Rounded(r.peak_right_dbfs, kPeakSteps)};
  line["silent"] = r.silent;
  line["ssrc"] = r.has_ssrc ? nlohmann::ordered_json(r.ssrc) : nlohmann::ordered_json(nullptr);
  return line.dump();
}

std::string TextReport(ReportKind kind, const ChannelReport& r) {
  char ssrc[16] = "-";
  if (r.has_ssrc) std::snprintf(ssrc, sizeof ssrc, "%08" PRIX32, r.ssrc);
  char text[256];
  std::snprintf(text, sizeof text,
                "%s channel %" PRIu32 ": %" PRIu64 " packets, %" PRId64 " lost, %" PRIu64
                " duplicated, %" PRIu64
                " reordered, jitter %.3f ms, peak %.1f/%.1f dBFS%s, "
                "SSRC %s",
                kind == ReportKind::kTotal ? "total" : "     ", r.channel, r.packets, r.lost,
                r.duplicated, r.reordered, Rounded(r.jitter_ms, kJitterSteps),
                Rounded(r.peak_left_dbfs, kPeakSteps), Rounded(r.peak_right_dbfs, kPeakSteps),
                r.silent ? ", silent" : "", ssrc);
  return text;
}

std::string JsonChannelEvent(bool joined, uint32_t channel) {
  nlohmann::ordered_json line;
  line["event"] = joined ? "joined" : "left";
  line["channel"] = channel;
  return line.dump();
}

std::string TextChannelEvent(bool joined, uint32_t channel) {
  return (joined ? "joined channel " : "left channel ") + std::to_string(channel);
}

}  // namespace vqscw::tools
