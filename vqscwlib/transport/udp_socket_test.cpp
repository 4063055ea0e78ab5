#include "vqscwlib/transport/udp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/support/net_namespace.h"

namespace {

using vqscw::testing::BoundPort;
using vqscw::testing::FreeUdpPort;

constexpr uint32_t kLoopback = 0x7F000001;  // host order
// A group of the tests' own, joined on loopback only.
const uint32_t kTestGroup = inet_addr("239.255.42.17");
const uint32_t kLoopbackInterface = inet_addr("127.0.0.1");

// A sender bound to loopback, so that its multicast leaves through lo.
struct Sender {
  CUdpSocket socket;
  Sender() {
    EXPECT_EQ(socket.Create(), 0);
    EXPECT_EQ(socket.Bind(0, "127.0.0.1"), 0);
  }
  int Send(uint32_t address, uint16_t port, const void* data, uint32_t length) {
    CSockAddr to;
    to.Set(address, port);
    return socket.SendTo(to, data, length);
  }
  int SendGroup(uint16_t port, const char* text) {
    return Send(ntohl(kTestGroup), port, text, static_cast<uint32_t>(std::strlen(text)));
  }
};

// Reads one datagram when one arrives within `ms`; the text read, or "" for none (or a
// datagram dropped by a listener).
std::string ReceiveText(CUdpSocket& socket, uint32_t ms, CSockAddr* source = nullptr) {
  if (socket.WaitReadable(ms) != 1) return "";
  char buffer[256];
  CSockAddr from;
  const int n = socket.ReceiveFrom(source != nullptr ? source : &from, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

TEST(UdpSocketTest, FailedBindsCloseTheSocketOnlyWhenTheSystemRefused) {
  CUdpSocket socket;
  ASSERT_EQ(socket.Create(), 0);
  EXPECT_EQ(socket.Bind(0, ""), -1);  // no name: nothing was asked of the system
  EXPECT_TRUE(socket.IsOpen());
  EXPECT_EQ(socket.Bind(0, "203.0.113.7"), -1);  // not an address of this machine
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.LastError(), EADDRNOTAVAIL);

  CUdpSocket listener;
  ASSERT_EQ(listener.Create(), 0);
  EXPECT_EQ(listener.BindGroupListener(FreeUdpPort(), "203.0.113.7"), -1);
  EXPECT_FALSE(listener.IsOpen());
}

TEST(UdpSocketTest, ReceiveSeesTheRealLengthOfALongDatagram) {
  CUdpSocket receiver;
  ASSERT_EQ(receiver.Create(), 0);
  ASSERT_EQ(receiver.Bind(0, "127.0.0.1"), 0);
  Sender sender;
  uint8_t data[100];
  std::memset(data, 0xAB, sizeof data);
  ASSERT_EQ(sender.Send(kLoopback, BoundPort(receiver.Handle()), data, sizeof data), 100);
  ASSERT_EQ(sender.Send(kLoopback, BoundPort(receiver.Handle()), data, 8), 8);

  uint8_t small[8];
  CSockAddr source;
  ASSERT_EQ(receiver.WaitReadable(1000), 1);
  EXPECT_EQ(receiver.ReceiveFrom(&source, small, sizeof small), -1);  // not taken as 8 bytes
  EXPECT_EQ(receiver.LastError(), EMSGSIZE);
  ASSERT_EQ(receiver.WaitReadable(1000), 1);  // the long one was consumed
  EXPECT_EQ(receiver.ReceiveFrom(&source, small, sizeof small), 8);
  EXPECT_EQ(source.Address(), kLoopback);
  EXPECT_EQ(source.Port(), BoundPort(sender.socket.Handle()));
}

// The card as text, with the port after its colon; senders come back as socket addresses.
TEST(UdpSocketTest, GroupListenerTakesItsCardAsTextAndAnswersSenders) {
  const uint16_t port = FreeUdpPort();
  CUdpSocket listener;
  ASSERT_EQ(listener.Create(), 0);
  const std::string card = "127.0.0.2:" + std::to_string(port);
  ASSERT_EQ(listener.BindGroupListener(1, card.c_str()), 0);
  ASSERT_EQ(BoundPort(listener.Handle()), port);
  ASSERT_EQ(listener.JoinGroup(kTestGroup, kLoopbackInterface), 0);
  Sender sender;
  ASSERT_EQ(sender.SendGroup(port, "hello group"), 11);
  CSockAddr source;
  EXPECT_EQ(ReceiveText(listener, 1000, &source), "hello group");
  EXPECT_EQ(source.Address(), kLoopback);
  EXPECT_EQ(source.Port(), BoundPort(sender.socket.Handle()));

  ASSERT_EQ(listener.SendTo(source, "reply", 5), 5);
  CSockAddr reply_source;
  EXPECT_EQ(ReceiveText(sender.socket, 1000, &reply_source), "reply");
  EXPECT_EQ(reply_source.Address(), 0x7F000002u);
  EXPECT_EQ(reply_source.Port(), port);
}

}  // namespace
