#include "vqscwlib/selector/control_help.h"

#include "vqscwlib/selector/dialog_template.h"
#include "vqscwlib/selector/preview_rules.h"

namespace vqscw {
namespace {

constexpr ControlHelp kHelp[] = {
    {kIdFilter, "Category filter", "Show only the channels of one category", nullptr},
    {kIdFilterLabel, "Filter by category", "Show only the channels of one category", nullptr},
    {kIdEditor, "Cell editor",
     "Type or choose the new value; Enter keeps it, Escape leaves the cell as it was", nullptr},
    {kIdCardTitle, "Network card", "The network card on which the selector hears channels",
     nullptr},
    {kIdCardLabel, "Network card address",
     "The address of the network card the selector listens on. Click it, or press Space, to "
     "choose another card",
     nullptr},
    {kIdRefresh, "Refresh", "List the channels heard on the network again", nullptr},
    {kIdList, "Channels",
     "The channels heard on the network. Type a channel number or the start of a name to jump "
     "to it; click a Category or Preset cell to change it",
     "One row for each channel heard on the network: its number, name, category and the presets "
     "that hold it. Type a channel number or the start of a name to jump to it"},
    {kIdMeter, "Level meter", "Peak level of the channel being previewed, left and right",
     "Shows how loud the previewed channel is, its left side in the left column and its right "
     "side in the right column; empty while nothing plays"},
    {kIdPreview, "Preview", "Listen to the selected channel; press again to stop", nullptr},
    {kIdTake, "Take", "Hand the selected channel to the program and close the selector", nullptr},
    {kIdStatus, "Status", "What is playing, or how many channels are listed", nullptr},
    {kIdVolume, "Preview volume", "Loudness of the preview",
     "Sets how loud the preview plays, from silent at the left end to full at the right end"},
};

}  // namespace

const ControlHelp* HelpOf(int id) {
  for (const ControlHelp& help : kHelp) {
    if (help.id == id) return &help;
  }
  return nullptr;
}

std::string PresetName(int preset, const std::string& caption) {
  const std::string name = "Preset " + std::to_string(preset);
  if (caption.empty() || caption == std::to_string(preset)) return name;
  return name + ", " + caption;
}

std::string PresetTooltip(int preset) {
  return "Play the channel of preset " + std::to_string(preset) +
         ". Drag a channel from the list here to keep it in this preset";
}

const char* PreviewButtonName(int step) {
  switch (step) {
    case 0:
      return "Preview";
    case 1:
    case 2:
    case 3:
    case kStepRendered:
    case 5:
      // From the first step on, pressing the button stops the preview, also one that failed.
      return "Stop preview";
    default:
      return nullptr;
  }
}

std::string MeterValueText(bool showing, int left, int right) {
  if (!showing) return "Nothing playing";
  return "Left " + std::to_string(left) + " of " + std::to_string(kMeterSegments) + ", right " +
         std::to_string(right) + " of " + std::to_string(kMeterSegments);
}

std::string CardMissingWarning(const std::string& dotted_address) {
  return "No network card of this machine has the address " + dotted_address +
         ", so no channels can be heard. Click here, or press Space, to choose another card";
}

std::string CardUnusableWarning(const std::string& dotted_address) {
  return "The selector could not listen on " + dotted_address +
         ", so no channels can be heard. Click here, or press Space, to choose another card";
}

}  // namespace vqscw
