// What one call of vqscwSelectorOpen2 keeps while its dialog runs. Owned by the call; the dialog
// and its parts use it on the dialog's thread only.
#ifndef VQSCWLIB_SELECTOR_SELECTOR_STATE_H_
#define VQSCWLIB_SELECTOR_SELECTOR_STATE_H_

#include <cstdint>
#include <string>

#include "vqscwlib/selector/channel_rules.h"
#include "vqscwlib/selector/selector.h"
#include "vqscwlib/selector/selector_options.h"

namespace vqscw {

// Presets before the settings store is read: preset n holds channel n.
constexpr Presets kDefaultPresets = {1, 2, 3, 4, 5, 6, 7, 8};

struct SelectorState {
  SelectorSelection* selection = nullptr;  // the host's record; null in standalone mode

  int sort_column = kColumnChannel;
  int edit_row = -1;  // row of the open in-place edit, -1 when none
  int edit_column = kColumnCategory;
  std::string filter = kFilterAll;  // the category filter in force

  SourceSpy* spy = nullptr;  // the spy that feeds the list; null when none is open
  bool spy_lent = false;     // `spy` is the host's: the dialog never closes it

  Presets presets = kDefaultPresets;
  int32_t previewing = 0;  // channel being previewed, 0 when none

  SelectorOptions options;  // caption, access list, icon and frame flags

  uint32_t local_address = 0;  // network byte order; 0 = no card chosen
  std::string card_name;       // adapter name of the chosen card
  int32_t preview_volume = 0;  // hundredths of a decibel, 0 (full) down to -10000
  uint32_t last_packet_count = 0;

  bool standalone() const { return selection == nullptr; }
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SELECTOR_STATE_H_
