// main() of the GoogleTest executables. A test binary run by hand (not through CTest) must still
// never touch the user's real settings, so the registry is pointed at a fresh temporary file
// unless the environment already names one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (std::getenv("VQSCW_REGISTRY") == nullptr) {
    std::string dir = (std::filesystem::temp_directory_path() / "vqscw-test-XXXXXX").string();
    if (mkdtemp(dir.data()) != nullptr) {
      setenv("VQSCW_REGISTRY", (dir + "/registry.db").c_str(), 1);
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("VQSCW_AUDIO_SINK", "fakesink", 0);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
