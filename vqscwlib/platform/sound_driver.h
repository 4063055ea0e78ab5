// The sound driver's settings, read only: the interface address it streams on, which the preview
// uses when no card is chosen and the selector shows beside its own choice.
#ifndef VQSCWLIB_PLATFORM_SOUND_DRIVER_H_
#define VQSCWLIB_PLATFORM_SOUND_DRIVER_H_

#include <cstddef>
#include <cstdint>

namespace vqscw {

inline constexpr char kDriverParametersKey[] =
    "System\\CurrentControlSet\\Services\\sndport\\Parameters";
inline constexpr char kDriverAddressValue[] = "INIP";

// Longest stored address text read (the driver's "INIP", the selector's "LocalIP").
inline constexpr size_t kAddressTextMaxBytes = 128;

}  // namespace vqscw

// The sound driver's interface address: value "INIP" of the driver's parameters key. A REG_DWORD
// is taken as the address's 4 bytes as stored (network order as held in memory); any other value
// is read as text of at most kAddressTextMaxBytes and parsed as a dotted address (bad text gives
// 0xFFFFFFFF). When the key or the value is missing or cannot be read: 127.0.0.1.
uint32_t GetDriverInterfaceAddress();

#endif  // VQSCWLIB_PLATFORM_SOUND_DRIVER_H_
