// The selector's settings store: what the selector remembers between runs, kept machine-wide in
// the registry (vqscwlib/platform/registry.h).
//
// Every operation opens its key, does its one read or write and closes the key; nothing is
// cached, so a value changed by another process shows at the next read. All failures are silent:
// a read that cannot be done (missing key or value, a value too long or of the wrong form, a
// damaged registry file) gives the default; a write that cannot be done does nothing. Each write
// is one value written in one transaction: with several selectors running, the last writer of a
// value wins.
//
// Any thread may call these; the selector calls them from its dialog's thread. A call takes some
// microseconds; only while another process writes does it wait, at most the registry's busy
// time-out for each value.
//
// Interface addresses here are IPv4 addresses in network byte order as held in memory (the first
// octet in the lowest-addressed byte), 0 for none.
#ifndef VQSCWLIB_SELECTOR_SETTINGS_H_
#define VQSCWLIB_SELECTOR_SETTINGS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vqscwlib/platform/sound_driver.h"

namespace vqscw {

inline constexpr char kSettingsKey[] = "Software\\Orvane Systems\\Corrivo Selector\\Settings";
inline constexpr char kChannelsKey[] = "Software\\Orvane Systems\\Corrivo Selector\\Channels";
inline constexpr char kPresetsKey[] = "Software\\Orvane Systems\\Corrivo Selector\\Presets";

inline constexpr char kLocalIpValue[] = "LocalIP";
inline constexpr char kLocalNicValue[] = "LocalNIC";
inline constexpr char kPreviewVolumeValue[] = "Preview Volume";

// Longest card name read ("LocalNIC"); the longest address text read ("LocalIP") is
// kAddressTextMaxBytes.
inline constexpr size_t kCardNameMaxBytes = 128;
// Longest category, in bytes; a longer stored value reads as no category.
inline constexpr size_t kCategoryMaxBytes = 63;
// Longest value name the category walk takes (a 31-character buffer with its terminating zero).
inline constexpr size_t kCategoryWalkNameMaxChars = 30;

inline constexpr int kPresetCount = 8;

// Preview loudness in hundredths of a decibel.
inline constexpr int32_t kVolumeFull = 0;
inline constexpr int32_t kVolumeSilent = -10000;

// The "Settings" key's values.
struct SelectorSettings {
  // The chosen card's address; 0 = no card chosen. A stored text that is not an address reads as
  // 0xFFFFFFFF, as the system's address parser gives for bad text.
  uint32_t local_address = 0;
  // The chosen card's adapter name (an interface name such as "eth0"); empty = none.
  std::string card_name;
  // kVolumeSilent to kVolumeFull; a stored volume outside that range is brought into it.
  int32_t preview_volume = kVolumeFull;
};

// Reads "LocalIP" (a REG_DWORD of the address's 4 bytes as stored, or text of at most
// kAddressTextMaxBytes holding a dotted address), "LocalNIC" (at most kCardNameMaxBytes) and
// "Preview Volume" (REG_DWORD). Each missing or unreadable value keeps its default above.
SelectorSettings ReadSettings();

// Writes "LocalIP" as the dotted text of `address` (first octet first) and "LocalNIC" as
// `adapter_name`: the name of the adapter that has the address, or empty when none has it (the
// caller looks it up).
void StoreCard(uint32_t address, std::string_view adapter_name);

// Writes "Preview Volume".
void StoreVolume(int32_t volume);

// Reads the category of `channel` (value "%ld" of "Channels") into *category. Returns false, with
// *category cleared, when the channel has none: no value, an empty text, or a value longer than
// kCategoryMaxBytes. Stored text ends at its first zero byte, if any.
bool ReadCategory(int32_t channel, std::string* category);

// Writes `text` as the category of `channel`; an empty text deletes the channel's value instead.
// A text longer than kCategoryMaxBytes is cut to at most that many bytes, at a character boundary
// of its UTF-8, so that what is stored can be read back.
void StoreCategory(int32_t channel, std::string_view text);

// The texts of "Channels" values in the order the values were created, for the category filter.
// The walk stops at the first value whose name is longer than kCategoryWalkNameMaxChars or whose
// text is longer than kCategoryMaxBytes, and at the end of the key. Empty when the key is missing.
std::vector<std::string> EnumerateCategories();

// For preset n = 1 to 8, sets presets[n - 1] to the channel of "Presets" value "n" (a REG_DWORD)
// when there is one; other entries are left as they are. The caller fills in the defaults
// (preset n holds channel n) before.
void ReadPresets(std::span<int32_t, kPresetCount> presets);

// Writes `channel` as preset `index` + 1 (REG_DWORD); channel 0 deletes the preset's value, so it
// holds its default again. An index outside 0 to 7 does nothing.
void StorePreset(int index, int32_t channel);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SETTINGS_H_
