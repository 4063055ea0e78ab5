#include "vqscwlib/transport/udp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/net_namespace.h"

namespace {

using vqscw::testing::FreeUdpPort;

constexpr uint32_t kLoopback = 0x7F000001;  // host order
// A group of the tests' own, joined on loopback only.
const uint32_t kTestGroup = inet_addr("239.255.42.17");
const uint32_t kLoopbackInterface = inet_addr("127.0.0.1");

uint16_t LocalPort(const CUdpSocket& socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(socket.Handle(), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

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
  ASSERT_EQ(sender.Send(kLoopback, LocalPort(receiver), data, sizeof data), 100);
  ASSERT_EQ(sender.Send(kLoopback, LocalPort(receiver), data, 8), 8);

  uint8_t small[8];
  CSockAddr source;
  ASSERT_EQ(receiver.WaitReadable(1000), 1);
  EXPECT_EQ(receiver.ReceiveFrom(&source, small, sizeof small), -1);  // not taken as 8 bytes
  EXPECT_EQ(receiver.LastError(), EMSGSIZE);
  ASSERT_EQ(receiver.WaitReadable(1000), 1);  // the long one was consumed
  EXPECT_EQ(receiver.ReceiveFrom(&source, small, sizeof small), 8);
  EXPECT_EQ(source.Address(), kLoopback);
  EXPECT_EQ(source.Port(), LocalPort(sender.socket));
}

TEST(GroupListenerTest, TwoListenersOnOneCardAndPortBothHearTheGroup) {
  const uint16_t port = FreeUdpPort();
  CUdpSocket first, second;
  for (CUdpSocket* listener : {&first, &second}) {
    ASSERT_EQ(listener->Create(), 0);
    ASSERT_EQ(listener->BindGroupListener(port, "127.0.0.1"), 0);
    ASSERT_EQ(listener->JoinGroup(kTestGroup, kLoopbackInterface), 0);
  }
  Sender sender;
  ASSERT_EQ(sender.SendGroup(port, "hello group"), 11);
  EXPECT_EQ(ReceiveText(first, 1000), "hello group");
  EXPECT_EQ(ReceiveText(second, 1000), "hello group");
}

TEST(GroupListenerTest, DropsUnicastForOtherAddressesAndAnswersFromTheCard) {
  const uint16_t port = FreeUdpPort();
  CUdpSocket listener;
  ASSERT_EQ(listener.Create(), 0);
  ASSERT_EQ(listener.BindGroupListener(port, "127.0.0.2"), 0);
  Sender sender;
  ASSERT_GT(sender.Send(0x7F000003, port, "elsewhere", 9), 0);  // 127.0.0.3: not the card
  ASSERT_EQ(listener.WaitReadable(1000), 1);
  char buffer[32];
  CSockAddr source;
  source.Set(0x01020304, 1);
  EXPECT_EQ(listener.ReceiveFrom(&source, buffer, sizeof buffer), 0);
  EXPECT_EQ(source.Address(), 0x01020304u);  // untouched for a dropped datagram

  ASSERT_GT(sender.Send(0x7F000002, port, "for the card", 12), 0);
  EXPECT_EQ(ReceiveText(listener, 1000, &source), "for the card");
  EXPECT_EQ(source.Address(), kLoopback);

  // The answer leaves from the card's address, as from a socket bound to it.
  ASSERT_EQ(listener.SendTo(source, "reply", 5), 5);
  CSockAddr reply_source;
  EXPECT_EQ(ReceiveText(sender.socket, 1000, &reply_source), "reply");
  EXPECT_EQ(reply_source.Address(), 0x7F000002u);
  EXPECT_EQ(reply_source.Port(), port);
}

// Two cards in a namespace of the test's own: each listener hears the group only from its card,
// although both joined the same group on the same port. Runs in a child process.
void ListenOnTwoCards() {
  CHILD_CHECK(vqscw::testing::EnterFreshNetNamespace({
      "ip link add gla type veth peer name glb",
      "ip addr add 10.71.0.1/24 dev gla",
      "ip addr add 10.72.0.1/24 dev glb",
      "ip link set gla up",
      "ip link set glb up",
  }));
  const uint16_t port = 4001;
  CUdpSocket on_a;
  CUdpSocket on_b;
  CHILD_CHECK(on_a.Create() == 0 && on_a.BindGroupListener(port, "10.71.0.1") == 0);
  CHILD_CHECK(on_a.JoinGroup(kTestGroup, inet_addr("10.71.0.1")) == 0);
  CHILD_CHECK(on_b.Create() == 0 && on_b.BindGroupListener(port, "10.72.0.1") == 0);
  CHILD_CHECK(on_b.JoinGroup(kTestGroup, inet_addr("10.72.0.1")) == 0);

  CUdpSocket sender_a;
  CUdpSocket sender_b;
  CHILD_CHECK(sender_a.Create() == 0 && sender_a.Bind(0, "10.71.0.1") == 0);
  CHILD_CHECK(sender_b.Create() == 0 && sender_b.Bind(0, "10.72.0.1") == 0);
  CSockAddr group;
  group.Set(ntohl(kTestGroup), port);
  CHILD_CHECK(sender_a.SendTo(group, "from a", 6) == 6);
  CHILD_CHECK(ReceiveText(on_a, 1000) == "from a");
  CHILD_CHECK(on_b.WaitReadable(200) == 0);
  CHILD_CHECK(sender_b.SendTo(group, "from b", 6) == 6);
  CHILD_CHECK(ReceiveText(on_b, 1000) == "from b");
  CHILD_CHECK(on_a.WaitReadable(200) == 0);
  std::_Exit(0);
}

TEST(GroupListenerTest, KeepsOtherCardsGroupTrafficOut) {
  EXPECT_EXIT(ListenOnTwoCards(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
