// The environment every test binary runs in, also when started by hand rather than through
// CTest: a registry file of its own (unless the environment already names one), the off-screen
// Qt platform and a silent audio sink, so no test touches the user's settings, screen or speakers.
#ifndef TESTS_SUPPORT_TEST_ENVIRONMENT_H_
#define TESTS_SUPPORT_TEST_ENVIRONMENT_H_

#include <cstdlib>
#include <filesystem>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define VQSCW_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VQSCW_TEST_LEAK_CHECK 1
#endif
#endif

#ifdef VQSCW_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace vqscw {

#ifdef VQSCW_TEST_LEAK_CHECK
// The leak check leaves out what the shared libraries allocate while they load, before main():
// some let such a block go on purpose later (GLib replaces its quark table when it grows past
// its first block and keeps no pointer to the old one, which happens once enough GStreamer
// plugins are installed), and that is no leak of this project's. Everything allocated from
// main() on is checked as before. The executable's pre-init step runs before any library's
// constructor; PrepareTestEnvironment() turns the check back on.
inline bool& LeakCheckHeldForLibraryStartup() {
  static bool held = false;
  return held;
}
inline void HoldLeakCheckForLibraryStartup() {
  if (LeakCheckHeldForLibraryStartup()) return;
  LeakCheckHeldForLibraryStartup() = true;
  __lsan_disable();
}
[[gnu::section(".preinit_array"),
  gnu::used]] static void (*const kHoldLeakCheckAtStartup)() = &HoldLeakCheckForLibraryStartup;
#endif

inline void PrepareTestEnvironment() {
#ifdef VQSCW_TEST_LEAK_CHECK
  if (LeakCheckHeldForLibraryStartup()) {
    LeakCheckHeldForLibraryStartup() = false;
    __lsan_enable();
  }
#endif
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
