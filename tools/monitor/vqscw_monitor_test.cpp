// vqscw-monitor end to end, in a network namespace of the test's own: the test sender's faulty
// stream counted exactly, the lines of a timed run, bad arguments, and --all following the
// channels a software terminal offers.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/impaired_rtp_sender.h"
#include "vqscwlib/preview/preview.h"

namespace {

using namespace std::chrono_literals;  // NOLINT
using nlohmann::ordered_json;
using vqscw::testing::ChildProcess;
using vqscw::testing::ImpairedRtpSender;
using vqscw::testing::RunToEnd;

constexpr char kMonitor[] = VQSCW_MONITOR_PATH;
constexpr char kTerminal[] = VQSCW_TERMINAL_PATH;
const std::vector<std::string> kFields = {"event",      "channel",   "packets",   "lost",
                                          "duplicated", "reordered", "jitter_ms", "peak_dbfs",
                                          "silent",     "ssrc"};

std::vector<ordered_json> JsonLines(const std::string& text) {
  std::vector<ordered_json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(ordered_json::parse(line, nullptr, false));
  }
  return lines;
}

std::vector<std::string> Keys(const ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

std::vector<ordered_json> Events(const std::vector<ordered_json>& lines, const std::string& event,
                                 uint32_t channel) {
  std::vector<ordered_json> found;
  for (const ordered_json& line : lines) {
    if (line.is_object() && line.value("event", "") == event &&
        line.value("channel", 0u) == channel) {
      found.push_back(line);
    }
  }
  return found;
}

TEST(MonitorToolTest, FaultyStreamIsCountedExactlyInTheTotal) {
  constexpr uint32_t kChannel = 101;
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(kMonitor, {"--card", "lo", "--channel", "101", "--json"}));
  // The first second's line says the monitor listens.
  ASSERT_TRUE(monitor.WaitForOutput("\"event\":\"stats\"", 5s)) << monitor.Errors();

  ImpairedRtpSender sender(vqscw::PreviewGroup(kChannel), kStreamPort);
  const auto faults = vqscw::testing::SpreadImpairments(3000, 30, 20, 10);
  ASSERT_EQ(faults.drop.size(), 30u);
  ASSERT_EQ(faults.duplicate.size(), 20u);
  ASSERT_EQ(faults.swap.size(), 10u);
  ASSERT_EQ(sender.Send(3000, faults), 2990);
  // Sent on loopback, every packet is in the monitor's socket now: its totals take them at the
  // stop, without waiting for its next tick.
  monitor.Signal(SIGTERM);
  ASSERT_EQ(monitor.Wait(5s), 0) << monitor.Errors();

  const std::vector<ordered_json> lines = JsonLines(monitor.Output());
  const std::vector<ordered_json> totals = Events(lines, "total", kChannel);
  ASSERT_EQ(totals.size(), 1u) << monitor.Output();
  const ordered_json& total = totals[0];
  EXPECT_EQ(Keys(total), kFields);
  EXPECT_EQ(total["packets"], 2990);
  EXPECT_EQ(total["lost"], 30);
  EXPECT_EQ(total["duplicated"], 20);
  EXPECT_EQ(total["reordered"], 10);
  EXPECT_EQ(total["peak_dbfs"], ordered_json::parse("[-12.0,-12.0]"));  // the quarter-scale tone
  EXPECT_EQ(total["silent"], false);
  EXPECT_EQ(total["ssrc"], sender.ssrc);
  EXPECT_GT(total["jitter_ms"].get<double>(), 0.0);

  // Every second's counts add up to the total, but for the part-second before the stop.
  uint64_t packets = 0, duplicated = 0, reordered = 0;
  int64_t lost = 0;
  for (const ordered_json& second : Events(lines, "stats", kChannel)) {
    EXPECT_EQ(Keys(second), kFields);
    packets += second["packets"].get<uint64_t>();
    lost += second["lost"].get<int64_t>();
    duplicated += second["duplicated"].get<uint64_t>();
    reordered += second["reordered"].get<uint64_t>();
  }
  EXPECT_LE(packets, 2990u);
  EXPECT_GE(packets, 2990u - 1400);  // at most the last 1.3 s are not in a second's line
  EXPECT_LE(lost, 30);
  EXPECT_LE(duplicated, 20u);
  EXPECT_LE(reordered, 10u);
}

