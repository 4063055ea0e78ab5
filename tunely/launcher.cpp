#include "tunely/launcher.h"

#include <dlfcn.h>

#include <cstdint>

#include "vqscwlib/platform/registry.h"
#include "vqscwlib/selector/message_box.h"
#include "vqscwlib/selector/text_util.h"

namespace tunely {
namespace {

class SystemPlatform final : public LauncherPlatform {
 public:
  void* LoadLibrary(const char* file) override { return dlopen(file, RTLD_NOW | RTLD_LOCAL); }
  void* FindExport(void* library, const char* name) override { return dlsym(library, name); }
  void ShowMessage(const std::string& text) override {
    vqscw::ShowMessageBox(vqscw::kDefaultMessageBoxCaption, text);
  }
};

// Reads a text value of at most `limit` bytes; false when it is missing or longer.
bool ReadText(const vqscw::RegistryKey& key, const char* name, size_t limit, std::string* text) {
  vqscw::RegValue value;
  if (key.Query(name, limit, &value) != vqscw::RegStatus::kOk) return false;
  *text = std::string(vqscw::TextOfBuffer(value.data.data(), value.data.size()));
  return true;
}

}  // namespace

LauncherPlatform& SystemLauncherPlatform() {
  static SystemPlatform platform;
  return platform;
}

void RunLauncher(LauncherPlatform& platform, FILE* out) {
  void* library = nullptr;
  for (const char* file : kLibraryFiles) {
    library = platform.LoadLibrary(file);
    if (library != nullptr) break;
  }
  if (library == nullptr) {
    platform.ShowMessage(kLibraryNotFound);
    return;
  }
  auto open = reinterpret_cast<SelectorOpen2>(platform.FindExport(library, kSelectorExport));
  if (open == nullptr) {
    platform.ShowMessage(kCorruptedLibrary);
    return;
  }

  std::string version;
  std::string acl;
  vqscw::RegistryKey key;
  if (vqscw::Registry().OpenKey(kLauncherKey, &key) == vqscw::RegStatus::kOk) {
    ReadText(key, kVersionValue, kVersionLimit, &version);
    std::fprintf(out, "Pelmar Tunely %s started.\n", version.c_str());
    if (ReadText(key, kAclValue, kAclLimit, &acl)) std::fprintf(out, "ACL file %s\n", acl.c_str());
    key.Close();
  }

  const SelectorOption options[] = {
      {SELECTOR_OPT_TITLE, reinterpret_cast<uintptr_t>(kTitle)},
      {SELECTOR_OPT_FRAME, SELECTOR_FRAME_MINIMIZE},
      {SELECTOR_OPT_ICON, SELECTOR_ICON_OWN},
      {SELECTOR_OPT_VERSION, reinterpret_cast<uintptr_t>(version.c_str())},
      {SELECTOR_OPT_ACCESS_LIST, reinterpret_cast<uintptr_t>(acl.c_str())},
      {0, 0},
  };
  std::fflush(out);
  open(nullptr, nullptr, options);
}

}  // namespace tunely
