#include "tools/vqscw-reg/reg_tool.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "vqscwlib/platform/sound_driver.h"
#include "vqscwlib/selector/settings.h"

namespace vqscw {
namespace {

namespace fs = std::filesystem;

constexpr char kLauncher[] = "SOFTWARE\\Orvane Systems\\Pelmar Tunely";

class RegToolTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "vqscw-regtool-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    file_ = (dir_ / "registry.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool on this test's file; keeps what it printed.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--file", file_});
    std::ostringstream out, err;
    int status = RunRegTool(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  fs::path dir_;
  std::string file_;
  std::string out_;
  std::string err_;
};

// --- Commands ---

TEST_F(RegToolTest, AddedValuesQueryBack) {
  ASSERT_EQ(Run({"add", kLauncher, "Version", "--data", "3.0"}), kRegToolOk) << err_;
  ASSERT_EQ(Run({"add", kLauncher, "ACL", "--type=REG_SZ", "--data="}), kRegToolOk) << err_;
  ASSERT_EQ(Run({"add", kLauncher, "Count", "--type", "reg_dword", "--data", "-2500"}), kRegToolOk);
  ASSERT_EQ(Run({"add", kLauncher, "Raw", "--type", "REG_BINARY", "--data", "0a:01:02:ff"}),
            kRegToolOk);

  EXPECT_EQ(Run({"query", "hklm/software/orvane systems/pelmar tunely", "version"}), kRegToolOk);
  EXPECT_EQ(out_, "SOFTWARE\\Orvane Systems\\Pelmar Tunely\n    Version    REG_SZ    3.0\n");
  EXPECT_EQ(Run({"query", kLauncher}), kRegToolOk);
  EXPECT_EQ(out_,
            "SOFTWARE\\Orvane Systems\\Pelmar Tunely\n"
            "    Version    REG_SZ    3.0\n"
            "    ACL    REG_SZ    \n"
            "    Count    REG_DWORD    0xfffff63c (4294964796)\n"
            "    Raw    REG_BINARY    0a 01 02 ff\n");
  EXPECT_EQ(err_, "");
}

TEST_F(RegToolTest, DriverAddressSetWithTheToolReachesTheReader) {
  const char* saved = std::getenv("VQSCW_REGISTRY");
  const std::string saved_file = saved != nullptr ? saved : "";
  setenv("VQSCW_REGISTRY", file_.c_str(), 1);  // the tool's default file is the library's
  const std::string key = "System\\CurrentControlSet\\Services\\sndport\\Parameters";
  std::ostringstream out, err;
  std::vector<std::string> add_text = {"add", key, "INIP", "--data", "10.1.2.3"};
  ASSERT_EQ(RunRegTool(add_text, out, err), kRegToolOk) << err.str();
  EXPECT_EQ(GetDriverInterfaceAddress(), inet_addr("10.1.2.3"));
  std::vector<std::string> add_dword = {"add",       key,      "INIP",      "--type",
                                        "REG_DWORD", "--data", "0x0302010A"};
  ASSERT_EQ(RunRegTool(add_dword, out, err), kRegToolOk) << err.str();
  EXPECT_EQ(GetDriverInterfaceAddress(), inet_addr("10.1.2.3"));
  if (saved != nullptr) {
    setenv("VQSCW_REGISTRY", saved_file.c_str(), 1);
  } else {
    unsetenv("VQSCW_REGISTRY");
  }
}

TEST_F(RegToolTest, MissingKeyOrValueIsNotFound) {
  EXPECT_EQ(Run({"query", kLauncher}), kRegToolNotFound);
  EXPECT_EQ(err_, "vqscw-reg: key not found: SOFTWARE\\Orvane Systems\\Pelmar Tunely\n");
  EXPECT_FALSE(fs::exists(file_));  // looking does not create the registry
  EXPECT_EQ(Run({"delete", kLauncher, "Version"}), kRegToolNotFound);
  EXPECT_FALSE(fs::exists(file_));

  Run({"add", kLauncher, "Version", "--data", "3.0"});
  EXPECT_EQ(Run({"query", kLauncher, "ACL"}), kRegToolNotFound);
  EXPECT_EQ(err_, "vqscw-reg: value not found: ACL in SOFTWARE\\Orvane Systems\\Pelmar Tunely\n");
  EXPECT_EQ(Run({"delete", kLauncher, "ACL"}), kRegToolNotFound);
  EXPECT_EQ(Run({"delete", kLauncher, "VERSION"}), kRegToolOk);
  EXPECT_EQ(Run({"query", kLauncher, "Version"}), kRegToolNotFound);
}

TEST_F(RegToolTest, ListShowsEveryKeyAndEscapesControlBytes) {
  EXPECT_EQ(Run({"list"}), kRegToolOk);
  EXPECT_EQ(out_, "");
  Run({"add", "A\\B", "", "--data", "x\ty\x1b[2J"});
  Run({"add", "A", "n", "--type", "REG_DWORD", "--data", "7"});
  EXPECT_EQ(Run({"list"}), kRegToolOk);
  EXPECT_EQ(out_,
            "A\\B\n"
            "    (unnamed)    REG_SZ    x\\x09y\\x1b[2J\n"
            "\n"
            "A\n"
            "    n    REG_DWORD    0x00000007 (7)\n");
}

TEST_F(RegToolTest, ValuesOfOtherTypesAndShapesAreShownAsBytes) {
  Registry registry(file_);
  RegistryKey key;
  ASSERT_EQ(registry.CreateKey("K", &key), RegStatus::kOk);
  key.Set("odd", 7, "\x01\x02");
  key.Set("short", REG_DWORD, "\x01\x02");
  EXPECT_EQ(Run({"query", "K"}), kRegToolOk);
  EXPECT_EQ(out_, "K\n    odd    type 7    01 02\n    short    REG_DWORD    01 02\n");
}

// --- Refused command lines ---

TEST_F(RegToolTest, BadCommandLinesChangeNothing) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"query"},
      {"list", "extra"},
      {"add", kLauncher, "Version"},  // no --data
      {"add", kLauncher, "Version", "--type", "REG_QWORD", "--data", "1"},
      {"add", kLauncher, "Version", "--type", "REG_DWORD", "--data", "3.0"},
      {"add", kLauncher, "Version", "--type", "REG_BINARY", "--data", "abc"},
      {"add", "Software\\\\Empty", "Version", "--data", "x"},
      {"add", kLauncher, "Version", "--data"},
      {"query", kLauncher, "--data", "x"},
      {"query", kLauncher, "--verbose"},
  };
  for (const auto& args : bad) {
    EXPECT_EQ(Run(args), kRegToolUsage) << testing::PrintToString(args);
    EXPECT_EQ(err_.rfind("vqscw-reg: ", 0), 0u) << err_;
  }
  EXPECT_FALSE(fs::exists(file_));
  Run({"add", kLauncher, "Version", "--type", "REG_QWORD", "--data", "1"});
  EXPECT_EQ(err_, "vqscw-reg: unknown type 'REG_QWORD' (use REG_SZ, REG_DWORD or REG_BINARY)\n");
  Run({"add", kLauncher});
  EXPECT_NE(err_.find("VALUE is required\nTry vqscw-reg --help.\n"), std::string::npos) << err_;
  Run({"query", kLauncher, "--verbose"});
  EXPECT_NE(err_.find("--verbose"), std::string::npos) << err_;
}

