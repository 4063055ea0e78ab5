// The environment every test binary runs in, also when started by hand rather than through
// CTest: a registry file of its own (unless the environment already names one), the off-screen
// Qt platform and a silent audio sink, so no test touches the user's settings, screen or speakers.
#ifndef TESTS_SUPPORT_TEST_ENVIRONMENT_H_
#define TESTS_SUPPORT_TEST_ENVIRONMENT_H_

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vqscw {

inline void PrepareTestEnvironment() {
  if (std::getenv("VQSCW_REGISTRY") == nullptr) {
    std::string dir = (std::filesystem::temp_directory_path() / "vqscw-test-XXXXXX").string();
    if (mkdtemp(dir.data()) != nullptr) {
      setenv("VQSCW_REGISTRY", (dir + "/registry.db").c_str(), 1);
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("VQSCW_AUDIO_SINK", "fakesink", 0);
}

}  // namespace vqscw

#endif  // TESTS_SUPPORT_TEST_ENVIRONMENT_H_
