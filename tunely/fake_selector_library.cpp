// A library that stands in for libvqscwlib.so in the launcher's tests: its vqscwSelectorOpen2
// writes the arguments it was called with to the file named by $TUNELY_FAKE_SELECTOR_LOG and
// returns at once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "vqscwlib/selector/selector.h"

extern "C" __attribute__((visibility("default"))) int vqscwSelectorOpen2(
    QWidget* parent, SelectorSelection* selection, const SelectorOption* options) {
  const char* path = std::getenv("TUNELY_FAKE_SELECTOR_LOG");
  FILE* log = path ? std::fopen(path, "w") : nullptr;
  if (log == nullptr) return SELECTOR_FAILED;
  std::fprintf(log, "parent %s selection %s\n", parent ? "set" : "null",
               selection ? "set" : "null");
  for (const SelectorOption* option = options; option && option->tag != 0; ++option) {
    const bool text = option->tag == SELECTOR_OPT_TITLE || option->tag == SELECTOR_OPT_VERSION ||
                      option->tag == SELECTOR_OPT_ACCESS_LIST;
    if (text) {
      std::fprintf(log, "%u '%s'\n", option->tag, reinterpret_cast<const char*>(option->value));
    } else {
      std::fprintf(log, "%u 0x%lx\n", option->tag, static_cast<unsigned long>(option->value));
    }
  }
  std::fclose(log);
  return 0;
}
