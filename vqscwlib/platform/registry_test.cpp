#include "vqscwlib/platform/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace vqscw {
namespace {

namespace fs = std::filesystem;

constexpr char kKey[] = "Software\\Orvane Systems\\Corrivo Selector\\Channels";

std::string ReadFileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "vqscw-registry-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    file_ = dir_ / "sub" / "registry.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  Registry registry() const { return Registry(file_.string()); }

  RegistryKey Create(std::string_view path = kKey) {
    RegistryKey key;
    EXPECT_EQ(registry().CreateKey(path, &key), RegStatus::kOk);
    return key;
  }

  // Names of the key's values in enumeration order.
  std::vector<std::string> Names(std::string_view path = kKey) {
    RegistryKey key;
    std::vector<std::string> names;
    if (registry().OpenKey(path, &key) != RegStatus::kOk) return names;
    RegValue value;
    for (size_t i = 0; key.Enum(i, 255, 255, &value) == RegStatus::kOk; ++i) {
      names.push_back(value.name);
    }
    return names;
  }

  fs::path dir_;
  fs::path file_;
};

// --- Keys and values ---

TEST_F(RegistryTest, KeyPathsAndValueNamesIgnoreCase) {
  RegistryKey writer;
  ASSERT_EQ(registry().CreateKey("SOFTWARE\\Orvane Systems\\Pelmar Tunely", &writer),
            RegStatus::kOk);
  ASSERT_EQ(writer.SetText("Version", "3.0"), RegStatus::kOk);

  RegistryKey reader;
  ASSERT_EQ(registry().OpenKey("\\software\\orvane systems\\PELMAR TUNELY\\", &reader),
            RegStatus::kOk);
  EXPECT_EQ(reader.path(), "SOFTWARE\\Orvane Systems\\Pelmar Tunely");
  RegValue value;
  ASSERT_EQ(reader.Query("VERSION", 64, &value), RegStatus::kOk);
  EXPECT_EQ(value.name, "Version");
  EXPECT_EQ(value.type, REG_SZ);
  EXPECT_EQ(value.data, "3.0");  // no terminating zero stored
}

TEST_F(RegistryTest, EmptyTextIsAValueNotAnAbsence) {
  RegistryKey key = Create();
  ASSERT_EQ(key.SetText("ACL", std::string_view()), RegStatus::kOk);  // a null data pointer
  ASSERT_EQ(key.Set("", REG_BINARY, std::string("\0\1", 2)), RegStatus::kOk);
  RegValue value;
  ASSERT_EQ(key.Query("ACL", 260, &value), RegStatus::kOk);
  EXPECT_EQ(value.type, REG_SZ);
  EXPECT_EQ(value.data, "");
  ASSERT_EQ(key.Query("", 260, &value), RegStatus::kOk);
  EXPECT_EQ(value.data, std::string("\0\1", 2));
}

// --- Enumeration order ---

TEST_F(RegistryTest, ValuesEnumerateInCreationOrder) {
  RegistryKey key = Create();
  for (const char* name : {"30", "4", "100", "7"}) key.SetText(name, name);
  key.SetText("4", "rewritten");  // keeps its place
  key.SetText("100x", "b");       // another value, after all others
  key.Delete("30");
  key.SetText("30", "again");  // a deleted value comes back last
  Create("Software\\Other").SetText("5", "elsewhere");
  EXPECT_EQ(Names(), std::vector<std::string>({"4", "100", "7", "100x", "30"}));
}

// --- The file ---

TEST_F(RegistryTest, FilePathComesFromTheEnvironment) {
  const char* saved = std::getenv("VQSCW_REGISTRY");
  std::string saved_value = saved != nullptr ? saved : "";
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  std::string saved_xdg_value = saved_xdg != nullptr ? saved_xdg : "";
  const char* saved_home = std::getenv("HOME");
  std::string saved_home_value = saved_home != nullptr ? saved_home : "";

  setenv("VQSCW_REGISTRY", "/x/own.db", 1);
  EXPECT_EQ(RegistryFilePath(), "/x/own.db");
  unsetenv("VQSCW_REGISTRY");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(RegistryFilePath(), "/cfg/vqscw/registry.db");
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(RegistryFilePath(), "/home/u/.config/vqscw/registry.db");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryFilePath(), "/home/u/.config/vqscw/registry.db");

  auto restore = [](const char* name, const char* was, const std::string& value) {
    if (was != nullptr) {
      setenv(name, value.c_str(), 1);
    } else {
      unsetenv(name);
    }
  };
  restore("VQSCW_REGISTRY", saved, saved_value);
  restore("XDG_CONFIG_HOME", saved_xdg, saved_xdg_value);
  restore("HOME", saved_home, saved_home_value);
}

