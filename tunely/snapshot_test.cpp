// tunely-snapshot's command line: what it refuses before the launcher starts, and what it does
// with an output it cannot write once the picture is taken.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using vqscw::testing::RunToEnd;

constexpr char kSnapshot[] = TUNELY_SNAPSHOT_PROGRAM;

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    previous_ = fs::current_path();
    fs::current_path(dir_);  // where a relative output would land
  }
  void TearDown() override { fs::current_path(previous_); }

  vqscw::testing::ScratchFolder scratch_{"vqscw-snapshot"};
  const fs::path& dir_ = scratch_.path();
  fs::path previous_;
};

TEST_F(SnapshotTest, HelpAndVersionWriteNoPicture) {
  std::string out, err;
  EXPECT_EQ(RunToEnd(kSnapshot, {"--help"}, &out, &err), 0) << err;
  EXPECT_EQ(out.find("tunely-snapshot: "), 0u) << out;
  EXPECT_NE(out.find("OUTPUT"), std::string::npos) << out;
  EXPECT_NE(out.find("SECONDS"), std::string::npos) << out;
  EXPECT_NE(out.find("CHANNEL"), std::string::npos) << out;
  EXPECT_EQ(RunToEnd(kSnapshot, {"--version"}, &out, &err), 0) << err;
  EXPECT_EQ(out.find("tunely-snapshot "), 0u) << out;
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(SnapshotTest, RefusesBadArgumentsAndUnwritableOutputsBeforeItStarts) {
  struct Bad {
    std::vector<std::string> args;
    std::string reason;
  };
  const std::string missing_folder = (dir_ / "missing" / "x.png").string();
  for (const Bad& bad : std::vector<Bad>{
           {{}, "OUTPUT is required"},
           {{""}, "OUTPUT: must not be empty"},
           {{"x.png", "1x"}, "SECONDS: '1x' is not a whole number"},
           {{"x.png", "-1"}, "SECONDS"},
           {{"x.png", " 5"}, "SECONDS"},
           {{"x.png", "86401"}, "SECONDS"},
           {{"x.png", "010"}, "SECONDS: '010' is not a whole number without leading zeros"},
           {{"x.png", "10", "abc"}, "CHANNEL: 'abc' is not a whole number"},
           {{"x.png", "10", "0"}, "CHANNEL"},
           {{"x.png", "10", "65536"}, "CHANNEL"},
           {{"x.png", "1", "2", "3"}, "3"},
           {{"x.png", "--bogus"}, "--bogus"},
           {{missing_folder}, "the folder " + (dir_ / "missing").string() + " does not exist"},
           {{dir_.string()}, dir_.string() + " is a folder"}}) {
    std::string out, err;
    EXPECT_EQ(RunToEnd(kSnapshot, bad.args, &out, &err), 2) << err;
    EXPECT_EQ(err.find("tunely-snapshot: "), 0u) << err;
    EXPECT_NE(err.find(bad.reason), std::string::npos) << err;
    EXPECT_EQ(out, "");  // the launcher never started
  }
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(SnapshotTest, SavesThePictureOrSaysItCouldNot) {
  std::string out, err;
  // No wait: the picture of the dialog as it first appears.
  ASSERT_EQ(RunToEnd(kSnapshot, {"selector.png", "0"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("Screenshot of the selector"), std::string::npos) << out;
  std::ifstream png(dir_ / "selector.png", std::ios::binary);
  char magic[4] = {};
  png.read(magic, sizeof magic);
  EXPECT_EQ(std::string(magic, 4), "\x89PNG");

  // A folder where no file can be made (not even by root): the failure is told, with exit 1.
  EXPECT_EQ(RunToEnd(kSnapshot, {"/proc/selector.png", "0"}, &out, &err), 1);
  EXPECT_NE(err.find("tunely-snapshot: could not write /proc/selector.png"), std::string::npos)
      << err;
}

}  // namespace
