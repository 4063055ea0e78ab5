// The administrator tool's data texts: parsing never overruns, and what the tool prints for a
// value it parsed reads back as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/vqscw-reg/reg_tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr uint32_t kTypes[] = {REG_SZ, REG_BINARY, REG_DWORD, 7};
  const uint32_t type = kTypes[data[0] % 4];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string normalised;
  vqscw::NormaliseKeyPath(vqscw::KeyPathFromCommandLine(text), &normalised);
  vqscw::FormatRegData(type, text);

  std::string bytes, error;
  if (!vqscw::ParseRegData(type, text, &bytes, &error)) return 0;
  if (type == REG_DWORD && bytes.size() != 4) std::abort();
  if (type == REG_SZ && bytes != text) std::abort();
  std::string shown = vqscw::FormatRegData(type, bytes);
  if (type == REG_DWORD) shown.resize(shown.find(' '));  // "0x0302010a (50462986)"
  if (type != REG_SZ) {
    std::string again;
    if (!vqscw::ParseRegData(type, shown, &again, &error) || again != bytes) std::abort();
  }
  return 0;
}