TEST(MonitorToolTest, TimedRunPrintsOneLinePerChannelEachSecondThenTheTotals) {
  std::string out, err;
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(
      RunToEnd(kMonitor,
               {"--card", "lo", "--channel", "6", "--channel", "5", "--seconds", "2", "--json"},
               &out, &err),
      0)
      << err;
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 4s);
  EXPECT_EQ(out,
            "{\"event\":\"stats\",\"channel\":5,\"packets\":0,\"lost\":0,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[-140.0,-140.0],\"silent\":false,"
            "\"ssrc\":null}\n"
            "{\"event\":\"stats\",\"channel\":6,\"packets\":0,\"lost\":0,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[-140.0,-140.0],\"silent\":false,"
            "\"ssrc\":null}\n"
            "{\"event\":\"stats\",\"channel\":5,\"packets\":0,\"lost\":0,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[-140.0,-140.0],\"silent\":false,"
            "\"ssrc\":null}\n"
            "{\"event\":\"stats\",\"channel\":6,\"packets\":0,\"lost\":0,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[-140.0,-140.0],\"silent\":false,"
            "\"ssrc\":null}\n"
            "{\"event\":\"total\",\"channel\":5,\"packets\":0,\"lost\":0,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[-140.0,-140.0],\"silent\":false,"
            "\"ssrc\":null}\n"
            "{\"event\":\"total\",\"channel\":6,\"packets\":0,\"lost\":0,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[-140.0,-140.0],\"silent\":false,"
            "\"ssrc\":null}\n");

  // As text, for a person.
  ASSERT_EQ(RunToEnd(kMonitor, {"--card", "lo", "--channel", "5", "--seconds", "1"}, &out, &err),
            0);
  EXPECT_NE(out.find("total channel 5: 0 packets, 0 lost"), std::string::npos) << out;
}

TEST(MonitorToolTest, BadArgumentsExitWith2AndSayWhy) {
  const std::vector<std::vector<std::string>> bad = {
      {"--card", "lo"},
      {"--card", "lo", "--channel", "0"},
      {"--card", "lo", "--channel", "5", "--seconds", "x"},
      {"--card", "no-such-card", "--channel", "5"},
  };
  for (const auto& args : bad) {
    std::string out, err;
    EXPECT_EQ(RunToEnd(kMonitor, args, &out, &err), 2) << args.back();
    EXPECT_NE(err.find("vqscw-monitor: "), std::string::npos) << err;
    EXPECT_EQ(out, "");
  }
  std::string out, err;
  EXPECT_EQ(RunToEnd(kMonitor, {"--help"}, &out, &err), 0);
  EXPECT_NE(out.find("--all"), std::string::npos);
}

TEST(MonitorToolTest, AllJoinsTheChannelsATerminalOffers) {
  ChildProcess terminal;
  ASSERT_TRUE(terminal.Start(kTerminal, {"--card", "lo", "--name", "Tones", "--source", "301:One",
                                         "--source", "302:Two", "--seconds", "20"}));
  ASSERT_TRUE(terminal.WaitForOutput("S002", 5s)) << terminal.Errors();
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(kMonitor, {"--card", "lo", "--all", "--json"}));
  // Both channels joined and counted for a whole second.
  const auto end = std::chrono::steady_clock::now() + 10s;
  std::vector<ordered_json> lines;
  for (;;) {
    lines = JsonLines(monitor.Output());
    const auto counted = [&](uint32_t channel) {
      for (const ordered_json& second : Events(lines, "stats", channel)) {
        if (second["packets"].get<uint64_t>() >= 900) return true;
      }
      return false;
    };
    if ((counted(301) && counted(302)) || std::chrono::steady_clock::now() > end) break;
    std::this_thread::sleep_for(50ms);
  }
  monitor.Signal(SIGINT);
  ASSERT_EQ(monitor.Wait(5s), 0) << monitor.Errors();
  lines = JsonLines(monitor.Output());
  for (const ordered_json& line : lines) ASSERT_TRUE(line.is_object()) << monitor.Output();
  for (uint32_t channel : {301u, 302u}) {
    EXPECT_EQ(Events(lines, "joined", channel).size(), 1u) << monitor.Output();
    const std::vector<ordered_json> totals = Events(lines, "total", channel);
    ASSERT_EQ(totals.size(), 1u) << monitor.Output();
    EXPECT_EQ(totals[0]["lost"], 0);
    EXPECT_EQ(totals[0]["duplicated"], 0);
    EXPECT_GT(totals[0]["packets"].get<uint64_t>(), 900u);
    EXPECT_TRUE(totals[0]["ssrc"].is_number());
  }
  // The spy's own announcements went to standard error, not among the JSON lines.
  EXPECT_NE(monitor.Errors().find("opened"), std::string::npos) << monitor.Errors();
}

}  // namespace
