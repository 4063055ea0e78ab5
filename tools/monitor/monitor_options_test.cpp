#include "tools/monitor/monitor_options.h"

#include <gtest/gtest.h>

namespace vqscw::tools {
namespace {

CommandLineOutcome Parse(const std::vector<std::string>& args, MonitorOptions* options,
                         std::string* message = nullptr) {
  std::string ignored;
  return ParseMonitorOptions(args, options, message != nullptr ? message : &ignored);
}

TEST(MonitorOptionsTest, ChannelsCardSecondsAndJson) {
  MonitorOptions o;
  ASSERT_EQ(Parse({"--card", "lo", "--channel", "101", "--channel=7", "--channel", "101",
                   "--seconds", "30", "--json"},
                  &o),
            CommandLineOutcome::kRun);
  EXPECT_EQ(o.card, "lo");
  EXPECT_EQ(o.channels, (std::vector<uint32_t>{101, 7}));  // in order, each once
  EXPECT_EQ(o.seconds, 30u);
  EXPECT_TRUE(o.json);
  EXPECT_FALSE(o.all);

  MonitorOptions defaults;
  ASSERT_EQ(Parse({"--all"}, &defaults), CommandLineOutcome::kRun);
  EXPECT_TRUE(defaults.all);
  EXPECT_TRUE(defaults.channels.empty());
  EXPECT_EQ(defaults.seconds, 0u);
  EXPECT_EQ(defaults.card, "");
}

TEST(MonitorOptionsTest, BadArgumentsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {},                       // nothing to watch
      {"--card", "lo"},         // still nothing
      {"--channel", "0"},       // below the first channel
      {"--channel", "65536"},   // above the last group
      {"--channel", "12x"},     // not a number
      {"--channel"},            // no value
      {"--channel", "1", "2"},  // one value per option
      {"--channel", "1", "--seconds", "-1"},
      {"--channel", "1", "--seconds", "1.5"},
      {"--channel", "1", "--frobnicate"},  // unknown option
      {"--channel", "1", "extra"},
  };
  for (const auto& args : bad) {
    MonitorOptions o;
    std::string message;
    EXPECT_EQ(Parse(args, &o, &message), CommandLineOutcome::kBadArguments)
        << (args.empty() ? std::string("(none)") : args.back());
    EXPECT_FALSE(message.empty());
  }
  MonitorOptions o;
  std::string message;
  Parse({"--card", "lo"}, &o, &message);
  EXPECT_NE(message.find("--channel N or --all"), std::string::npos) << message;
  Parse({"--channel", "1", "--seconds", "1.5"}, &o, &message);
  EXPECT_NE(message.find("'1.5' is not a whole number"), std::string::npos) << message;
  Parse({"--channel", "70000"}, &o, &message);
  EXPECT_NE(message.find("1 to 65535"), std::string::npos) << message;
}

TEST(MonitorOptionsTest, HelpDescribesTheLines) {
  MonitorOptions o;
  std::string message;
  ASSERT_EQ(Parse({"--help"}, &o, &message), CommandLineOutcome::kHelp);
  EXPECT_NE(message.find("--channel"), std::string::npos);
  EXPECT_NE(message.find("\"event\":\"total\""), std::string::npos);
  EXPECT_NE(message.find("--version"), std::string::npos);
}

TEST(MonitorOptionsTest, VersionNamesTheProgramAndTheProjectVersion) {
  MonitorOptions o;
  std::string message;
  ASSERT_EQ(Parse({"--channel", "7", "--version"}, &o, &message), CommandLineOutcome::kVersion);
  EXPECT_EQ(message, "vqscw-monitor " VQSCW_VERSION "\n");
  EXPECT_EQ(ReportCommandLine("vqscw-monitor", CommandLineOutcome::kRun, message), -1);
}

}  // namespace
}  // namespace vqscw::tools
