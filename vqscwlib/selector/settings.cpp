#include "vqscwlib/selector/settings.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "vqscwlib/platform/registry.h"
#include "vqscwlib/platform/registry_values.h"

namespace vqscw {

namespace {

std::string ValueName(int32_t number) { return std::to_string(number); }

// Opens `key_path` for writing and writes one value; failures are silent.
void WriteValue(std::string_view key_path, std::string_view name, uint32_t type,
                std::string_view data) {
  RegistryKey key;
  if (Registry().CreateKey(key_path, &key) == RegStatus::kOk) key.Set(name, type, data);
}

// Opens `key_path` for writing and deletes one value; failures are silent.
void DeleteValue(std::string_view key_path, std::string_view name) {
  RegistryKey key;
  if (Registry().CreateKey(key_path, &key) == RegStatus::kOk) key.Delete(name);
}

// The longest prefix of `text` of at most `max_bytes` bytes that does not end inside a UTF-8
// sequence.
std::string_view CutAtCharacter(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t end = max_bytes;
  // Step back over the continuation bytes (10xxxxxx, at most 3 in a character) to the start of
  // the character that the limit would split.
  for (int i = 0; i < 3 && end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80; ++i) {
    --end;
  }
  return text.substr(0, end);
}

}  // namespace

SelectorSettings ReadSettings() {
  SelectorSettings settings;
  RegistryKey key;
  if (Registry().OpenKey(kSettingsKey, &key) != RegStatus::kOk) return settings;
  RegValue value;
  if (key.Query(kLocalIpValue, kAddressTextMaxBytes, &value) == RegStatus::kOk) {
    settings.local_address = AddressOf(value).value_or(settings.local_address);
  }
  if (key.Query(kLocalNicValue, kCardNameMaxBytes, &value) == RegStatus::kOk) {
    settings.card_name = TextOf(value.data);
  }
  if (key.Query(kPreviewVolumeValue, kDwordBytes, &value) == RegStatus::kOk) {
    if (std::optional<uint32_t> volume = DwordOf(value)) {
      settings.preview_volume =
          std::clamp(static_cast<int32_t>(*volume), kVolumeSilent, kVolumeFull);
    }
  }
  return settings;
}

void StoreCard(uint32_t address, std::string_view adapter_name) {
  RegistryKey key;
  if (Registry().CreateKey(kSettingsKey, &key) != RegStatus::kOk) return;
  const auto* octet = reinterpret_cast<const uint8_t*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", octet[0], octet[1], octet[2], octet[3]);
  key.SetText(kLocalIpValue, text);
  key.SetText(kLocalNicValue, adapter_name);
}

void StoreVolume(int32_t volume) {
  WriteValue(kSettingsKey, kPreviewVolumeValue, REG_DWORD,
             DwordBytes(static_cast<uint32_t>(volume)));
}

bool ReadCategory(int32_t channel, std::string* category) {
  category->clear();
  std::optional<RegValue> value = ReadValue(kChannelsKey, ValueName(channel), kCategoryMaxBytes);
  if (!value) return false;
  category->assign(TextOf(value->data));
  return !category->empty();
}

void StoreCategory(int32_t channel, std::string_view text) {
  text = TextOf(text);
  if (text.empty()) {
    DeleteValue(kChannelsKey, ValueName(channel));
    return;
  }
  WriteValue(kChannelsKey, ValueName(channel), REG_SZ, CutAtCharacter(text, kCategoryMaxBytes));
}

std::vector<std::string> EnumerateCategories() {
  std::vector<std::string> categories;
  RegistryKey key;
  if (Registry().OpenKey(kChannelsKey, &key) != RegStatus::kOk) return categories;
  RegValue value;
  for (size_t index = 0;
       key.Enum(index, kCategoryWalkNameMaxChars, kCategoryMaxBytes, &value) == RegStatus::kOk;
       ++index) {
    categories.emplace_back(TextOf(value.data));
  }
  return categories;
}

void ReadPresets(std::span<int32_t, kPresetCount> presets) {
  RegistryKey key;
  if (Registry().OpenKey(kPresetsKey, &key) != RegStatus::kOk) return;
  RegValue value;
  for (int n = 1; n <= kPresetCount; ++n) {
    if (key.Query(ValueName(n), kDwordBytes, &value) != RegStatus::kOk) continue;
    if (std::optional<uint32_t> channel = DwordOf(value)) {
      presets[n - 1] = static_cast<int32_t>(*channel);
    }
  }
}

void StorePreset(int index, int32_t channel) {
  if (index < 0 || index >= kPresetCount) return;
  if (channel == 0) {
    DeleteValue(kPresetsKey, ValueName(index + 1));
    return;
  }
  WriteValue(kPresetsKey, ValueName(index + 1), REG_DWORD,
             DwordBytes(static_cast<uint32_t>(channel)));
}

}  // namespace vqscw
