#include "vqscwlib/selector/preset_transfer.h"

#include <cstdio>

#include "vqscwlib/selector/channel_rules.h"

namespace vqscw {

PresetBlock EncodePresetBlock(int32_t channel) {
  PresetBlock block{};
  // The longest text, for -2147483648, takes 27 of the 30 bytes with its zero.
  std::snprintf(block.data(), block.size(), "ChannelNumber=%ld\n", static_cast<long>(channel));
  return block;
}

std::optional<int32_t> DecodePresetBlock(std::string_view bytes) {
  const size_t end = bytes.find('\0');
  const std::string_view text = bytes.substr(0, end);
  if (!text.starts_with(kChannelNumberPrefix)) return std::nullopt;
  return LeadingNumber(text.substr(kChannelNumberPrefix.size()));
}

}  // namespace vqscw
