// The launcher: the order in which it tries the library, its failure boxes, the lines it prints
// and the option list it passes; then the real program with a stand-in library, and the real
// library's selector opened by the launcher.
#include "tunely/launcher.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vqscwlib/platform/registry.h"
#include "vqscwlib/selector/message_box.h"

namespace tunely {
namespace {

namespace fs = std::filesystem;

// What the fake vqscwSelectorOpen2 below was called with.
struct SeenCall {
  int calls = 0;
  QWidget* parent = nullptr;
  SelectorSelection* selection = nullptr;
  std::vector<uint32_t> tags;
  std::string title, version, access_list;
  uintptr_t frame = 0, icon = 0;
};
SeenCall g_seen;

int FakeOpen(QWidget* parent, SelectorSelection* selection, const SelectorOption* options) {
  ++g_seen.calls;
  g_seen.parent = parent;
  g_seen.selection = selection;
  for (const SelectorOption* option = options; option->tag != 0; ++option) {
    g_seen.tags.push_back(option->tag);
    const char* text = reinterpret_cast<const char*>(option->value);
    switch (option->tag) {
      case SELECTOR_OPT_TITLE:
        g_seen.title = text;
        break;
      case SELECTOR_OPT_VERSION:
        g_seen.version = text;
        break;
      case SELECTOR_OPT_ACCESS_LIST:
        g_seen.access_list = text;
        break;
      case SELECTOR_OPT_FRAME:
        g_seen.frame = option->value;
        break;
      case SELECTOR_OPT_ICON:
        g_seen.icon = option->value;
        break;
    }
  }
  return 0;
}

class FakePlatform : public LauncherPlatform {
 public:
  std::vector<std::string> loadable;  // files that load
  bool has_export = true;
  std::vector<std::string> tried;
  std::vector<std::string> boxes;

