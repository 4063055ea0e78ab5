#include "vqscwlib/selector/preview_rules.h"

#include <algorithm>
#include <cstdio>

#include "vqscwlib/selector/settings.h"

namespace vqscw {
namespace {

constexpr const char* kButtonTexts[] = {"Preview", ">___", "_>__", "__>_", "___>", "Stop"};

constexpr uint32_t kChannelDisplayMask = 0x7FFF;

constexpr uint32_t kMsPerSecond = 1000;
constexpr uint32_t kMsPerMinute = 60 * kMsPerSecond;
constexpr uint32_t kMsPerHour = 60 * kMsPerMinute;

// Segment geometry, in pixels.
constexpr int kSegmentHeight = 4;
constexpr int kSegmentPitch = 5;
constexpr int kGreenSegments = 2;
constexpr int kFirstRedSegment = 8;

}  // namespace

const char* PreviewButtonText(int step) {
  if (step < 0 || step >= static_cast<int>(std::size(kButtonTexts))) return nullptr;
  return kButtonTexts[step];
}

// The trackbar's three straight stretches meet at positions 25 and 50; position 0 is silence.
int32_t VolumeOfPosition(int position) {
  const int p = std::clamp(position, kVolumeMinPosition, kVolumeMaxPosition);
  if (p > 50) return 50 * p - 5000;
  if (p >= 26) return 64 * p - 5700;
  if (p >= 1) return 240 * p - 10100;
  return kVolumeSilent;
}

int PositionOfVolume(int32_t volume) {
  int p = 0;
  if (volume > -2500) {
    p = volume / 50 + 100;
  } else if (volume > -4100) {
    p = (volume + 2500) / 64 + 50;
  } else if (volume > kVolumeSilent) {
    p = (volume + 4100) / 240 + 25;
  }
  return std::clamp(p, kVolumeMinPosition, kVolumeMaxPosition);
}

Rgb SegmentColour(int segment) {
  if (segment < kGreenSegments) return kMeterGreen;
  if (segment < kFirstRedSegment) return kMeterYellow;
  return kMeterRed;
}

bool SegmentLit(int segment, int32_t level) {
  if (segment < 0 || segment >= kMeterSegments) return false;
  // In 64 bits: a level near the 32-bit limit must not wrap.
  return int64_t{level} + kMeterLevelOffset > kMeterThresholds[static_cast<size_t>(segment)];
}

int LitSegments(int32_t level) {
  int lit = 0;
  while (lit < kMeterSegments && SegmentLit(lit, level)) ++lit;
  return lit;
}

MeterRect SegmentRect(const MeterRect& item, MeterColumn column, int segment) {
  const int mid = (item.right + item.left - 1) / 2;
  const int bottom = item.bottom - 1 - kSegmentPitch * segment;
  if (column == kMeterLeft) return {item.left + 1, bottom - kSegmentHeight, mid, bottom};
  return {mid + 2, bottom - kSegmentHeight, 2 * mid - item.left + 1, bottom};
}

std::string ReadyStatus(int rows) {
  char text[64];
  std::snprintf(text, sizeof text, kStatusReadyFormat, rows);
  return text;
}

std::string PlayingStatus(int32_t channel, uint32_t elapsed_ms, uint32_t packets,
                          uint32_t* last_packet_count) {
  const uint32_t hours = elapsed_ms / kMsPerHour;
  const uint32_t minutes = elapsed_ms / kMsPerMinute % 60;
  const uint32_t seconds = elapsed_ms / kMsPerSecond % 60;
  // Unsigned: a count that wrapped since the last update still gives the packets in between.
  const uint32_t rate = seconds != 0 ? packets - *last_packet_count : 0;
  *last_packet_count = packets;
  char text[128];
  std::snprintf(text, sizeof text, kStatusPlayingFormat,
                static_cast<unsigned long>(static_cast<uint32_t>(channel) & kChannelDisplayMask),
                static_cast<unsigned long>(hours), static_cast<unsigned long>(minutes),
                static_cast<unsigned long>(seconds), static_cast<unsigned long>(rate));
  return text;
}

std::string HealthDescription(const ReceiverHealth& health) {
  char text[160];
  std::snprintf(text, sizeof text,
                "Since the preview started: %llu lost, %llu duplicated, %llu reordered, jitter "
                "%.2f ms",
                static_cast<unsigned long long>(health.lost),
                static_cast<unsigned long long>(health.duplicated),
                static_cast<unsigned long long>(health.reordered), health.jitterMs);
  return text;
}

}  // namespace vqscw
