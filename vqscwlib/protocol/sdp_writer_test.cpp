#include "vqscwlib/protocol/sdp_writer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/source_table_helpers.h"

namespace {

using namespace vqscw::testing;  // NOLINT

class SdpWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // mkdtemp, not the process id: in a process namespace of its own every test has the same
    // small id, so a name built from it is shared by tests running at once.
    std::string dir = (std::filesystem::temp_directory_path() / "vqscw-sdp-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    ReleaseSourceTable(&table_);
    std::filesystem::remove_all(dir_);
  }

  // The slot of a terminal heard in a full advertisement with one source.
  const SpySource* Heard(uint32_t fsid, uint8_t fast, const std::string& source_name = "Mic 1",
                         const std::string& terminal_name = "Studio A") {
    ReleaseSourceTable(&table_);
    inet_pton(AF_INET, "192.168.2.10", &terminal_.inip);
    terminal_.nums = 1;
    terminal_.name = terminal_name;
    CMessage full =
        Advertisement(kAdvertisementFull, terminal_,
                      {{.slot = 1, .psid = 7, .fsid = fsid, .fast = fast, .name = source_name}});
    EXPECT_EQ(advspy_Register(&table_, &full, nullptr, nullptr, nullptr), 1);
    return table_ != nullptr ? &table_->sources()[0] : nullptr;
  }

  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
  SpyTerminal* table_ = nullptr;
  TestTerminal terminal_;
};

TEST_F(SdpWriterTest, WritesTheStreamOfAHeardSourceWithCrLfLines) {
  char path[512];
  ASSERT_EQ(advspy_GenerateSDP(dir_.c_str(), Heard(258, 2), path), 0);
  EXPECT_EQ(std::string(path), dir_.string() + "/00258.sdp");
  EXPECT_EQ(Read(path),
            "v=0\r\n"
            "o=Studio A 1 1 IN IP4 192.168.2.10\r\n"
            "s=Mic 1\r\n"
            "t=0 0\r\n"
            "a=type:multicast\r\n"
            "c=IN IP4 239.128.1.2\r\n"
            "m=audio 5004 RTP/AVP 96\r\n"
            "a=rtpmap:96 L24/48000/2\r\n"
            "a=x-cws:FSID=1:2\r\n");
}

TEST_F(SdpWriterTest, SixteenBitStreamsAndTheFileNameOfLargeStreamIds) {
  ASSERT_EQ(advspy_GenerateSDP(dir_.c_str(), Heard(32769, 3), nullptr), 0);
  const std::string text = Read(dir_ / "00001.sdp");
  EXPECT_NE(text.find("\r\nc=IN IP4 239.128.128.1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nm=audio 5004 RTP/AVP 97\r\na=rtpmap:97 L16/48000/2\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\na=x-cws:FSID=128:1\r\n"), std::string::npos);

  // Stream id 1 shares the file, and replaces what was there.
  ASSERT_EQ(advspy_GenerateSDP(dir_.c_str(), Heard(1, 2, "Short"), nullptr), 0);
  const std::string replaced = Read(dir_ / "00001.sdp");
  EXPECT_NE(replaced.find("\r\ns=Short\r\n"), std::string::npos);
  EXPECT_NE(replaced.find("\r\nc=IN IP4 239.128.0.1\r\n"), std::string::npos);
  EXPECT_EQ(replaced.find("L16"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(SdpWriterTest, NoFileForStreamsWithoutEncodingOrWhereNoneCanBeCreated) {
  for (uint8_t type : {0, 1, 4, 255}) {
    EXPECT_EQ(advspy_GenerateSDP(dir_.c_str(), Heard(5, type), nullptr), -1) << int{type};
  }
  EXPECT_EQ(advspy_GenerateSDP(dir_.c_str(), Heard(0x800000, 2), nullptr), -1);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
  const std::string missing = (dir_ / "missing").string();
  EXPECT_EQ(advspy_GenerateSDP(missing.c_str(), Heard(5, 2), nullptr), -1);
  EXPECT_FALSE(std::filesystem::exists(missing));
  const std::string long_dir(255, 'd');  // the path would not fit 260 characters
  EXPECT_EQ(advspy_GenerateSDP(long_dir.c_str(), Heard(5, 2), nullptr), -1);
}

// A name heard from the network must not add lines of its own to the file (a second "c=" line
// would send a reader to another group).
TEST_F(SdpWriterTest, NameWithLineBreaksCannotAddLines) {
  ASSERT_EQ(
      advspy_GenerateSDP(dir_.c_str(), Heard(9, 2, "a\r\nc=IN IP4 1", "Desk 2\nm=video"), nullptr),
      0);
  const std::string text = Read(dir_ / "00009.sdp");
  EXPECT_NE(text.find("\r\no=Desk 2?m=video 1 1 IN IP4 "), std::string::npos) << text;
  EXPECT_NE(text.find("\r\ns=a??c=IN IP4 1\r\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
}

}  // namespace
