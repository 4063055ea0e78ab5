#include "tools/terminal/terminal_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/common/arguments.h"

namespace vqscw::tools {
namespace {

ParseOutcome Parse(std::vector<std::string> args, TerminalOptions* options, std::string* error) {
  return ParseTerminalOptions(args, options, error);
}

TEST(ParseNumberTest, TakesWholeDecimalOrHexNumbersWithinTheLimit) {
  uint64_t value = 0;
  EXPECT_TRUE(ParseNumber("65535", 65535, &value));
  EXPECT_EQ(value, 65535u);
  EXPECT_TRUE(ParseNumber("0x1F", 65535, &value));
  EXPECT_EQ(value, 31u);
  EXPECT_TRUE(ParseNumber("0", 5, &value));
  EXPECT_EQ(value, 0u);
  for (const char* bad :
       {"65536", "", "-1", "+1", " 1", "12a", "0x", "0x1G", "99999999999999999999"}) {
    EXPECT_FALSE(ParseNumber(bad, 65535, &value)) << bad;
  }
  EXPECT_FALSE(ParseNumber("7", 5, &value));  // a single digit above the limit
}

TEST(TerminalOptionsTest, SourcesTakeTheirFieldsOrDefaultsInSlotOrder) {
  TerminalOptions options;
  std::string error;
  ASSERT_EQ(Parse({"--source", "101:Mic 1::3:Desk", "--source=7", "--source", "8:Bass:800",
                   "--hwid", "0x102", "--name", "Studio A", "--advv", "5", "--card", "lo"},
                  &options, &error),
            ParseOutcome::kRun)
      << error;
  ASSERT_EQ(options.sources.size(), 3u);
  EXPECT_EQ(options.sources[0].channel, 101u);
  EXPECT_EQ(options.sources[0].name, "Mic 1");
  EXPECT_EQ(options.sources[0].stream_id, 101u);
  EXPECT_EQ(options.sources[0].type, 3);
  EXPECT_EQ(options.sources[0].label, "Desk");
  EXPECT_EQ(options.sources[1].name, "Tone 1000 Hz");  // slot 2's tone
  EXPECT_EQ(options.sources[1].stream_id, 7u);
  EXPECT_EQ(options.sources[1].type, 2);
  EXPECT_EQ(options.sources[2].stream_id, 800u);
  EXPECT_EQ(options.hwid, 0x102);
  EXPECT_EQ(options.advv, 5u);
  EXPECT_EQ(options.card, "lo");

  LocalTerminal terminal;
  BuildLocalTerminal(options, 0x0100007F, &terminal);
  EXPECT_EQ(terminal.inip, 0x0100007Fu);
  EXPECT_EQ(terminal.hwid, 0x102);
  EXPECT_EQ(terminal.advv, 5u);
  EXPECT_STREQ(terminal.name, "Studio A");
  EXPECT_EQ(terminal.sources[0].psid, 101u);
  EXPECT_EQ(terminal.sources[0].fast, 3);
  EXPECT_STREQ(terminal.sources[0].name, "Mic 1");
  EXPECT_STREQ(terminal.sources[0].label, "Desk");
  EXPECT_EQ(terminal.sources[2].fsid, 800u);
  EXPECT_EQ(terminal.sources[3].psid, 0u);
}

TEST(TerminalOptionsTest, WithoutSourcesOneToneOnChannelOneAndANewVersionEachStart) {
  TerminalOptions options;
  std::string error;
  ASSERT_EQ(Parse({"--wav", "x.wav", "--no-stream", "--debug", "--seconds", "3"}, &options, &error),
            ParseOutcome::kRun);
  ASSERT_EQ(options.sources.size(), 1u);
  EXPECT_EQ(options.sources[0].channel, 1u);
  EXPECT_EQ(options.sources[0].name, "Source 1");
  EXPECT_FALSE(options.stream);
  EXPECT_TRUE(options.debug);
  EXPECT_EQ(options.seconds, 3u);
  EXPECT_GT(options.advv, 1600000000u);  // the start time
  EXPECT_FALSE(options.name.empty());    // the host name
}

TEST(TerminalOptionsTest, ConfigFileLinesAreOptionsAndLaterOptionsWin) {
  const std::string path = ::testing::TempDir() + "/terminal.conf";
  {
    std::ofstream file(path);
    file << "# a studio\n\n  name   Studio B  \nsource 10:Left mic\r\nsource 11\nhwid 9\n";
  }
  TerminalOptions options;
  std::string error;
  ASSERT_EQ(Parse({"--config", path, "--hwid", "10"}, &options, &error), ParseOutcome::kRun)
      << error;
  EXPECT_EQ(options.name, "Studio B");
  ASSERT_EQ(options.sources.size(), 2u);
  EXPECT_EQ(options.sources[0].name, "Left mic");
  EXPECT_EQ(options.hwid, 10);

  {
    std::ofstream file(path);
    file << "config " << path << "\n";
  }
  EXPECT_EQ(Parse({"--config", path}, &options, &error), ParseOutcome::kBadArguments);
  EXPECT_NE(error.find("unknown option --config"), std::string::npos) << error;
  std::remove(path.c_str());
}

TEST(TerminalOptionsTest, HelpWins) {
  TerminalOptions options;
  std::string error;
  EXPECT_EQ(Parse({"--hwid", "1", "--help"}, &options, &error), ParseOutcome::kHelp);
  EXPECT_EQ(Parse({"-h"}, &options, &error), ParseOutcome::kHelp);
  EXPECT_NE(TerminalUsage().find("S016 8000 Hz"), std::string::npos);
}

class BadTerminalOptionsTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadTerminalOptionsTest, AreRefusedWithAReason) {
  TerminalOptions options;
  std::string error;
  EXPECT_EQ(Parse(GetParam(), &options, &error), ParseOutcome::kBadArguments);
  EXPECT_FALSE(error.empty());
}

std::vector<std::string> SeventeenSources() {
  std::vector<std::string> args;
  for (int i = 1; i <= 17; ++i) {
    args.push_back("--source");
    args.push_back(std::to_string(i));
  }
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadTerminalOptionsTest,
    ::testing::Values(
        std::vector<std::string>{"--hwid", "70000"}, std::vector<std::string>{"--source", "0"},
        std::vector<std::string>{"--source", "32768"},
        std::vector<std::string>{"--source", "5:a:0"},
        std::vector<std::string>{"--source", "5:a:1:256"},
        std::vector<std::string>{"--source", "5", "--source", "5"},
        std::vector<std::string>{"--source", "1:a:2:2:label:extra"},
        std::vector<std::string>{"--source", "1:seventeen bytes!!"},
        std::vector<std::string>{"--source", "1:a:2:2:elevenbytes"},
        std::vector<std::string>{"--name", std::string(33, 'n')},
        std::vector<std::string>{"--seconds", "0"}, std::vector<std::string>{"--seconds", "ten"},
        std::vector<std::string>{"--card"}, std::vector<std::string>{"--debug=1"},
        std::vector<std::string>{"--bogus", "1"}, std::vector<std::string>{"stray"},
        std::vector<std::string>{"--config", "/nonexistent/terminal.conf"}, SeventeenSources()));

}  // namespace
}  // namespace vqscw::tools
