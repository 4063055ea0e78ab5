// The selector dialog's template: its size, caption and controls, with positions in dialog units,
// and the conversion of dialog units to pixels from the dialog font.
//
// A dialog unit is a quarter of the font's average character width horizontally and an eighth of
// its character height vertically. The average width is the width of the 52 letters A-Z a-z over
// 26, halved and rounded, as dialog templates have always been measured.
#ifndef VQSCWLIB_SELECTOR_DIALOG_TEMPLATE_H_
#define VQSCWLIB_SELECTOR_DIALOG_TEMPLATE_H_

#include <span>

namespace vqscw {

// Control ids; each is also the object name of its widget.
enum ControlId : int {
  kIdTake = 1,  // the OK command
  kIdCancel = 2,
  kIdList = 1000,
  kIdPreset1 = 1001,  // 1001 to 1008
  kIdPreset8 = 1008,
  kIdFilter = 1009,
  kIdPreview = 1010,
  kIdRefresh = 1011,
  kIdEditor = 1012,
  kIdMeter = 1013,
  kIdFilterLabel = 1018,
  kIdCardTitle = 1019,
  kIdCardLabel = 1020,
  kIdStatus = 1021,
  kIdVolume = 1022,
};

enum class ControlKind {
  kDropList,     // drop-down list combo box, sorted
  kDropDown,     // combo box with an edit field, sorted
  kLabel,        // static text drawn over the dialog's background
  kStatusLine,   // static text with a sunken edge on the face colour
  kImageButton,  // owner-drawn button with an image cell from the button strip
  kList,         // report-view list
  kPushButton,   // ordinary push button
  kMeter,        // owner-drawn level meter
  kTrackbar,     // horizontal trackbar with a sunken edge
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units
  bool hidden;
};

constexpr int kDialogWidthDu = 300;
constexpr int kDialogHeightDu = 239;
constexpr char kDialogCaption[] = "Corrivo Selector";
constexpr int kDialogFontPoints = 8;

// Every control of the dialog, in creation (and tab) order.
std::span<const ControlTemplate> DialogControls();

// The template of control `id`, or null.
const ControlTemplate* FindControl(int id);

// Pixels per dialog-unit base: `x` the average character width, `y` the character height.
struct DialogBaseUnits {
  int x;
  int y;
};

// Base units of a font whose 52 letters A-Z a-z are `alphabet_width` pixels wide and whose
// characters are `char_height` pixels high.
DialogBaseUnits BaseUnitsOfFont(int alphabet_width, int char_height);

// Dialog units to pixels, rounded to the nearest pixel (halves away from zero).
int DialogUnitsToPixelsX(int du, DialogBaseUnits base);
int DialogUnitsToPixelsY(int du, DialogBaseUnits base);

struct PixelRect {
  int x, y, width, height;
  bool operator==(const PixelRect&) const = default;
};

// The control's rectangle in pixels; each of position and size is converted on its own.
PixelRect ControlRect(const ControlTemplate& control, DialogBaseUnits base);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_DIALOG_TEMPLATE_H_
