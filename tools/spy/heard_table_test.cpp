#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/spy/heard_table.h"
#include "tools/spy/spy_report.h"
#include "vqscwlib/protocol/source_table_testing.h"

namespace vqscw::tools {
namespace {

using AdvertisedSource = vqscw::testing::TestSource;

// A full advertisement of terminal `hwid` at `inip` (network order) named `name`.
CMessage FullAdvertisement(uint16_t hwid, uint32_t inip, const std::string& name,
                           const std::vector<AdvertisedSource>& sources) {
  const vqscw::testing::TestTerminal terminal{hwid, inip, 1, static_cast<uint16_t>(sources.size()),
                                              name};
  return vqscw::testing::Advertisement(kAdvertisementFull, terminal, sources);
}

TEST(HeardTableTest, ReportsEachSourceOnceAndEachTerminalTheLibraryDrops) {
  HeardTable table(nullptr);  // full advertisements need no requests
  const uint32_t inip = htonl(0x0A000005);
  CMessage first = FullAdvertisement(7, inip, "Studio A",
                                     {{1, 101, 201, 2, "Mic 1"}, {2, 102, 202, 3, "Mic 2"}});
  CMessage other = FullAdvertisement(8, inip, "Studio B", {{1, 301, 301, 2, "Line"}});
  std::vector<std::string> heard;
  const auto on_source = [&](const SpySource& source) {
    heard.push_back(std::to_string(source.psid) + " " + source.name + " " + source.terminal->name);
  };
  for (CMessage* message : {&first, &other, &first}) table.Register(message, on_source);
  EXPECT_EQ(heard, (std::vector<std::string>{"101 Mic 1 Studio A", "102 Mic 2 Studio A",
                                             "301 Line Studio B"}));

  std::vector<GoneTerminal> gone;
  const auto on_gone = [&](const GoneTerminal& terminal) { gone.push_back(terminal); };
  table.Collect(on_gone);
  EXPECT_TRUE(gone.empty());
  SpyTerminal* silent = table.first()->hwid == 7 ? table.first() : table.first()->next;
  silent->expiry -= 40000;  // terminal 7 has been silent too long
  table.Collect(on_gone);
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(gone[0].hwid, 7);
  EXPECT_EQ(gone[0].inip, inip);
  EXPECT_EQ(gone[0].name, "Studio A");
  ASSERT_NE(table.first(), nullptr);
  EXPECT_EQ(table.first()->hwid, 8);
  table.ReleaseAll();
  EXPECT_EQ(table.first(), nullptr);
}

// Names come from the network: they must neither break a JSON line nor send control sequences
// to a console.
TEST(SpyReportTest, NamesFromTheNetworkCannotBreakALine) {
  HeardTable table(nullptr);
  CMessage full = FullAdvertisement(258, htonl(0xC0A8020A), "two\nlines",
                                    {{1, 101, 258, 2, "x\x1b[2J\"\\\xc3\xa9"}});
  std::string text, json;
  table.Register(&full, [&](const SpySource& source) {
    text = SourceLine(source, "", false);
    json = SourceLine(source, "/x/00258.sdp", true);
  });
  EXPECT_EQ(text,
            "source 101 \"x?[2J\"\\\xc3\xa9\" stream 258 type 2 from 192.168.2.10 hwid 258 "
            "\"two?lines\"");
  EXPECT_EQ(json,
            "{\"event\":\"source\",\"channel\":101,\"name\":\"x\\u001b[2J\\\"\\\\\\u00c3\\u00a9\","
            "\"stream_id\":258,\"type\":2,\"terminal\":\"192.168.2.10\",\"hwid\":258,"
            "\"terminal_name\":\"two\\u000alines\",\"sdp\":\"/x/00258.sdp\"}");
  const GoneTerminal gone{258, htonl(0xC0A8020A), "Desk\r"};
  EXPECT_EQ(GoneLine(gone, false), "expired 192.168.2.10 hwid 258 \"Desk?\"");
  EXPECT_EQ(GoneLine(gone, true),
            "{\"event\":\"expired\",\"terminal\":\"192.168.2.10\","
            "\"hwid\":258,\"terminal_name\":\"Desk\\u000d\"}");
}

}  // namespace
}  // namespace vqscw::tools