TEST_F(RegistryTest, EmptyFileIsAnEmptyRegistry) {
  fs::create_directories(file_.parent_path());
  WriteFileBytes(file_, "");
  RegistryKey key;
  EXPECT_EQ(registry().OpenKey(kKey, &key), RegStatus::kNotFound);
  EXPECT_EQ(Create().SetText("1", "x"), RegStatus::kOk);
  EXPECT_EQ(Names(), std::vector<std::string>({"1"}));
}

// --- The connection kept open ---

TEST_F(RegistryTest, FileReplacedOnDiskIsReadAfresh) {
  Create().SetText("12", "Old");
  RegistryKey key;
  ASSERT_EQ(registry().OpenKey(kKey, &key), RegStatus::kOk);
  key.Close();
  {
    Registry other((dir_ / "other.db").string());
    RegistryKey other_key;
    ASSERT_EQ(other.CreateKey(kKey, &other_key), RegStatus::kOk);
    other_key.SetText("12", "New");
  }
  ReleaseRegistryFile();
  fs::rename(dir_ / "other.db", file_);  // as an administrator restoring a copy would

  RegValue value;
  ASSERT_EQ(registry().OpenKey(kKey, &key), RegStatus::kOk);
  ASSERT_EQ(key.Query("12", 63, &value), RegStatus::kOk);
  EXPECT_EQ(value.data, "New");
}

TEST_F(RegistryTest, KeysOfSeveralThreadsShareTheFile) {
  constexpr int kThreads = 3;
  constexpr int kWrites = 100;
  Create().Close();
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Registry registry(file_.string());
      RegistryKey writer;
      if (registry.CreateKey(kKey, &writer) != RegStatus::kOk) ++failures;
      for (int i = 0; i < kWrites; ++i) {
        RegistryKey reader;
        RegValue value;
        std::string name = std::to_string(t) + "-" + std::to_string(i);
        if (writer.SetDword(name, i) != RegStatus::kOk ||
            registry.OpenKey(kKey, &reader) != RegStatus::kOk ||
            reader.Query(name, 4, &value) != RegStatus::kOk || value.data != DwordBytes(i)) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Names().size(), static_cast<size_t>(kThreads * kWrites));
}

// --- Damaged and foreign files ---

class DamagedRegistryTest : public RegistryTest {
 protected:
  // A registry with one value, closed so that everything is in the main file.
  void MakeRegistry() {
    ASSERT_EQ(Create().SetText("12", "News"), RegStatus::kOk);
    ReleaseRegistryFile();
    ASSERT_FALSE(fs::exists(file_.string() + "-wal"));
  }

  // Every way of reading reports the damage; writing fails and leaves the file as it was.
  void ExpectUnusable() {
    const std::string before = ReadFileBytes(file_);
    RegistryKey key;
    EXPECT_EQ(registry().OpenKey(kKey, &key), RegStatus::kBadDatabase);
    EXPECT_EQ(registry().CreateKey(kKey, &key), RegStatus::kBadDatabase);
    EXPECT_EQ(registry().CreateKey("Software\\New", &key), RegStatus::kBadDatabase);
    std::vector<std::string> keys;
    EXPECT_EQ(registry().ListKeys(&keys), RegStatus::kBadDatabase);
    std::string problem;
    EXPECT_EQ(registry().Check(&problem), RegStatus::kBadDatabase);
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(ReadFileBytes(file_), before);
  }
};

TEST_F(DamagedRegistryTest, GarbageFile) {
  fs::create_directories(file_.parent_path());
  std::string garbage;
  for (int i = 0; i < 8192; ++i) garbage += static_cast<char>(i * 7919 % 251);
  WriteFileBytes(file_, garbage);
  ExpectUnusable();
}

TEST_F(DamagedRegistryTest, OverwrittenPagesBehindAnIntactHeader) {
  MakeRegistry();
  std::string bytes = ReadFileBytes(file_);
  for (size_t i = 100; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5);
  WriteFileBytes(file_, bytes);
  ExpectUnusable();
}

TEST_F(DamagedRegistryTest, AnotherProgramsDatabaseIsNeverChanged) {
  MakeRegistry();
  fs::remove(file_);
  {
    // A valid SQLite database that is not a registry.
    RegistryKey key;
    Registry other((dir_ / "other.db").string());
    ASSERT_EQ(other.CreateKey("x", &key), RegStatus::kOk);
  }
  ReleaseRegistryFile();
  // Same layout under a different identity: rewrite the application id in the header.
  std::string bytes = ReadFileBytes(dir_ / "other.db");
  ASSERT_GT(bytes.size(), 72u);
  bytes[68] = bytes[69] = bytes[70] = bytes[71] = 0x11;
  WriteFileBytes(file_, bytes);
  ExpectUnusable();
}

}  // namespace
}  // namespace vqscw
