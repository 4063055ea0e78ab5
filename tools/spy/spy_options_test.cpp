#include "tools/spy/spy_options.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vqscwlib/platform/net_interfaces.h"

namespace vqscw::tools {
namespace {

class SpyOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (std::filesystem::temp_directory_path() / "vqscw-spy-options-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  CommandLineOutcome Parse(const std::vector<std::string>& args) {
    options_ = SpyOptions();
    message_.clear();
    return ParseSpyOptions(args, &options_, &message_);
  }

  // Two cards, loopback first, so that the default has to skip it.
  ScopedFakeNetInterfaces cards_{{{htonl(0x7F000001), htonl(0xFF000000), 1, "lo", "lo"},
                                  {htonl(0x0A000005), htonl(0xFFFFFF00), 2, "eth0", "eth0"}}};
  std::string dir_;
  SpyOptions options_;
  std::string message_;
};

TEST_F(SpyOptionsTest, ReadsEveryOptionAndDefaultsToTheFirstCardOutsideLoopback) {
  ASSERT_EQ(Parse({}), CommandLineOutcome::kRun) << message_;
  EXPECT_EQ(options_.card.text, "10.0.0.5");
  EXPECT_EQ(options_.card.interface, "eth0");
  EXPECT_FALSE(options_.acl_given);
  EXPECT_EQ(options_.seconds, 0u);

  ASSERT_EQ(Parse({"--card", "lo", "--acl", "0;5", "--sdp", dir_ + "//", "--json", "--seconds",
                   "20", "--debug"}),
            CommandLineOutcome::kRun)
      << message_;
  EXPECT_EQ(options_.card.address, htonl(0x7F000001));
  EXPECT_TRUE(options_.acl_given);
  EXPECT_EQ(options_.acl, "0;5");
  EXPECT_EQ(options_.sdp_dir, dir_);
  EXPECT_TRUE(options_.json);
  EXPECT_TRUE(options_.debug);
  EXPECT_EQ(options_.seconds, 20u);
  ASSERT_EQ(Parse({"--card", "10.0.0.5"}), CommandLineOutcome::kRun) << message_;
  EXPECT_EQ(options_.card.interface, "eth0");

  EXPECT_EQ(Parse({"--help"}), CommandLineOutcome::kHelp);
  EXPECT_NE(message_.find("--acl"), std::string::npos);
  EXPECT_NE(message_.find("\"time\""), std::string::npos);
  EXPECT_EQ(Parse({"--version"}), CommandLineOutcome::kVersion);
  EXPECT_EQ(message_.find("vqscw-spy "), 0u);
}

// Each refusal names the option and what it takes.
TEST_F(SpyOptionsTest, RefusesBadValuesNamingTheOptionAndWhatItTakes) {
  const std::string file = dir_ + "/file";
  std::ofstream(file) << "allow 0\n; allow 5\nallowed 6\n";
  const std::string cards = "lo (127.0.0.1), eth0 (10.0.0.5)";
  const std::string acl_forms = "1 to 32767";
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"--card", ""}, {"--card", cards}},
      {{"--card", "nosuchcard0"}, {"--card", "nosuchcard0", cards}},
      {{"--card", "10.9.9.9"}, {"--card", "10.9.9.9", cards}},
      {{"--acl", "garbage"}, {"--acl", "\"garbage\" lets no channel pass", acl_forms}},
      {{"--acl", ";5"}, {"--acl", acl_forms}},  // the entry starts at ";": nothing is taken
      {{"--acl", ""}, {"--acl", acl_forms}},
      {{"--acl", "file://" + file}, {"--acl", "allow N"}},  // no line of the file counts
      {{"--acl", "file://" + dir_ + "/none"}, {"--acl", "cannot open", dir_ + "/none"}},
      {{"--sdp", dir_ + "/none"}, {"--sdp", "the folder " + dir_ + "/none does not exist"}},
      {{"--sdp", file}, {"--sdp", file + " is not a folder"}},
      {{"--sdp", ""}, {"--sdp", "folder"}},
      {{"--seconds", "0"}, {"--seconds"}},
      {{"--seconds", "1.5"}, {"--seconds", "not a whole number"}},
      {{"--bogus"}, {"--bogus"}},
      {{"stray"}, {"stray"}},
  };
  for (const auto& [args, parts] : cases) {
    EXPECT_EQ(Parse(args), CommandLineOutcome::kBadArguments) << args[0] << " " << args.back();
    for (const std::string& part : parts) {
      EXPECT_NE(message_.find(part), std::string::npos) << message_;
    }
  }
  // A list of which the library takes something passes, malformed entries and all.
  EXPECT_EQ(Parse({"--card", "lo", "--acl", "7-3;32768;5"}), CommandLineOutcome::kRun) << message_;
}

}  // namespace
}  // namespace vqscw::tools
