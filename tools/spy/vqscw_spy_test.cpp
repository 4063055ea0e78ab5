// vqscw-spy end to end beside a running vqscw-terminal, in a network namespace of the test's own:
// it lists the terminal's sources and writes SDP files that a third-party reader (ffprobe)
// accepts and follows to the terminal's streams.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/multicast_receiver.h"
#include "tests/support/scratch_folder.h"
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
    ASSERT_TRUE(scratch_.ok());
    ASSERT_TRUE(group_.ok());  // there before the terminal starts
    // Five sources, so a full advertisement takes two messages; given in a config file.
    const std::string config = (dir_ / "terminal.conf").string();
    std::ofstream(config) << "# a desk\nname Desk\nhwid 77\n\nsource 101:Mic 1:258\n"
                             "source 102\nsource 103\nsource 104\nsource 105:Line:105:3\n";
    ASSERT_TRUE(terminal_.Start(VQSCW_TERMINAL_PATH, {"--card", "lo", "--config", config}));
    ASSERT_TRUE(terminal_.WaitForOutput("S005", 5s)) << terminal_.Errors();
    std::filesystem::remove(config);
  }

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
  vqscw::testing::ScratchFolder scratch_{"vqscw-spy"};
  const std::filesystem::path& dir_ = scratch_.path();
};

TEST_F(SpyTest, ListsEverySourceOfARunningTerminalWithinTwoSeconds) {
  // The spy starts after the terminal's full advertisement at start: it has to ask for one.
  ASSERT_TRUE(AwaitShortAdvertisement(3s));
  ChildProcess spy;
  const auto start = Clock::now();
  const auto wall = std::chrono::system_clock::now();
  ASSERT_TRUE(spy.Start(kSpy, {"--card", "lo", "--json", "--debug"}));
  ASSERT_TRUE(spy.WaitForOutput("\"channel\":105", 2s)) << spy.Output() << spy.Errors();
  EXPECT_LT(Clock::now() - start, 2s);
  spy.Signal(SIGTERM);
  EXPECT_EQ(spy.Wait(2s), 0);
  // Standard output holds the JSON lines alone; the library's lines went to standard error.
  const std::string out = spy.Output();
  std::istringstream lines(out);
  std::set<int> channels;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);
    channels.insert(event.at("channel").get<int>());
    // "2026-01-31T12:00:00.000Z", within the run.
    std::tm utc{};
    const std::string time = event.at("time").get<std::string>();
    ASSERT_NE(strptime(time.c_str(), "%Y-%m-%dT%H:%M:%S", &utc), nullptr) << time;
    const auto heard = std::chrono::system_clock::from_time_t(timegm(&utc));
    EXPECT_GE(heard, std::chrono::floor<std::chrono::seconds>(wall)) << time;
    EXPECT_LE(heard, std::chrono::system_clock::now()) << time;
  }
  EXPECT_EQ(channels, (std::set<int>{101, 102, 103, 104, 105})) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
  EXPECT_NE(out.find(",\"channel\":101,\"name\":\"Mic 1\",\"stream_id\":258,\"type\":2,"
                     "\"terminal\":\"127.0.0.1\",\"hwid\":77,\"terminal_name\":\"Desk\"}\n"),
            std::string::npos)
      << out;
  EXPECT_NE(spy.Errors().find("register S005 [105]"), std::string::npos) << spy.Errors();
}

TEST_F(SpyTest, AccessListAndSdpFilesThatAThirdPartyReaderFollows) {
  // A spy that opened between the two messages of the terminal's full advertisement at start
  // would know the terminal with one source and never ask for the rest.
  ASSERT_TRUE(AwaitShortAdvertisement(3s));
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
  EXPECT_EQ(out.find("vqscw-spy: listens"), 0u) << out;
  EXPECT_NE(out.find("--acl"), std::string::npos) << out;
  EXPECT_EQ(RunToEnd(kSpy, {"--version"}, &out, &err), 0);
  EXPECT_EQ(out.find("vqscw-spy "), 0u) << out;
}

// Every bad argument ends the spy before it opens, with exit code 2 and one line naming the
// option and what it takes.
TEST(SpyProgramTest, RefusesBadArgumentsBeforeItListens) {
  std::string dir = (std::filesystem::temp_directory_path() / "vqscw-spy-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  // A folder that cannot be written: a read-only file system in the test's own mount namespace
  // (root writes wherever permissions say no).
  const std::string read_only = dir + "/read-only";
  ASSERT_TRUE(std::filesystem::create_directory(read_only));
  if (geteuid() == 0) {
    ASSERT_EQ(mount("tmpfs", read_only.c_str(), "tmpfs", MS_RDONLY, nullptr), 0)
        << std::strerror(errno);
  } else {
    std::filesystem::permissions(
        read_only, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  }
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"--card", ""}, {"--card: must name a card", "lo (127.0.0.1)"}},
      {{"--card", "nosuchcard0"}, {"--card: no network interface named nosuchcard0", "lo ("}},
      {{"--card", "lo", "--acl", "garbage"},
       {"--acl: \"garbage\" lets no channel pass", "1 to 32767", "file://PATH"}},
      {{"--card", "lo", "--acl", "file:///nonexistent.acl"}, {"--acl: cannot open"}},
      {{"--bogus"}, {"--bogus"}},
      {{"--card", "lo", "--sdp", dir + "/none"},
       {"--sdp: the folder " + dir + "/none does not exist"}},
      {{"--card", "lo", "--sdp", read_only},
       {"--sdp: the folder " + read_only + " cannot be written"}},
      {{"--seconds", "0"}, {"--seconds"}},
      {{"stray"}, {"stray"}},
  };
  for (const auto& [args, parts] : cases) {
    const auto start = Clock::now();
    std::string out, err;
    EXPECT_EQ(RunToEnd(kSpy, args, &out, &err), 2) << args.back();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(out, "") << args.back();  // it never said it was listening
    EXPECT_EQ(err.find("vqscw-spy: "), 0u) << err;
    EXPECT_EQ(err.find("vqscwlib"), std::string::npos) << err;  // the spy never opened
    for (const std::string& part : parts) EXPECT_NE(err.find(part), std::string::npos) << err;
  }
  if (geteuid() == 0) umount(read_only.c_str());
  std::filesystem::remove_all(dir);
}

}  // namespace
