// vqscw-spy --acl and the library's own spy give the same channels for the same access lists:
// the cases of the access-list rules, run in a network namespace of the test's own against one
// vqscw-terminal whose sources sit on the channels those cases name.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"
#include "vqscw/host.h"
#include "vqscwlib/spy/source_spy.h"

namespace {

using namespace std::chrono_literals;  // NOLINT
using vqscw::testing::ChildProcess;
using Channels = std::set<uint32_t>;
using Clock = std::chrono::steady_clock;

// The terminal's sources, in slot order; the last slot's registration ends a spy's table.
const std::vector<uint32_t> kChannels = {2, 3, 5, 6, 7, 8, 16, 205, 32767};
constexpr char kLastSlot[] = "register S009";

int Collect(SourceSpy*, SourceInfo* info, void* user) {
  static_cast<Channels*>(user)->insert(info->channel);
  return 1;
}

class SpyAccessListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    ASSERT_EQ(vqscwSourceSpyOpen(&spy_, htonl(0x7F000001), kTerminalPort), SPY_OK);
  }

  // Starts the terminal. Its full advertisement comes as several messages (at most four sources
  // each); a spy that opens while they are on their way keeps the part it heard, since the short
  // advertisements that follow name a terminal it knows. So every spy of the test has joined the
  // group before the terminal sends its first full advertisement, and no spy has to ask for one.
  void StartTerminal() {
    const std::string config = (dir_ / "terminal.conf").string();
    {
      std::ofstream out(config);
      out << "name Desk\nhwid 77\n";
      for (uint32_t channel : kChannels) out << "source " << channel << "\n";
    }
    ASSERT_TRUE(terminal_.Start(VQSCW_TERMINAL_PATH, {"--card", "lo", "--config", config}));
    ASSERT_TRUE(terminal_.WaitForOutput("S009", 5s)) << terminal_.Errors();
  }

  void TearDown() override {
    if (spy_ != nullptr) vqscwSourceSpyClose(spy_);
  }

  // The channels the library's spy reports with `acl`, once its table holds every source.
  Channels LibraryChannels(const std::string& acl) {
    vqscwSourceSpySetAccessList(spy_, acl.c_str());
    Channels channels;
    SourceSpyEnumerate(spy_, &Collect, &channels, 0);
    return channels;
  }

  std::string File(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return "file://" + path;
  }

  vqscw::testing::ScratchFolder scratch_{"vqscw-spy-acl"};
  const std::filesystem::path& dir_ = scratch_.path();
  ChildProcess terminal_;
  SourceSpy* spy_ = nullptr;
};

// The channels a vqscw-spy run printed as JSON lines.
Channels ToolChannels(const std::string& out) {
  Channels channels;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);
    if (event["event"] == "source") channels.insert(event["channel"].get<uint32_t>());
  }
  return channels;
}

TEST_F(SpyAccessListTest, ToolAndLibraryReportTheSameChannels) {
  const std::vector<std::string> lists = {
      "0;5",
      "7-3",
      "3-7",
      "0x10",
      "020",
      "32767",
      "32768",
      "5 6",
      ";5",
      "1-100;205;300 - 310",
      " 3 -\t5 ;;;8\r\n;+205;0x7fff",
      "garbage",
      "",
      "2;garbage;6-7x;205",
      File("mixed.acl",
           "allow 5;\nallow 7\nAllow 8\nallowed 2\n; allow 3\n  ALLOW\t16 - 205\r\nallow 6 7\n"),
      File("none.acl", "deny 5\n# allow 7\n"),
      "file://" + (dir_ / "missing.acl").string(),
  };
  // All runs of the tool at once. Each has joined the group once it says so, unless it refused
  // its access list and ended.
  std::vector<std::unique_ptr<ChildProcess>> tools;
  for (const std::string& acl : lists) {
    tools.push_back(std::make_unique<ChildProcess>());
    ASSERT_TRUE(
        tools.back()->Start(VQSCW_SPY_PATH, {"--card", "lo", "--acl", acl, "--json", "--debug"}));
  }
  for (size_t i = 0; i < lists.size(); ++i) {
    const ChildProcess& tool = *tools[i];
    for (const auto end = Clock::now() + 10s;
         tool.Running() && tool.Errors().find(" server joined ") == std::string::npos;) {
      ASSERT_LT(Clock::now(), end) << "vqscw-spy --acl \"" << lists[i] << "\" never joined";
      std::this_thread::sleep_for(10ms);
    }
  }
  ASSERT_NO_FATAL_FAILURE(StartTerminal());

  // The library's spy has heard the whole terminal once it reports every channel.
  const auto all = Channels(kChannels.begin(), kChannels.end());
  for (const auto end = Clock::now() + 5s; LibraryChannels("1-32767") != all;) {
    ASSERT_LT(Clock::now(), end) << "the library's spy never heard the terminal";
    std::this_thread::sleep_for(20ms);
  }

  // Each run is done when its table holds the terminal's last slot.
  size_t nonempty = 0;
  for (size_t i = 0; i < lists.size(); ++i) {
    const Channels expected = LibraryChannels(lists[i]);
    ChildProcess& tool = *tools[i];
    if (expected.empty()) {
      // A list that lets nothing pass is refused before the spy starts.
      EXPECT_EQ(tool.Wait(5s), 2) << lists[i];
      EXPECT_NE(tool.Errors().find("vqscw-spy: --acl: "), std::string::npos) << tool.Errors();
      EXPECT_EQ(tool.Output(), "") << lists[i];
      continue;
    }
    ++nonempty;
    for (const auto end = Clock::now() + 5s;
         tool.Errors().find(kLastSlot) == std::string::npos && Clock::now() < end;) {
      std::this_thread::sleep_for(10ms);
    }
    tool.Signal(SIGTERM);
    EXPECT_EQ(tool.Wait(3s), 0) << lists[i] << tool.Errors();
    EXPECT_NE(tool.Errors().find(kLastSlot), std::string::npos) << lists[i] << tool.Errors();
    EXPECT_EQ(ToolChannels(tool.Output()), expected) << "access list \"" << lists[i] << "\"";
  }
  EXPECT_EQ(nonempty, 9u);  // the refusals do not stand for the whole table
  EXPECT_EQ(LibraryChannels("0;5"), Channels{5});
  EXPECT_EQ(LibraryChannels("1-100;205;300 - 310"), (Channels{2, 3, 5, 6, 7, 8, 16, 205}));
}

}  // namespace
