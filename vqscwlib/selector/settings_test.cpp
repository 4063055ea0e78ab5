#include "vqscwlib/selector/settings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "vqscwlib/platform/registry.h"

namespace vqscw {
namespace {

namespace fs = std::filesystem;

uint32_t Address(const char* dotted) { return inet_addr(dotted); }

// Points the process's registry at a fresh file for each test.
class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* saved = std::getenv("VQSCW_REGISTRY");
    if (saved != nullptr) saved_ = saved;
    std::string dir = (fs::temp_directory_path() / "vqscw-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    file_ = dir_ / "registry.db";
    setenv("VQSCW_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      setenv("VQSCW_REGISTRY", saved_->c_str(), 1);
    } else {
      unsetenv("VQSCW_REGISTRY");
    }
    fs::remove_all(dir_);
  }

  // Writes a value the way another program (or the administrator) would.
  void Put(const char* key_path, std::string_view name, uint32_t type, std::string_view data) {
    RegistryKey key;
    ASSERT_EQ(Registry().CreateKey(key_path, &key), RegStatus::kOk);
    ASSERT_EQ(key.Set(name, type, data), RegStatus::kOk);
  }

  // The stored value, or a value of type 0 when there is none.
  RegValue Get(const char* key_path, std::string_view name) {
    RegistryKey key;
    RegValue value;
    if (Registry().OpenKey(key_path, &key) != RegStatus::kOk ||
        key.Query(name, kRegistryMaxValueBytes, &value) != RegStatus::kOk) {
      return {};
    }
    return value;
  }

