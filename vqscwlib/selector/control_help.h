// What the dialog tells a person about each of its controls beyond their texts: the name a screen
// reader announces, the tooltip, and a longer description where the tooltip does not say enough.
// Kept apart from the widgets so the words can be read and checked in one place.
#ifndef VQSCWLIB_SELECTOR_CONTROL_HELP_H_
#define VQSCWLIB_SELECTOR_CONTROL_HELP_H_

#include <string>

namespace vqscw {

struct ControlHelp {
  int id;                   // the control's id (see dialog_template.h)
  const char* name;         // its accessible name
  const char* tooltip;      // its tooltip
  const char* description;  // its accessible description; null: the tooltip serves
};

// The help of control `id`, or null. Preset buttons have theirs from PresetHelp().
const ControlHelp* HelpOf(int id);

// Preset button `preset` (1 to 8) showing `caption`: its accessible name says the preset and,
// once the caption is a channel's name rather than the preset's digit, the channel.
std::string PresetName(int preset, const std::string& caption);
std::string PresetTooltip(int preset);

// The Preview button's accessible name after progress step `step` (0 to 5): what pressing it
// does, rather than its short step texts. Null for any other step.
const char* PreviewButtonName(int step);

// The level meter's value as words: what its two columns show.
// `showing`: whether levels are shown (a preview plays); `left` and `right`: segments lit.
std::string MeterValueText(bool showing, int left, int right);

// The network card label's warnings, and what its tooltip says then.
// The address shown belongs to no card of this machine.
std::string CardMissingWarning(const std::string& dotted_address);
// The spy could not be opened on the address shown.
std::string CardUnusableWarning(const std::string& dotted_address);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_CONTROL_HELP_H_
