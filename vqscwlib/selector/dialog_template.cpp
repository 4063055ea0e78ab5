#include "vqscwlib/selector/dialog_template.h"

#include <cstdint>
#include <cstdlib>

namespace vqscw {
namespace {

constexpr ControlTemplate kControls[] = {
    {kIdFilter, ControlKind::kDropList, "", 165, 5, 130, 115, false},
    {kIdFilterLabel, ControlKind::kLabel, "Filter by category:", 105, 7, 56, 8, false},
    {kIdEditor, ControlKind::kDropDown, "", 5, 25, 55, 75, true},
    {kIdCardTitle, ControlKind::kLabel, "Corrivo network card:", 85, 30, 72, 8, false},
    {kIdCardLabel, ControlKind::kLabel, "localhost", 165, 30, 75, 8, false},
    {kIdRefresh, ControlKind::kImageButton, "&Refresh", 245, 25, 50, 14, false},
    {kIdList, ControlKind::kList, "List1", 5, 45, 290, 145, false},
    {1001, ControlKind::kPushButton, "1", 5, 195, 55, 15, true},
    {1002, ControlKind::kPushButton, "2", 63, 195, 55, 15, true},
    {1003, ControlKind::kPushButton, "3", 121, 195, 55, 15, true},
    {1004, ControlKind::kPushButton, "4", 179, 195, 55, 15, true},
    {1005, ControlKind::kPushButton, "5", 5, 212, 55, 15, true},
    {1006, ControlKind::kPushButton, "6", 63, 212, 55, 15, true},
    {1007, ControlKind::kPushButton, "7", 121, 212, 55, 15, true},
    {1008, ControlKind::kPushButton, "8", 179, 212, 55, 15, true},
    {kIdMeter, ControlKind::kMeter, "", 238, 195, 12, 32, false},
    {kIdPreview, ControlKind::kImageButton, "Preview", 251, 195, 44, 15, false},
    {kIdTake, ControlKind::kImageButton, "&Take", 251, 212, 44, 14, false},
    {kIdStatus, ControlKind::kStatusLine, " Initializing...", 0, 230, 235, 10, false},
    {kIdVolume, ControlKind::kTrackbar, "Slider1", 235, 230, 66, 11, false},
};

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
  int64_t product = static_cast<int64_t>(a) * b;
  int64_t half = c / 2;
  int64_t rounded = product >= 0 ? (product + half) / c : (product - half) / c;
  return static_cast<int>(rounded);
}

}  // namespace

std::span<const ControlTemplate> DialogControls() { return kControls; }

const ControlTemplate* FindControl(int id) {
  for (const ControlTemplate& control : kControls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

DialogBaseUnits BaseUnitsOfFont(int alphabet_width, int char_height) {
  return {(alphabet_width / 26 + 1) / 2, char_height};
}

int DialogUnitsToPixelsX(int du, DialogBaseUnits base) { return MulDiv(du, base.x, 4); }
int DialogUnitsToPixelsY(int du, DialogBaseUnits base) { return MulDiv(du, base.y, 8); }

PixelRect ControlRect(const ControlTemplate& control, DialogBaseUnits base) {
  return {DialogUnitsToPixelsX(control.x, base), DialogUnitsToPixelsY(control.y, base),
          DialogUnitsToPixelsX(control.width, base), DialogUnitsToPixelsY(control.height, base)};
}

}  // namespace vqscw
