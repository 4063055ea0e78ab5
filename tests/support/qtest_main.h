// main() of the Qt Test executables: VQSCW_QTEST_MAIN(TestClass) in the test's source. Like the
// GoogleTest main, a binary run by hand (not through CTest) gets a registry file of its own and the
// off-screen platform, so it never touches the user's settings or screen.
#ifndef TESTS_SUPPORT_QTEST_MAIN_H_
#define TESTS_SUPPORT_QTEST_MAIN_H_

#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vqscw {

inline void PrepareQtTestEnvironment() {
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

#define VQSCW_QTEST_MAIN(TestClass)         \
  int main(int argc, char** argv) {         \
    vqscw::PrepareQtTestEnvironment();      \
    QApplication application(argc, argv);   \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }

#endif  // TESTS_SUPPORT_QTEST_MAIN_H_
