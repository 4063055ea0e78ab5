// The preview panel's rules, kept apart from the widgets: the Preview button's text for each
// progress step, the volume trackbar's mapping to hundredths of a decibel and back, the level
// meter's segments (thresholds, colours, placement) and the status line's texts.
#ifndef VQSCWLIB_SELECTOR_PREVIEW_RULES_H_
#define VQSCWLIB_SELECTOR_PREVIEW_RULES_H_

#include <array>
#include <cstdint>
#include <string>

#include "vqscwlib/preview/receiver_health.h"

namespace vqscw {

// ---------------------------------------------------------------------------------------------
// The Preview button.

// The button's text after progress step `step` (0 to 5) of a preview start or stop: "Preview",
// ">___", "_>__", "__>_", "___>", "Stop". Null for any other step.
const char* PreviewButtonText(int step);

// The step at which the saved volume is applied to a starting preview.
constexpr int kStepRendered = 4;

// ---------------------------------------------------------------------------------------------
// The volume trackbar: positions 0 (silent) to 100 (full loudness).

constexpr int kVolumeMinPosition = 0;
constexpr int kVolumeMaxPosition = 100;

// The volume, in hundredths of a decibel (-10000 to 0), of trackbar position `position`. A
// position outside 0 to 100 is taken as the nearest end.
int32_t VolumeOfPosition(int position);

// The trackbar position (0 to 100) that shows the stored volume `volume`: the inverse of
// VolumeOfPosition, with integer division rounding toward zero; -10000 and below give 0, a
// volume above 0 gives 100. VolumeOfPosition(PositionOfVolume(v)) need not be v, but
// PositionOfVolume(VolumeOfPosition(p)) is p for every position.
int PositionOfVolume(int32_t volume);

// ---------------------------------------------------------------------------------------------
// The level meter: two columns (left and right channel) of ten segments, lowest first.

constexpr int kMeterSegments = 10;
// A segment is lit when the channel's level (tenths of a decibel below full scale) plus this
// offset is greater than the segment's threshold.
constexpr int32_t kMeterLevelOffset = 200;
constexpr std::array<int32_t, kMeterSegments> kMeterThresholds = {-300, -240, -180, -150, -120,
                                                                  -90,  -60,  -30,  0,    60};

struct Rgb {
  int red, green, blue;
  bool operator==(const Rgb&) const = default;
};
constexpr Rgb kMeterGreen = {48, 192, 48};
constexpr Rgb kMeterYellow = {224, 224, 0};
constexpr Rgb kMeterRed = {224, 0, 0};

// The colour of segment `segment` (0 = lowest): two green, six yellow, two red.
Rgb SegmentColour(int segment);

// Whether segment `segment` (0 = lowest) is lit at `level`.
bool SegmentLit(int segment, int32_t level);

// How many segments `level` lights; they are always the lowest ones.
int LitSegments(int32_t level);

// A rectangle with exclusive right and bottom edges.
struct MeterRect {
  int left, top, right, bottom;
  bool operator==(const MeterRect&) const = default;
};

enum MeterColumn : int { kMeterLeft = 0, kMeterRight = 1 };

// Where segment `segment` (0 = lowest) of `column` lies in the meter's rectangle `item`. The
// columns split the width around mid = (item.right + item.left - 1) / 2: the left one spans x
// from item.left + 1 to mid, the right one from mid + 2 to 2 * mid - item.left + 1. The lowest
// segment ends at item.bottom - 1 and is 4 pixels high; each next one lies 5 pixels higher.
MeterRect SegmentRect(const MeterRect& item, MeterColumn column, int segment);

// ---------------------------------------------------------------------------------------------
// The status line.

constexpr int kStatusIntervalMs = 1000;
constexpr char kStatusReadyFormat[] = " Ready... channels found: %d";
constexpr char kStatusPlayingFormat[] =
    " Playing channel #%lu ... %02lu:%02lu:%02lu (rate: %lu packets/s)";

// The status text while no preview plays.
std::string ReadyStatus(int rows);

// The status text of a playing channel, from the preview's statistics (its playing time and
// packet count; both 0 when they could not be read). The channel shows by its low 15 bits. The
// rate is the packets counted since `*last_packet_count`, except while the seconds of the
// playing time read 0 (the first second, and every whole minute), when it reads 0; either way
// *last_packet_count becomes `packets`.
std::string PlayingStatus(int32_t channel, uint32_t elapsed_ms, uint32_t packets,
                          uint32_t* last_packet_count);

// The status line's tooltip and accessible description while a preview plays, from the
// preview's health: "Since the preview started: 30 lost, 20 duplicated, 10 reordered, jitter
// 0.05 ms".
std::string HealthDescription(const ReceiverHealth& health);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_PREVIEW_RULES_H_
