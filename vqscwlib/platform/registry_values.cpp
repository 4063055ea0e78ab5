#include "vqscwlib/platform/registry_values.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>

namespace vqscw {

std::string_view TextOf(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

std::optional<RegValue> ReadValue(std::string_view key_path, std::string_view name,
                                  size_t max_bytes) {
  RegistryKey key;
  RegValue value;
  if (Registry().OpenKey(key_path, &key) != RegStatus::kOk ||
      key.Query(name, max_bytes, &value) != RegStatus::kOk) {
    return std::nullopt;
  }
  return value;
}

std::optional<uint32_t> DwordOf(const RegValue& value) {
  if (value.type != REG_DWORD || value.data.size() != kDwordBytes) return std::nullopt;
  uint32_t number = 0;
  for (size_t i = 0; i < kDwordBytes; ++i) {
    number |= static_cast<uint32_t>(static_cast<uint8_t>(value.data[i])) << (8 * i);
  }
  return number;
}

std::optional<uint32_t> AddressOf(const RegValue& value) {
  if (value.type == REG_DWORD) {
    if (value.data.size() != kDwordBytes) return std::nullopt;
    uint32_t address;
    std::memcpy(&address, value.data.data(), kDwordBytes);
    return address;
  }
  return inet_addr(std::string(TextOf(value.data)).c_str());
}

}  // namespace vqscw
