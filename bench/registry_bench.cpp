// Cost of the settings store's operations, each of which opens its key, does one read or write and
// closes the key again. The channel list reads a category for every row it adds or updates, so
// ReadCategory is the one that runs often.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "vqscwlib/platform/registry.h"
#include "vqscwlib/selector/settings.h"

namespace {

void BM_ReadCategory(benchmark::State& state) {
  vqscw::StoreCategory(12, "News");
  std::string category;
  for (auto _ : state) benchmark::DoNotOptimize(vqscw::ReadCategory(12, &category));
}
BENCHMARK(BM_ReadCategory);

// The same read when the process has no connection open yet (its first read, or the first after
// the file changed on disk).
void BM_ReadCategoryNewConnection(benchmark::State& state) {
  vqscw::StoreCategory(12, "News");
  std::string category;
  for (auto _ : state) {
    vqscw::ReleaseRegistryFile();
    benchmark::DoNotOptimize(vqscw::ReadCategory(12, &category));
  }
}
BENCHMARK(BM_ReadCategoryNewConnection);

void BM_ReadSettings(benchmark::State& state) {
  vqscw::StoreCard(0x0A02A8C0, "eth1");
  vqscw::StoreVolume(-2500);
  for (auto _ : state) benchmark::DoNotOptimize(vqscw::ReadSettings());
}
BENCHMARK(BM_ReadSettings);

void BM_EnumerateCategories(benchmark::State& state) {
  for (int channel = 1; channel <= state.range(0); ++channel) {
    vqscw::StoreCategory(channel, "Category " + std::to_string(channel % 10));
  }
  for (auto _ : state) benchmark::DoNotOptimize(vqscw::EnumerateCategories());
}
BENCHMARK(BM_EnumerateCategories)->Arg(10)->Arg(100);

void BM_GetDriverInterfaceAddress(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(GetDriverInterfaceAddress());
}
BENCHMARK(BM_GetDriverInterfaceAddress);

void BM_StorePreset(benchmark::State& state) {
  int32_t channel = 1;
  for (auto _ : state) {
    vqscw::StorePreset(channel % vqscw::kPresetCount, channel);
    ++channel;
  }
}
BENCHMARK(BM_StorePreset);

}  // namespace

int main(int argc, char** argv) {
  // A registry file of the benchmark's own, never the user's.
  std::string dir = (std::filesystem::temp_directory_path() / "vqscw-bench-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 1;
  setenv("VQSCW_REGISTRY", (dir + "/registry.db").c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