  void* LoadLibrary(const char* file) override {
    tried.push_back(file);
    for (const std::string& name : loadable) {
      if (name == file) return this;
    }
    return nullptr;
  }
  void* FindExport(void*, const char* name) override {
    return has_export && std::string(name) == "vqscwSelectorOpen2"
               ? reinterpret_cast<void*>(&FakeOpen)
               : nullptr;
  }
  void ShowMessage(const std::string& text) override { boxes.push_back(text); }
};

void StoreLauncherValue(const char* name, const std::string& text) {
  vqscw::RegistryKey key;
  ASSERT_EQ(vqscw::Registry().CreateKey(kLauncherKey, &key), vqscw::RegStatus::kOk);
  ASSERT_EQ(key.SetText(name, text), vqscw::RegStatus::kOk);
}

// Runs the launcher with `platform`, giving what it printed.
std::string Launch(LauncherPlatform& platform) {
  g_seen = SeenCall{};
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  RunLauncher(platform, out);
  std::fclose(out);
  std::string printed(text, size);
  std::free(text);
  return printed;
}

class LauncherTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("tunely-test-" + std::to_string(getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    setenv("VQSCW_REGISTRY", (dir_ / "registry.db").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(LauncherTest, TriesTheRelativeLibraryFirstThenTheSearchPath) {
  FakePlatform platform;
  platform.loadable = {"libvqscwlib.so"};
  Launch(platform);
  EXPECT_EQ(platform.tried,
            (std::vector<std::string>{"../../vqscwlib/release/libvqscwlib.so", "libvqscwlib.so"}));
  EXPECT_EQ(g_seen.calls, 1);

  FakePlatform both;
  both.loadable = {"../../vqscwlib/release/libvqscwlib.so", "libvqscwlib.so"};
  Launch(both);
  EXPECT_EQ(both.tried, std::vector<std::string>{"../../vqscwlib/release/libvqscwlib.so"});
}

TEST_F(LauncherTest, MissingLibraryOrExportShowsItsBoxAndStops) {
  FakePlatform missing;
  EXPECT_EQ(Launch(missing), "");
  EXPECT_EQ(missing.boxes, std::vector<std::string>{"Library not found:\n\tlibvqscwlib.so"});
  EXPECT_EQ(g_seen.calls, 0);

  FakePlatform corrupted;
  corrupted.loadable = {"libvqscwlib.so"};
  corrupted.has_export = false;
  StoreLauncherValue("Version", "3.0");
  EXPECT_EQ(Launch(corrupted), "");
  EXPECT_EQ(corrupted.boxes, std::vector<std::string>{"Corrupted library:\n\tlibvqscwlib.so"});
  EXPECT_EQ(g_seen.calls, 0);
}

TEST_F(LauncherTest, PrintsItsLinesAndPassesTheOptionList) {
  StoreLauncherValue("Version", "3.0");
  StoreLauncherValue("ACL", "file:///etc/corrivo/acl.txt");
  FakePlatform platform;
  platform.loadable = {"libvqscwlib.so"};
  EXPECT_EQ(Launch(platform), "Pelmar Tunely 3.0 started.\nACL file file:///etc/corrivo/acl.txt\n");
  EXPECT_EQ(g_seen.parent, nullptr);
  EXPECT_EQ(g_seen.selection, nullptr);
  EXPECT_EQ(g_seen.tags, (std::vector<uint32_t>{1, 5, 4, 6, 7}));
  EXPECT_EQ(g_seen.title, "PELMAR Tunely");
  EXPECT_EQ(g_seen.frame, 1u);
  EXPECT_EQ(g_seen.icon, SELECTOR_ICON_OWN);
  EXPECT_EQ(g_seen.version, "3.0");
  EXPECT_EQ(g_seen.access_list, "file:///etc/corrivo/acl.txt");
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(LauncherTest, WithoutItsKeyPrintsNothingAndPassesEmptyTexts) {
  FakePlatform platform;
  platform.loadable = {"libvqscwlib.so"};
  EXPECT_EQ(Launch(platform), "");
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.version, "");
  EXPECT_EQ(g_seen.access_list, "");
}

TEST_F(LauncherTest, AnEmptyAclIsStillPrinted) {
  StoreLauncherValue("ACL", "");
  FakePlatform platform;
  platform.loadable = {"libvqscwlib.so"};
  EXPECT_EQ(Launch(platform), "Pelmar Tunely  started.\nACL file \n");
  EXPECT_EQ(g_seen.access_list, "");
}

TEST_F(LauncherTest, TextsLongerThanTheirRoomReadAsMissing) {
  StoreLauncherValue("Version", std::string(33, '9'));
  StoreLauncherValue("ACL", std::string(261, 'a'));
  FakePlatform platform;
  platform.loadable = {"libvqscwlib.so"};
  EXPECT_EQ(Launch(platform), "Pelmar Tunely  started.\n");
  EXPECT_EQ(g_seen.version, "");
  EXPECT_EQ(g_seen.access_list, "");

  StoreLauncherValue("Version", std::string(32, '9'));
  StoreLauncherValue("ACL", std::string(260, 'a'));
  Launch(platform);
  EXPECT_EQ(g_seen.version, std::string(32, '9'));
  EXPECT_EQ(g_seen.access_list, std::string(260, 'a'));
}

// The program's own platform shows its boxes through the library's message box, captioned as the
// window system captions a box given none. Run from a folder without the library, with none on
// the search path, it reports the library missing.
TEST_F(LauncherTest, ProgramPlatformBoxesGoThroughTheMessageBoxLayer) {
  std::vector<std::pair<std::string, std::string>> boxes;
  vqscw::ScopedMessageBoxRedirect redirect(
      [&](const std::string& caption, const std::string& text) {
        boxes.emplace_back(caption, text);
      });
  SystemLauncherPlatform().ShowMessage("text");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "Error");
  EXPECT_EQ(boxes[0].second, "text");

  if (void* installed = dlopen("libvqscwlib.so", RTLD_NOW | RTLD_LOCAL)) {
    dlclose(installed);
    GTEST_SKIP() << "a libvqscwlib.so is on the library search path";
  }
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  Launch(SystemLauncherPlatform());
  fs::current_path(before);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].second, "Library not found:\n\tlibvqscwlib.so");
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The program itself, run from a folder two levels below a library at vqscwlib/release: it loads
// that library rather than the one its run path would find.
TEST_F(LauncherTest, ProgramPrefersTheLibraryRelativeToTheCurrentFolder) {
  fs::create_directories(dir_ / "vqscwlib/release");
  fs::create_directories(dir_ / "a/b");
  fs::copy_file(TUNELY_FAKE_LIBRARY, dir_ / "vqscwlib/release/libvqscwlib.so");
  StoreLauncherValue("Version", "3.0");
  StoreLauncherValue("ACL", "7-9");

  const fs::path log = dir_ / "selector.log";
  const std::string command = "cd '" + (dir_ / "a/b").string() + "' && TUNELY_FAKE_SELECTOR_LOG='" +
                              log.string() + "' '" + TUNELY_PROGRAM + "'";
  FILE* program = popen(command.c_str(), "r");
  ASSERT_NE(program, nullptr);
  std::string printed;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, program) != nullptr) printed += buffer;
  const int status = pclose(program);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(printed, "Pelmar Tunely 3.0 started.\nACL file 7-9\n");
  EXPECT_EQ(ReadFile(log),
            "parent null selection null\n1 'PELMAR Tunely'\n5 0x1\n4 0xf0000001\n6 '3.0'\n"
            "7 '7-9'\n");
}

// The real library, loaded by the launcher into a process without a QApplication: the selector
// makes one for itself, shows the launcher's caption and icon, and leaves none behind.
class RealLibraryPlatform : public LauncherPlatform {
 public:
  std::vector<std::string> boxes;
  void* LoadLibrary(const char* file) override {
    return std::string(file) == "libvqscwlib.so" ? dlopen(VQSCW_LIBRARY, RTLD_NOW | RTLD_LOCAL)
                                                 : nullptr;
  }
  void* FindExport(void* library, const char* name) override { return dlsym(library, name); }
  void ShowMessage(const std::string& text) override { boxes.push_back(text); }
};

QString g_caption;
bool g_has_own_icon = false;

void CloseTheSelectorWhenShown() {
  QWidget* dialog = QApplication::activeModalWidget();
  if (dialog == nullptr) {
    QTimer::singleShot(20, &CloseTheSelectorWhenShown);
    return;
  }
  g_caption = dialog->windowTitle();
  g_has_own_icon = dialog->windowIcon().availableSizes().contains(QSize(32, 32));
  QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
}

void ArmInspection() { QTimer::singleShot(0, &CloseTheSelectorWhenShown); }

TEST_F(LauncherTest, RealSelectorShowsTheLaunchersCaption) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  StoreLauncherValue("Version", "3.0");
  qAddPreRoutine(&ArmInspection);
  RealLibraryPlatform platform;
  EXPECT_EQ(Launch(platform), "Pelmar Tunely 3.0 started.\n");
  EXPECT_TRUE(platform.boxes.empty());
  EXPECT_EQ(g_caption, QString("PELMAR Tunely - Version 3.0"));
  EXPECT_TRUE(g_has_own_icon);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// A host without a QApplication on a machine without a window system: the selector reports a
// failure instead of ending the host's process.
TEST_F(LauncherTest, RealSelectorWithoutWindowSystemFailsInsteadOfEndingTheHost) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  const std::vector<std::string> names = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const std::string& name : names) {
    if (const char* value = std::getenv(name.c_str())) saved.emplace_back(name, value);
    unsetenv(name.c_str());
  }
  void* library = dlopen(VQSCW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr);
  auto open = reinterpret_cast<SelectorOpen2>(dlsym(library, "vqscwSelectorOpen2"));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open(nullptr, nullptr, nullptr), SELECTOR_FAILED);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace
}  // namespace tunely
