#include "tools/spy/spy_report.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "vqscwlib/protocol/source_table.h"

namespace vqscw::tools {
namespace {

// 2026-01-31 12:00:00.042 UTC.
const WallClock::time_point kTime = WallClock::time_point(std::chrono::milliseconds(1769860800042));

HeardSource Source(const std::string& name, const std::string& terminal_name) {
  HeardSource source;
  source.time = kTime;
  source.channel = 101;
  source.stream_id = 258;
  source.type = 2;
  source.inip = htonl(0xC0A8020A);
  source.hwid = 258;
  source.name = name;
  source.terminal_name = terminal_name;
  return source;
}

TEST(SpyReportTest, CopiesWhatTheTableHolds) {
  struct {
    SpyTerminal terminal;
    SpySource slot;
  } record{};
  record.terminal.hwid = 77;
  record.terminal.inip = htonl(0x7F000001);
  std::strcpy(record.terminal.name, "Desk");
  record.slot = {&record.terminal, 0x53303031, 105, 333, 3, "Line"};
  const HeardSource heard = CopySource(record.slot, kTime);
  EXPECT_EQ(SourceLine(heard, "", false),
            "source 105 \"Line\" stream 333 type 3 from 127.0.0.1 hwid 77 \"Desk\"");
  EXPECT_EQ(GoneLine(CopyTerminal(record.terminal, kTime), false),
            "expired 127.0.0.1 hwid 77 \"Desk\"");
}

// Names come from the network: a quote, a backslash or a control character in one must neither
// end the quoted name early nor reach a console as a control sequence.
TEST(SpyReportTest, TextQuotesAndEscapesNames) {
  EXPECT_EQ(QuotedName("Mic \"A\" \\ 1"), "\"Mic \\\"A\\\" \\\\ 1\"");
  EXPECT_EQ(QuotedName("x\x1b[2J\x7f"), "\"x\\x1b[2J\\x7f\"");
  EXPECT_EQ(QuotedName("two\nlines\r\ttab"), "\"two\\nlines\\r\\ttab\"");
  // UTF-8 stays; C1 controls, stray and overlong bytes do not.
  EXPECT_EQ(QuotedName("S\xc3\xa9"
                       "ance \xe2\x82\xac"),
            "\"S\xc3\xa9"
            "ance \xe2\x82\xac\"");
  EXPECT_EQ(QuotedName("\xc2\x9b"
                       "1m\xe9\xc0\xaf\xed\xa0\x80"),
            "\"\\xc2\\x9b1m\\xe9\\xc0\\xaf\\xed\\xa0\\x80\"");
  EXPECT_EQ(QuotedName("\xe2\x82"), "\"\\xe2\\x82\"");  // cut short at the end

  const std::string line = SourceLine(Source("a\"b", "D\\\n"), "/x/00258.sdp", false);
  EXPECT_EQ(line,
            "source 101 \"a\\\"b\" stream 258 type 2 from 192.168.2.10 hwid 258 \"D\\\\\\n\" "
            "sdp /x/00258.sdp");
  EXPECT_EQ(GoneLine({kTime, htonl(0xC0A8020A), 258, "Desk\r"}, false),
            "expired 192.168.2.10 hwid 258 \"Desk\\r\"");
}

TEST(SpyReportTest, JsonLinesCarryATimeAndAreValidWhateverTheNames) {
  const std::string line =
      SourceLine(Source("x\x1b[2J\"\\\xc3\xa9", "two\nlines\xe9"), "/x/00258.sdp", true);
  EXPECT_EQ(line,
            "{\"event\":\"source\",\"time\":\"2026-01-31T12:00:00.042Z\",\"channel\":101,"
            "\"name\":\"x\\u001b[2J\\\"\\\\\xc3\xa9\",\"stream_id\":258,\"type\":2,"
            "\"terminal\":\"192.168.2.10\",\"hwid\":258,\"terminal_name\":\"two\\nlines\xc3\xa9\","
            "\"sdp\":\"/x/00258.sdp\"}");
  EXPECT_EQ(nlohmann::json::parse(line)["terminal_name"], "two\nlines\xc3\xa9");
  const std::string gone = GoneLine({kTime, htonl(0xC0A8020A), 258, "\xff"}, true);
  EXPECT_EQ(gone,
            "{\"event\":\"expired\",\"time\":\"2026-01-31T12:00:00.042Z\","
            "\"terminal\":\"192.168.2.10\",\"hwid\":258,\"terminal_name\":\"\xc3\xbf\"}");
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(TimeText(WallClock::time_point{}), "1970-01-01T00:00:00.000Z");
}

TEST(SpyReportTest, SdpFileIsTheLibrarysForTheCopiedSource) {
  std::string dir = (std::filesystem::temp_directory_path() / "vqscw-spy-report-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string path = WriteSdpFile(dir, Source("Mic 1", "Desk"));
  EXPECT_EQ(path, dir + "/00258.sdp");
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_NE(text.str().find("s=Mic 1\r\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("c=IN IP4 239.128.1.2"), std::string::npos) << text.str();
  HeardSource hidden = Source("Data", "Desk");
  hidden.type = 1;  // no encoding: no file
  EXPECT_EQ(WriteSdpFile(dir, hidden), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vqscw::tools
