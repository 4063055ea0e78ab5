// What a channel dragged onto a preset button carries: a 30-byte block under the format name
// "PelmarSelectorPreset", holding the zero-terminated text "ChannelNumber=%ld\n". Any program
// that offers or accepts that format name exchanges channels with the selector, also a selector
// in another process.
#ifndef VQSCWLIB_SELECTOR_PRESET_TRANSFER_H_
#define VQSCWLIB_SELECTOR_PRESET_TRANSFER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vqscw {

constexpr char kPresetFormat[] = "PelmarSelectorPreset";
constexpr size_t kPresetBlockBytes = 30;
constexpr std::string_view kChannelNumberPrefix = "ChannelNumber=";

using PresetBlock = std::array<char, kPresetBlockBytes>;

// The block for `channel`: "ChannelNumber=", the number in decimal, a line feed and zero bytes
// to the end (for channel 42: "ChannelNumber=42\n" and 13 zeros).
PresetBlock EncodePresetBlock(int32_t channel);

// The channel a received block names. Its text ends at the first zero byte or at the end of
// `bytes`, whichever comes first; nothing beyond `bytes` is read. A text that does not begin
// with "ChannelNumber=" (case counts) names nothing. The number is read as the C library's
// string-to-long conversion does (leading blanks, an optional sign, digits up to the first other
// character; 0 when there are none), saturating at the 32-bit limits.
std::optional<int32_t> DecodePresetBlock(std::string_view bytes);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_PRESET_TRANSFER_H_
