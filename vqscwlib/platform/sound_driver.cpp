#include "vqscwlib/platform/sound_driver.h"

#include <arpa/inet.h>

#include <optional>

#include "vqscwlib/platform/registry_values.h"

uint32_t GetDriverInterfaceAddress() {
  using namespace vqscw;
  std::optional<RegValue> value =
      ReadValue(kDriverParametersKey, kDriverAddressValue, kAddressTextMaxBytes);
  std::optional<uint32_t> address;
  if (value) address = AddressOf(*value);
  return address.value_or(inet_addr("127.0.0.1"));
}
