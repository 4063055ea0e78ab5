// The channel list's rules, kept apart from the widgets: cell texts, the category filter, which
// texts a combo box takes, the sort order of rows and the reading of a typed preset number.
#ifndef VQSCWLIB_SELECTOR_CHANNEL_RULES_H_
#define VQSCWLIB_SELECTOR_CHANNEL_RULES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "vqscwlib/selector/settings.h"

namespace vqscw {

using Presets = std::array<int32_t, kPresetCount>;  // channel of each preset 1 to 8

// The filter entries that are not categories. The second is spelled as the dialog always has.
constexpr char kFilterAll[] = "(All)";
constexpr char kFilterUnassigned[] = "(Unasigned)";

constexpr size_t kCellTextLimit = 63;    // bytes of a cell, a category or the filter
constexpr size_t kEditedTextLimit = 62;  // bytes taken from the editor's edit field
constexpr size_t kPresetCaptionLimit = 15;

// Columns of the list.
enum ListColumn : int { kColumnChannel = 0, kColumnName, kColumnCategory, kColumnPreset };
constexpr int kColumnCount = 4;

// Column 0's text: the channel number right-aligned in five characters ("%5d").
std::string ChannelText(int32_t channel);

// Column 3's text: the digit and a space of every preset (1 to 8, in order) holding `channel`.
std::string PresetText(const Presets& presets, int32_t channel);

// Whether a channel with `category` (empty: none) is listed under `filter`. Case does not count.
bool PassesFilter(std::string_view category, std::string_view filter);

// Whether a combo box holding `entries` takes `text` as a new entry: never an empty text, and
// only when no entry begins with it (case does not count).
bool ComboTakes(std::span<const std::string> entries, std::string_view text);

// Where a sorted combo box inserts `text` among its sorted `entries`: after every entry that
// orders before or equal to it, without regard to case first and then by bytes.
size_t SortedComboIndex(std::span<const std::string> entries, std::string_view text);

// Row order for `column`: negative, zero or positive. Column 0 compares the channel numbers as
// signed numbers, the other columns the first 63 bytes of their texts as unsigned bytes.
int CompareChannels(int32_t a, int32_t b);
int CompareCells(std::string_view a, std::string_view b);

// The leading decimal number of `text`: blanks skipped, an optional sign, digits up to the first
// other character; 0 when there are none. Saturates at the 32-bit limits.
int32_t LeadingNumber(std::string_view text);

// The preset (1 to 8) an edited Preset cell assigns, or 0 when the text names none.
int PresetOfEditedText(std::string_view text);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_CHANNEL_RULES_H_
