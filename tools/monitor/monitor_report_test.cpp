#include "tools/monitor/monitor_report.h"

#include <gtest/gtest.h>

namespace vqscw::tools {
namespace {

ChannelReport Sample() {
  ChannelReport r;
  r.channel = 101;
  r.packets = 2990;
  r.lost = 30;
  r.duplicated = 20;
  r.reordered = 10;
  r.jitter_ms = 0.0605468;
  r.peak_left_dbfs = -12.0412;
  r.peak_right_dbfs = -140.0;
  r.has_ssrc = true;
  r.ssrc = 0x5EED1234;
  return r;
}

TEST(MonitorReportTest, JsonLinesHaveTheFieldsInOrder) {
  EXPECT_EQ(JsonReport(ReportKind::kTotal, Sample()),
            "{\"event\":\"total\",\"channel\":101,\"packets\":2990,\"lost\":30,\"duplicated\":20,"
            "\"reordered\":10,\"jitter_ms\":0.061,\"peak_dbfs\":[-12.0,-140.0],\"silent\":false,"
            "\"ssrc\":1592594996}");
  ChannelReport quiet;
  quiet.channel = 7;
  quiet.lost = -1;  // a packet counted lost the second before arrived late
  quiet.silent = true;
  quiet.peak_left_dbfs = -0.04;
  quiet.peak_right_dbfs = -0.0001;
  EXPECT_EQ(JsonReport(ReportKind::kSecond, quiet),
            "{\"event\":\"stats\",\"channel\":7,\"packets\":0,\"lost\":-1,\"duplicated\":0,"
            "\"reordered\":0,\"jitter_ms\":0.0,\"peak_dbfs\":[0.0,0.0],\"silent\":true,"
            "\"ssrc\":null}");
}

TEST(MonitorReportTest, TextLinesSayTheSame) {
  EXPECT_EQ(TextReport(ReportKind::kTotal, Sample()),
            "total channel 101: 2990 packets, 30 lost, 20 duplicated, 10 reordered, jitter 0.061 "
            "ms, peak -12.0/-140.0 dBFS, SSRC 5EED1234");
  ChannelReport quiet;
  quiet.channel = 7;
  quiet.silent = true;
  EXPECT_EQ(TextReport(ReportKind::kSecond, quiet),
            "      channel 7: 0 packets, 0 lost, 0 duplicated, 0 reordered, jitter 0.000 ms, peak "
            "0.0/0.0 dBFS, silent, SSRC -");
}

TEST(MonitorReportTest, ChannelEvents) {
  EXPECT_EQ(JsonChannelEvent(true, 5), "{\"event\":\"joined\",\"channel\":5}");
  EXPECT_EQ(JsonChannelEvent(false, 5), "{\"event\":\"left\",\"channel\":5}");
  EXPECT_EQ(TextChannelEvent(false, 5), "left channel 5");
}

}  // namespace
}  // namespace vqscw::tools
