// Feeds arbitrary bytes to every reader of the registry as the content of its database file:
// whatever the file holds, reading gives a value or a default, and never crashes or hangs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vqscwlib/platform/registry.h"
#include "vqscwlib/selector/settings.h"

namespace {

std::string g_file;

void RemoveFiles() {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::remove((g_file + suffix).c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_file = std::string(dir) + "/vqscw-registry-fuzz-" + std::to_string(getpid()) + ".db";
  setenv("VQSCW_REGISTRY", g_file.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RemoveFiles();
  if (FILE* file = std::fopen(g_file.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }

  vqscw::ReadSettings();
  std::string category;
  for (int32_t channel : {1, 12, 25}) vqscw::ReadCategory(channel, &category);
  vqscw::EnumerateCategories();
  int32_t presets[vqscw::kPresetCount] = {1, 2, 3, 4, 5, 6, 7, 8};
  vqscw::ReadPresets(presets);
  GetDriverInterfaceAddress();

  vqscw::Registry registry;
  std::string problem;
  registry.Check(&problem);
  std::vector<std::string> paths;
  registry.ListKeys(&paths);
  for (const std::string& path : paths) {
    vqscw::RegistryKey key;
    if (registry.OpenKey(path, &key) != vqscw::RegStatus::kOk) continue;
    vqscw::RegValue value;
    for (size_t i = 0; i < 64 && key.Enum(i, 255, 4096, &value) == vqscw::RegStatus::kOk; ++i) {
    }
  }

  // Writing into whatever the file is must fail cleanly or leave a value that reads back.
  vqscw::StorePreset(0, 4242);
  presets[0] = 1;
  vqscw::ReadPresets(presets);
  vqscw::ReleaseRegistryFile();
  RemoveFiles();
  return 0;
}
