#include "tools/spy/spy_report.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "tools/spy/spy_testing.h"

namespace vqscw::tools {
namespace {

using vqscw::testing::FullAdvertisement;

class SpyReportTest : public ::testing::Test {
 protected:
  // The slot filled by a full advertisement of one source.
  const SpySource& Heard(const std::string& source_name, const std::string& terminal_name) {
    CMessage full =
        FullAdvertisement(258, htonl(0xC0A8020A), terminal_name, {{1, 101, 258, 2, source_name}});
    const SpySource* heard = nullptr;
    table_.Register(&full, [&](const SpySource& source) { heard = &source; });
    EXPECT_NE(heard, nullptr);
    return *heard;
  }
  HeardTable table_{nullptr};
};

TEST_F(SpyReportTest, SourceAsTextAndAsJson) {
  const SpySource& source = Heard("Mic 1", "Studio A");
  EXPECT_EQ(SourceLine(source, "", false),
            "source 101 \"Mic 1\" stream 258 type 2 from 192.168.2.10 hwid 258 \"Studio A\"");
  EXPECT_EQ(SourceLine(source, "/x/00258.sdp", false),
            "source 101 \"Mic 1\" stream 258 type 2 from 192.168.2.10 hwid 258 \"Studio A\" "
            "sdp /x/00258.sdp");
  EXPECT_EQ(SourceLine(source, "/x/00258.sdp", true),
            "{\"event\":\"source\",\"channel\":101,\"name\":\"Mic 1\",\"stream_id\":258,"
            "\"type\":2,\"terminal\":\"192.168.2.10\",\"hwid\":258,\"terminal_name\":"
            "\"Studio A\",\"sdp\":\"/x/00258.sdp\"}");
  const GoneTerminal gone{258, htonl(0xC0A8020A), "Studio A"};
  EXPECT_EQ(GoneLine(gone, false), "expired 192.168.2.10 hwid 258 \"Studio A\"");
  EXPECT_EQ(GoneLine(gone, true),
            "{\"event\":\"expired\",\"terminal\":\"192.168.2.10\",\"hwid\":258,"
            "\"terminal_name\":\"Studio A\"}");
}

// Names come from the network: they must neither break a JSON line nor send escape sequences to
// a console.
TEST_F(SpyReportTest, NamesFromTheNetworkCannotBreakALine) {
  EXPECT_EQ(JsonString("a\"b\\c\nd\x1b\xc3\xa9"), "\"a\\\"b\\\\c\\u000ad\\u001b\\u00c3\\u00a9\"");
  const SpySource& source = Heard("x\x1b[2Jy", "two\nlines");
  EXPECT_EQ(SourceLine(source, "", false),
            "source 101 \"x?[2Jy\" stream 258 type 2 from 192.168.2.10 hwid 258 \"two?lines\"");
  EXPECT_EQ(GoneLine({1, 0, "a\rb"}, false), "expired 0.0.0.0 hwid 1 \"a?b\"");
}

}  // namespace
}  // namespace vqscw::tools