  std::optional<std::string> saved_;
  fs::path dir_;
  fs::path file_;
};

// --- "Settings": card and volume ---

TEST_F(SettingsTest, MissingKeyGivesAllDefaults) {
  SelectorSettings settings = ReadSettings();
  EXPECT_EQ(settings.local_address, 0u);
  EXPECT_EQ(settings.card_name, "");
  EXPECT_EQ(settings.preview_volume, 0);
}

TEST_F(SettingsTest, StoredCardReadsBack) {
  StoreCard(Address("192.168.2.10"), "eth1");
  RegValue ip = Get(kSettingsKey, "LocalIP");
  EXPECT_EQ(ip.type, REG_SZ);
  EXPECT_EQ(ip.data, "192.168.2.10");  // dotted, first octet first, no terminating zero
  EXPECT_EQ(Get(kSettingsKey, "LocalNIC").data, "eth1");
  SelectorSettings settings = ReadSettings();
  EXPECT_EQ(settings.local_address, Address("192.168.2.10"));
  EXPECT_EQ(settings.card_name, "eth1");

  StoreCard(Address("10.0.0.1"), "");  // a card no adapter has
  settings = ReadSettings();
  EXPECT_EQ(settings.local_address, Address("10.0.0.1"));
  EXPECT_EQ(settings.card_name, "");
}

TEST_F(SettingsTest, LocalIpAsDwordIsTheAddressBytesAsStored) {
  Put(kSettingsKey, "LocalIP", REG_DWORD, DwordBytes(0x0100007F));
  EXPECT_EQ(ReadSettings().local_address, Address("127.0.0.1"));
}

TEST_F(SettingsTest, LocalIpTextForms) {
  Put(kSettingsKey, "LocalIP", REG_SZ, "not an address");
  EXPECT_EQ(ReadSettings().local_address, 0xFFFFFFFFu);
  Put(kSettingsKey, "LocalIP", REG_SZ, std::string("10.1.2.3\0junk", 13));  // ends at the zero
  EXPECT_EQ(ReadSettings().local_address, Address("10.1.2.3"));
  Put(kSettingsKey, "LocalIP", REG_BINARY, "10.9.8.7");  // any type but REG_DWORD is text
  EXPECT_EQ(ReadSettings().local_address, Address("10.9.8.7"));
  Put(kSettingsKey, "LocalIP", REG_SZ, std::string(129, '1'));  // too long to read: default
  EXPECT_EQ(ReadSettings().local_address, 0u);
  Put(kSettingsKey, "LocalIP", REG_DWORD, std::string("\x7F\0\0", 3));  // a malformed REG_DWORD
  EXPECT_EQ(ReadSettings().local_address, 0u);
}

TEST_F(SettingsTest, CardNameIsReadUpTo128Bytes) {
  Put(kSettingsKey, "LocalNIC", REG_SZ, std::string(128, 'n'));
  EXPECT_EQ(ReadSettings().card_name, std::string(128, 'n'));
  Put(kSettingsKey, "LocalNIC", REG_SZ, std::string(129, 'n'));
  EXPECT_EQ(ReadSettings().card_name, "");
}

TEST_F(SettingsTest, VolumeReadsBackWithinItsRange) {
  StoreVolume(-2500);
  EXPECT_EQ(Get(kSettingsKey, "Preview Volume").type, REG_DWORD);
  EXPECT_EQ(ReadSettings().preview_volume, -2500);
  StoreVolume(-10000);
  EXPECT_EQ(ReadSettings().preview_volume, -10000);
  // Stored by someone else: never louder than full, never below silent.
  Put(kSettingsKey, "Preview Volume", REG_DWORD, DwordBytes(5000));
  EXPECT_EQ(ReadSettings().preview_volume, 0);
  Put(kSettingsKey, "Preview Volume", REG_DWORD, DwordBytes(static_cast<uint32_t>(-20000)));
  EXPECT_EQ(ReadSettings().preview_volume, -10000);
  Put(kSettingsKey, "Preview Volume", REG_BINARY, DwordBytes(static_cast<uint32_t>(-500)));
  EXPECT_EQ(ReadSettings().preview_volume, 0);  // four bytes, but not a REG_DWORD
}

// --- "Channels": categories ---

TEST_F(SettingsTest, CategoryReadsBack) {
  std::string category = "stale";
  EXPECT_FALSE(ReadCategory(12, &category));
  EXPECT_EQ(category, "");
  StoreCategory(12, "News");
  EXPECT_EQ(Get(kChannelsKey, "12").type, REG_SZ);
  ASSERT_TRUE(ReadCategory(12, &category));
  EXPECT_EQ(category, "News");
  StoreCategory(-7, "Negative");
  EXPECT_EQ(Get(kChannelsKey, "-7").data, "Negative");
}

TEST_F(SettingsTest, EmptyCategoryDeletesTheValue) {
  StoreCategory(12, "News");
  StoreCategory(13, "Talk");
  StoreCategory(12, "");
  std::string category;
  EXPECT_FALSE(ReadCategory(12, &category));
  EXPECT_EQ(Get(kChannelsKey, "12").type, 0u);
  EXPECT_TRUE(ReadCategory(13, &category));
  StoreCategory(13, std::string_view("\0Talk", 5));  // empty as text
  EXPECT_FALSE(ReadCategory(13, &category));
}

TEST_F(SettingsTest, CategoryOf64BytesReadsAsNone) {
  std::string category;
  Put(kChannelsKey, "5", REG_SZ, std::string(63, 'c'));
  EXPECT_TRUE(ReadCategory(5, &category));
  EXPECT_EQ(category.size(), 63u);
  Put(kChannelsKey, "5", REG_SZ, std::string(64, 'c'));
  EXPECT_FALSE(ReadCategory(5, &category));
  EXPECT_EQ(category, "");
  Put(kChannelsKey, "5", REG_SZ, "");  // written by another program: no category either
  EXPECT_FALSE(ReadCategory(5, &category));
}

TEST_F(SettingsTest, RegressionLongUtf8CategoryStaysReadable) {
  // 40 two-byte characters: 80 bytes. Stored whole, it would read as no category at all.
  std::string text;
  for (int i = 0; i < 40; ++i) text += "\xC3\xA9";
  StoreCategory(3, text);
  std::string category;
  ASSERT_TRUE(ReadCategory(3, &category));
  EXPECT_EQ(category, text.substr(0, 62));  // 31 whole characters; 63 would split the 32nd
}

TEST_F(SettingsTest, CategoryWalkStopsAtTheFirstValueThatDoesNotFit) {
  EXPECT_TRUE(EnumerateCategories().empty());
  StoreCategory(1, "One");
  Put(kChannelsKey, "2", REG_SZ, std::string(64, 'x'));
  StoreCategory(3, "Three");
  EXPECT_EQ(EnumerateCategories(), std::vector<std::string>({"One"}));

  StoreCategory(2, "Two");
  Put(kChannelsKey, std::string(30, '9'), REG_SZ, "Thirty");
  Put(kChannelsKey, std::string(31, '9'), REG_SZ, "ThirtyOne");
  StoreCategory(4, "Four");
  EXPECT_EQ(EnumerateCategories(), std::vector<std::string>({"One", "Two", "Three", "Thirty"}));
}

// --- "Presets" ---

TEST_F(SettingsTest, NoPresetsKeyLeavesTheDefaults) {
  std::array<int32_t, kPresetCount> presets = {1, 2, 3, 4, 5, 6, 7, 8};
  ReadPresets(presets);
  EXPECT_EQ(presets, (std::array<int32_t, kPresetCount>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SettingsTest, PresetIndexZeroIsValueOne) {
  StorePreset(0, 25);
  RegValue value = Get(kPresetsKey, "1");
  EXPECT_EQ(value.type, REG_DWORD);
  EXPECT_EQ(value.data, DwordBytes(25));
  StorePreset(0, 25);  // the same assignment again writes the same value
  EXPECT_EQ(Get(kPresetsKey, "1").data, DwordBytes(25));
  StorePreset(7, 32767);

  int32_t presets[kPresetCount] = {1, 2, 3, 4, 5, 6, 7, 8};
  ReadPresets(presets);
  EXPECT_EQ(presets[0], 25);
  EXPECT_EQ(presets[1], 2);
  EXPECT_EQ(presets[7], 32767);
}

TEST_F(SettingsTest, PresetChannelZeroDeletesTheValue) {
  StorePreset(2, 40);
  StorePreset(2, 0);
  EXPECT_EQ(Get(kPresetsKey, "3").type, 0u);
  int32_t presets[kPresetCount] = {1, 2, 3, 4, 5, 6, 7, 8};
  ReadPresets(presets);
  EXPECT_EQ(presets[2], 3);
}

TEST_F(SettingsTest, PresetsOutsideTheRangeOrFormAreIgnored) {
  StorePreset(-1, 11);
  StorePreset(8, 12);
  EXPECT_EQ(Get(kPresetsKey, "0").type, 0u);
  EXPECT_EQ(Get(kPresetsKey, "9").type, 0u);
  Put(kPresetsKey, "2", REG_SZ, "25");
  Put(kPresetsKey, "3", REG_BINARY, DwordBytes(25));
  int32_t presets[kPresetCount] = {1, 2, 3, 4, 5, 6, 7, 8};
  ReadPresets(presets);
  EXPECT_EQ(presets[1], 2);
  EXPECT_EQ(presets[2], 3);
}

// --- The sound driver's interface address ---

TEST_F(SettingsTest, DriverAddressDefaultsToLoopback) {
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("127.0.0.1"));
  Put(kDriverParametersKey, "Other", REG_SZ, "10.1.2.3");  // key without "INIP"
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("127.0.0.1"));
}

TEST_F(SettingsTest, DriverAddressAsTextOrDwordIsTheSame) {
  Put("SYSTEM\\CurrentControlSet\\Services\\SNDPORT\\Parameters", "inip", REG_SZ, "10.1.2.3");
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("10.1.2.3"));
  Put(kDriverParametersKey, "INIP", REG_DWORD, DwordBytes(0x0302010A));
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("10.1.2.3"));
}