TEST_F(RegToolTest, FileMustBeInAFolderThatExists) {
  const std::string missing = (dir_ / "no-such-folder" / "registry.db").string();
  std::ostringstream out, err;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--file", missing, "add", kLauncher, "Version", "--data", "3.0"},
           {"add", kLauncher, "Version", "--data", "3.0", "--file", missing},  // after the command
           {"--file", missing, "list"}}) {
    err.str("");
    EXPECT_EQ(RunRegTool(args, out, err), kRegToolUsage);
    EXPECT_EQ(err.str().rfind("vqscw-reg: --file: the folder " +
                                  (dir_ / "no-such-folder").string() + " does not exist",
                              0),
              0u)
        << err.str();
  }
  EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));  // not made behind the user's back
  err.str("");
  EXPECT_EQ(RunRegTool(std::vector<std::string>{"--file", dir_.string(), "list"}, out, err),
            kRegToolUsage);
  EXPECT_NE(err.str().find("is a folder"), std::string::npos) << err.str();
  EXPECT_EQ(RunRegTool(std::vector<std::string>{"--file", "", "list"}, out, err), kRegToolUsage);

  // In a folder that exists, the file is made by the first write, given before or after the
  // command.
  const std::string later = (dir_ / "later.db").string();
  EXPECT_EQ(RunRegTool(std::vector<std::string>{"add", kLauncher, "Version", "--data", "3.0",
                                                "--file", later},
                       out, err),
            kRegToolOk)
      << err.str();
  EXPECT_TRUE(fs::exists(later));
}

