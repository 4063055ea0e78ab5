#include "vqscwlib/transport/send_msg.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/net_namespace.h"
#include "tests/support/transport_helpers.h"
#include "vqscwlib/message/dump.h"

namespace {

using namespace vqscw::testing;  // NOLINT

constexpr uint32_t kLoopback = 0x7F000001;

TEST(SendMsgTest, GroupsFrom239UpGetAnUnacknowledgedDatagramAndATrace) {
  const uint32_t group = 0xEFFF2A12;  // 239.255.42.18
  ScriptedPeer member("0.0.0.0", vqscw::testing::FreeUdpPort());
  ASSERT_EQ(member.socket().JoinGroup(htonl(group), htonl(kLoopback)), 0);
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  const NetAddress destination(group, member.Address().Port());

  char dump[256];
  msgdump = dump;
  cfg_msgdump = 1;
  ::testing::internal::CaptureStdout();
  const int result = SendMsg(&ReadRequest(), &endpoint, destination, /*trace=*/1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  cfg_msgdump = 0;
  msgdump = nullptr;
  EXPECT_EQ(result, 0);
  constexpr size_t kTimeLength = 19;  // "2006.04.18 20:47:40"
  ASSERT_GT(out.size(), kTimeLength);
  EXPECT_TRUE(std::regex_match(out.substr(0, kTimeLength),
                               std::regex(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d)")));
  EXPECT_EQ(out.substr(kTimeLength),
            " advertise to: 239.255.42.18:" + std::to_string(destination.Port()) +
                "\nDGRM [READ ADVD=01]\n");
  auto frame = member.Receive(1000);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->bytes[kFrameModeOffset], KIND_DATAGRAM);
  EXPECT_EQ(frame->bytes,
            Frame({.mode = KIND_DATAGRAM, .sequence = frame->Sequence()}, Body(ReadRequest())));
}

TEST(SendMsgTest, UnicastGetsAnAcknowledgedMessageAndFailuresAreReported) {
  ScriptedPeer peer;
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.Open(false, "127.0.0.1", 0));
  // Acknowledges the first message, repeats included (a loaded machine may answer after the
  // first retry), and refuses the second.
  std::thread answerer([&] {
    std::optional<uint32_t> first;
    for (int i = 0; i < 20; ++i) {
      auto d = peer.Receive(2000);
      if (!d) return;
      EXPECT_EQ(d->bytes[kFrameModeOffset], KIND_MESSAGE);
      if (!first) first = d->Sequence();
      const bool refuse = d->Sequence() != *first;
      peer.Send(d->source, Ack(refuse ? KIND_NAK : KIND_ACK, d->Sequence()));
      if (refuse) return;
    }
  });
  cfg_msgdump = 1;  // without a dump buffer: no dump, no crash
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(SendMsg(nullptr, &endpoint, peer.Address(), 1), 0);  // an empty message
  EXPECT_EQ(::testing::internal::GetCapturedStdout().find("DGRM"), std::string::npos);
  cfg_msgdump = 0;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(SendMsg(&ReadRequest(), &endpoint, peer.Address(), 0), -1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  answerer.join();
  EXPECT_TRUE(std::regex_match(
      err, std::regex("SendMsg\\(\\) to 127\\.0\\.0\\.1:" + std::to_string(peer.Address().Port()) +
                      " failed errno=-?\\d+\n")))
      << err;
  EXPECT_EQ(endpoint.LastError(), kEndpointRefused);
}

}  // namespace
