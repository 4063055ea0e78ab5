#include "vqscwlib/preview/debug_output.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace vqscw {

void DebugOutput(const char* text) {
  const char* enabled = std::getenv("VQSCW_DEBUG_OUTPUT");
  if (enabled == nullptr || enabled[0] == '\0' || std::strcmp(enabled, "0") == 0) return;
  std::string line(text);
  line += '\n';
  [[maybe_unused]] ssize_t written = write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace vqscw
