// vqscw-spy end to end beside a running vqscw-terminal, in a network namespace of the test's own:
// it lists the terminal's sources and writes SDP files that a third-party reader (ffprobe)
// accepts and follows to the terminal's streams.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/testing/child_process.h"
#include "tools/testing/multicast_receiver.h"
#include "vqscwlib/host.h"
#include "vqscwlib/message/frame.h"

namespace {

using namespace std::chrono_literals;  // NOLINT
using vqscw::testing::ChildProcess;
using vqscw::testing::RunToEnd;
using Clock = std::chrono::steady_clock;

constexpr char kSpy[] = VQSCW_SPY_PATH;

class SpyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // mkdtemp, not the process id: in a process namespace of its own every test has the same
    // small id, so a name built from it is shared by tests running at once.
    std::string dir = (std::filesystem::temp_directory_path() / "vqscw-spy-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    ASSERT_TRUE(group_.ok());  // there before the terminal starts
    // Five sources, so a full advertisement takes two messages; given in a config file.
    const std::string config = (dir_ / "terminal.conf").string();
    std::ofstream(config) << "# a desk\nname Desk\nhwid 77\n\nsource 101:Mic 1:258\n"
                             "source 102\nsource 103\nsource 104\nsource 105:Line:105:3\n";
    ASSERT_TRUE(terminal_.Start(VQSCW_TERMINAL_PATH, {"--card", "lo", "--config", config}));
    ASSERT_TRUE(terminal_.WaitForOutput("S005", 5s)) << terminal_.Errors();
    std::filesystem::remove(config);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Whether the terminal's first short advertisement comes within `wait`: it follows the full
  // advertisement the terminal sends at start, so that one is over by then.
  bool AwaitShortAdvertisement(std::chrono::milliseconds wait) {
    for (const auto end = Clock::now() + wait; Clock::now() < end;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      const std::optional<std::vector<uint8_t>> datagram =
          group_.Receive(static_cast<int>(std::max<int64_t>(left.count(), 0)));
      if (!datagram || datagram->size() <= static_cast<size_t>(kFrameHeaderSize)) continue;
      CMessage message;
      const auto length = static_cast<uint32_t>(datagram->size() - kFrameHeaderSize);
      if (message.Decode(datagram->data() + kFrameHeaderSize, length) == length &&
          message.GetU8(Tag("ADVT")) == 2) {
        return true;
      }
    }
    return false;
  }

  vqscw::testing::MulticastReceiver group_{kAdvertisementGroup, kTerminalPort};
  ChildProcess terminal_;
  std::filesystem::path dir_;
};

TEST_F(SpyTest, ListsEverySourceOfARunningTerminalWithinTwoSeconds) {
  // The spy starts after the terminal's full advertisement at start: it has to ask for one.
  ASSERT_TRUE(AwaitShortAdvertisement(3s));
  ChildProcess spy;
  const auto start = Clock::now();
  ASSERT_TRUE(spy.Start(kSpy, {"--card", "lo", "--json"}));
  ASSERT_TRUE(spy.WaitForOutput("\"channel\":105", 2s)) << spy.Output() << spy.Errors();
  EXPECT_LT(Clock::now() - start, 2s);
  const std::string out = spy.Output();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
  for (int channel = 102; channel <= 105; ++channel) {
    EXPECT_NE(out.find("\"channel\":" + std::to_string(channel) + ","), std::string::npos);
  }
  EXPECT_NE(out.find("{\"event\":\"source\",\"channel\":101,\"name\":\"Mic 1\",\"stream_id\":258,"
                     "\"type\":2,\"terminal\":\"127.0.0.1\",\"hwid\":77,\"terminal_name\":"
                     "\"Desk\"}\n"),
            std::string::npos)
      << out;
  spy.Signal(SIGTERM);
  EXPECT_EQ(spy.Wait(2s), 0);
}

TEST_F(SpyTest, AccessListAndSdpFilesThatAThirdPartyReaderFollows) {
  ChildProcess spy;
  ASSERT_TRUE(spy.Start(
      kSpy, {"--card", "lo", "--acl", "101;104-105", "--sdp", dir_.string(), "--seconds", "20"}));
  ASSERT_TRUE(spy.WaitForOutput("source 105", 3s)) << spy.Output() << spy.Errors();
  const std::string out = spy.Output();
  EXPECT_NE(out.find("source 101 \"Mic 1\" stream 258 type 2 from 127.0.0.1 hwid 77 \"Desk\" sdp " +
                     (dir_ / "00258.sdp").string() + "\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("source 102"), std::string::npos);
  EXPECT_EQ(out.find("source 103"), std::string::npos);
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    files.insert(entry.path().filename().string());
  }
  EXPECT_EQ(files, (std::set<std::string>{"00104.sdp", "00105.sdp", "00258.sdp"}));

  // ffprobe reads each file, joins the group it names and recognises the stream there.
  for (const auto& [file, codec] :
       {std::pair{"00258.sdp", "pcm_s24be"}, std::pair{"00105.sdp", "pcm_s16be"}}) {
    std::string probe, errors;
    EXPECT_EQ(RunToEnd("/usr/bin/ffprobe",
                       {"-v", "error", "-protocol_whitelist", "file,udp,rtp", "-show_entries",
                        "stream=codec_name,sample_rate,channels", "-of", "default=nw=1",
                        (dir_ / file).string()},
                       &probe, &errors, 20s),
              0)
        << errors;
    EXPECT_EQ(probe, "codec_name=" + std::string(codec) + "\nsample_rate=48000\nchannels=2\n")
        << file << ": " << errors;
  }
}

TEST(SpyProgramTest, StopsAfterItsSecondsAndRefusesBadArguments) {
  const auto start = Clock::now();
  std::string out, err;
  EXPECT_EQ(RunToEnd(kSpy, {"--card", "127.0.0.1", "--seconds", "1"}, &out, nullptr), 0);
  EXPECT_GE(Clock::now() - start, 1s);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_EQ(out, "vqscw-spy: listening on 127.0.0.1 (lo)\n");
  EXPECT_EQ(RunToEnd(kSpy, {"--help"}, &out, &err), 0);
  EXPECT_EQ(out.find("usage: vqscw-spy"), 0u);
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--sdp", "/nonexistent/dir"},
                                             {"--card", "nosuchcard0"},
                                             {"--card", "lo", "--acl", "file:///nonexistent.acl"},
                                             {"--seconds", "0"},
                                             {"--json=1"},
                                             {"stray"}}) {
    EXPECT_EQ(RunToEnd(kSpy, bad, &out, &err), 2) << bad[0];
    EXPECT_EQ(err.find("vqscw-spy: "), 0u) << err;
  }
}

}  // namespace