TEST_F(RegToolTest, DriverAddressTextMustBeADottedAddress) {
  const std::string key = "System\\CurrentControlSet\\Services\\sndport\\Parameters";
  for (const char* bad : {"not-an-ip", "10.1.2", "10.1.2.256", "10.1.2.3:80", " 10.1.2.3", ""}) {
    EXPECT_EQ(Run({"add", key, "INIP", "--data", bad}), kRegToolUsage) << bad;
    EXPECT_EQ(err_, std::string("vqscw-reg: bad data '") + bad +
                        "': INIP must be a dotted IPv4 address, such as 10.1.2.3\n");
    EXPECT_EQ(Run({"add", key, "inip", "--type", "REG_SZ", "--data", bad}), kRegToolUsage) << bad;
  }
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_EQ(Run({"add", key, "INIP", "--data", "10.1.2.3"}), kRegToolOk) << err_;
  // As a REG_DWORD the address is its four bytes; other values take any text.
  EXPECT_EQ(Run({"add", key, "INIP", "--type", "REG_DWORD", "--data", "0x0302010A"}), kRegToolOk);
  EXPECT_EQ(Run({"add", key, "Other", "--data", "not-an-ip"}), kRegToolOk);
}

TEST_F(RegToolTest, HelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), kRegToolOk);
  EXPECT_NE(out_.find("query"), std::string::npos) << out_;
  EXPECT_NE(out_.find("Exit status"), std::string::npos) << out_;
  EXPECT_EQ(Run({"add", "--help"}), kRegToolOk);
  EXPECT_NE(out_.find("--data"), std::string::npos) << out_;
  EXPECT_EQ(Run({"--version"}), kRegToolOk);
  EXPECT_EQ(out_.rfind("vqscw-reg ", 0), 0u) << out_;
  EXPECT_EQ(err_, "");
  EXPECT_FALSE(fs::exists(file_));
}

// --- A damaged registry file ---

TEST_F(RegToolTest, DamagedFileIsReportedAndLeftAlone) {
  Run({"add", kLauncher, "Version", "--data", "3.0"});
  ReleaseRegistryFile();  // no process has it open: everything is in the file itself
  fs::resize_file(file_, 700);
  std::ifstream in(file_, std::ios::binary);
  const std::string before{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  for (const auto& args :
       std::vector<std::vector<std::string>>{{"list"},
                                             {"query", kLauncher},
                                             {"query", kLauncher, "Version"},
                                             {"add", kLauncher, "ACL", "--data", "file:///etc/acl"},
                                             {"delete", kLauncher, "Version"}}) {
    EXPECT_EQ(Run(args), kRegToolBadRegistry) << args[0];
    EXPECT_EQ(out_, "");
    EXPECT_EQ(err_.rfind("vqscw-reg: " + file_ + " is not a readable registry database (", 0), 0u)
        << err_;
  }
  std::ifstream again(file_, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), std::istreambuf_iterator<char>()),
            before);
}

// --- Data texts ---

TEST(RegDataTest, DwordTexts) {
  std::string bytes, error;
  ASSERT_TRUE(ParseRegData(REG_DWORD, "4294967295", &bytes, &error));
  EXPECT_EQ(bytes, DwordBytes(0xFFFFFFFF));
  ASSERT_TRUE(ParseRegData(REG_DWORD, "-2147483648", &bytes, &error));
  EXPECT_EQ(bytes, DwordBytes(0x80000000));
  ASSERT_TRUE(ParseRegData(REG_DWORD, "0X0302010a", &bytes, &error));
  EXPECT_EQ(bytes, DwordBytes(0x0302010A));
  for (const char* bad : {"", "-", "4294967296", "-2147483649", "0x", "0x100000000", "--1", "0x-1",
                          "-0x1", "+1", " 1", "1 ", "12a", "ff"}) {
    EXPECT_FALSE(ParseRegData(REG_DWORD, bad, &bytes, &error)) << bad;
  }
}

TEST(RegDataTest, BinaryTexts) {
  std::string bytes, error;
  ASSERT_TRUE(ParseRegData(REG_BINARY, "", &bytes, &error));
  EXPECT_EQ(bytes, "");
  ASSERT_TRUE(ParseRegData(REG_BINARY, "DEad be-ef", &bytes, &error));
  EXPECT_EQ(bytes, "\xDE\xAD\xBE\xEF");
  for (const char* bad : {"a", "abc", "a b", "0g", "0x12"}) {
    EXPECT_FALSE(ParseRegData(REG_BINARY, bad, &bytes, &error)) << bad;
  }
}

}  // namespace
}  // namespace vqscw