TEST_F(SettingsTest, DriverAddressThatCannotBeReadIsLoopback) {
  Put(kDriverParametersKey, "INIP", REG_SZ, std::string(129, '1'));
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("127.0.0.1"));
  Put(kDriverParametersKey, "INIP", REG_DWORD, std::string(8, '\x01'));
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("127.0.0.1"));
  // Text the parser rejects is a value all the same: the parser's answer, not the default.
  Put(kDriverParametersKey, "INIP", REG_SZ, "10.1.2.x");
  EXPECT_EQ(GetDriverInterfaceAddress(), 0xFFFFFFFFu);
}

// --- A damaged registry file ---

TEST_F(SettingsTest, DamagedFileGivesDefaultsAndStaysAsItWas) {
  StoreCard(Address("192.168.2.10"), "eth1");
  StorePreset(0, 25);
  StoreCategory(12, "News");
  ReleaseRegistryFile();  // no process has it open: everything is in the file itself
  fs::resize_file(file_, 1500);
  const auto size = fs::file_size(file_);

  SelectorSettings settings = ReadSettings();
  EXPECT_EQ(settings.local_address, 0u);
  EXPECT_EQ(settings.card_name, "");
  int32_t presets[kPresetCount] = {1, 2, 3, 4, 5, 6, 7, 8};
  ReadPresets(presets);
  EXPECT_EQ(presets[0], 1);
  std::string category;
  EXPECT_FALSE(ReadCategory(12, &category));
  EXPECT_TRUE(EnumerateCategories().empty());
  EXPECT_EQ(GetDriverInterfaceAddress(), Address("127.0.0.1"));

  StoreCard(Address("10.0.0.1"), "eth0");
  StoreVolume(-100);
  StoreCategory(12, "");
  StorePreset(1, 9);
  EXPECT_EQ(fs::file_size(file_), size);
}

}  // namespace
}  // namespace vqscw
