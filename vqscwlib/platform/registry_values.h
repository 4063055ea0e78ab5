// Reading the registry's values as the forms they hold: text, a REG_DWORD number, and an IPv4
// interface address stored either way. Shared by the settings stores above the registry.
//
// Interface addresses are IPv4 addresses in network byte order as held in memory (the first octet
// in the lowest-addressed byte).
#ifndef VQSCWLIB_PLATFORM_REGISTRY_VALUES_H_
#define VQSCWLIB_PLATFORM_REGISTRY_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "vqscwlib/platform/registry.h"

namespace vqscw {

inline constexpr size_t kDwordBytes = 4;

// The text a stored text value holds: its bytes up to the first zero byte, if any.
std::string_view TextOf(std::string_view bytes);

// Reads one value of an existing key: nullopt when the key or the value is missing, or when the
// value is longer than `max_bytes`.
std::optional<RegValue> ReadValue(std::string_view key_path, std::string_view name,
                                  size_t max_bytes);

// A REG_DWORD of exactly 4 bytes, least significant first; nullopt for anything else.
std::optional<uint32_t> DwordOf(const RegValue& value);

// An interface address stored either as a REG_DWORD of its 4 bytes in memory order, or as text
// parsed by the system's parser (bad text gives INADDR_NONE, all ones). A REG_DWORD of another
// length than 4 bytes cannot be read.
std::optional<uint32_t> AddressOf(const RegValue& value);

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_REGISTRY_VALUES_H_
