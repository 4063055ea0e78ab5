#include "vqscwlib/platform/datagram_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tests/support/net_namespace.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/platform/event.h"

namespace vqscw {
namespace {

using testing::BoundPort;
using testing::FreeUdpPort;

// Addresses and ports in network order, as the socket takes them.
const uint32_t kLoopback = inet_addr("127.0.0.1");
// Groups of the tests' own, joined on loopback only.
const uint32_t kTestGroup = inet_addr("239.255.42.17");
const uint32_t kOtherGroup = inet_addr("239.255.42.18");

sockaddr_in At(uint32_t address, uint16_t host_port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(host_port);
  result.sin_addr.s_addr = address;
  return result;
}

// A sender bound to loopback, so that its multicast leaves through lo.
struct Sender {
  DatagramSocket socket;
  Sender() {
    EXPECT_EQ(socket.Open(), 0);
    EXPECT_EQ(socket.Bind(At(kLoopback, 0)), 0);
  }
  int Send(uint32_t address, uint16_t port, const void* data, uint32_t length) {
    return socket.SendTo(At(address, port), data, length);
  }
  int Send(uint32_t address, uint16_t port, const char* text) {
    return Send(address, port, text, static_cast<uint32_t>(std::strlen(text)));
  }
};

// Reads one datagram when one arrives within `ms`; the text read, or "" for none (or a
// datagram dropped by a listener).
std::string ReceiveText(DatagramSocket& socket, uint32_t ms, sockaddr_in* source = nullptr) {
  if (socket.WaitReadable(ms) != 1) return "";
  char buffer[256];
  const int n = socket.ReceiveFrom(buffer, sizeof buffer, source);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

// A socket bound to a port of its own on loopback.
struct Bound {
  DatagramSocket socket;
  Bound() {
    EXPECT_EQ(socket.Open(), 0);
    EXPECT_EQ(socket.Bind(At(kLoopback, 0)), 0);
  }
  uint16_t port() const { return BoundPort(socket.Handle()); }
};

TEST(DatagramSocketTest, BindsTheSystemRefusesLeaveTheSocketClosed) {
  DatagramSocket socket;
  ASSERT_EQ(socket.Open(), 0);
  EXPECT_EQ(socket.Bind(At(inet_addr("203.0.113.7"), 0)), -1);  // not an address of this machine
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.LastError(), EADDRNOTAVAIL);

  DatagramSocket listener;
  ASSERT_EQ(listener.Open(), 0);
  EXPECT_EQ(listener.BindGroupListener(At(inet_addr("203.0.113.7"), FreeUdpPort())), -1);
  EXPECT_FALSE(listener.IsOpen());
  EXPECT_EQ(listener.LastError(), EADDRNOTAVAIL);

  // An exclusive binding keeps the socket, and the port it holds is not shared.
  DatagramSocket holder;
  ASSERT_EQ(holder.Open(), 0);
  ASSERT_EQ(holder.BindExclusive(At(kLoopback, 0)), 0);
  DatagramSocket second;
  ASSERT_EQ(second.Open(), 0);
  EXPECT_EQ(second.BindExclusive(At(kLoopback, BoundPort(holder.Handle()))), -1);
  EXPECT_EQ(second.LastError(), EADDRINUSE);
  EXPECT_TRUE(second.IsOpen());
  EXPECT_EQ(second.WaitReadable(0), 0);
}

TEST(DatagramSocketTest, ReceiveSeesTheRealLengthOfALongDatagram) {
  Bound receiver;
  Sender sender;
  uint8_t data[100];
  std::memset(data, 0xAB, sizeof data);
  ASSERT_EQ(sender.Send(kLoopback, receiver.port(), data, sizeof data), 100);
  ASSERT_EQ(sender.Send(kLoopback, receiver.port(), data, 8), 8);

  uint8_t small[8];
  sockaddr_in source{};
  ASSERT_EQ(receiver.socket.WaitReadable(1000), 1);
  EXPECT_EQ(receiver.socket.ReceiveFrom(small, sizeof small, &source), -1);  // not taken as 8
  EXPECT_EQ(receiver.socket.LastError(), EMSGSIZE);
  ASSERT_EQ(receiver.socket.WaitReadable(1000), 1);  // the long one was consumed
  EXPECT_EQ(receiver.socket.ReceiveFrom(small, sizeof small, &source), 8);
  EXPECT_EQ(source.sin_addr.s_addr, kLoopback);
  EXPECT_EQ(ntohs(source.sin_port), BoundPort(sender.socket.Handle()));
}

TEST(DatagramSocketTest, WaitOnAClosedSocketFails) {
  DatagramSocket socket;
  EXPECT_EQ(socket.WaitReadable(0), -1);
  EXPECT_EQ(socket.LastError(), EBADF);
  EXPECT_EQ(socket.Close(), -1);
}

TEST(GroupListenerTest, TwoListenersOnOneCardAndPortBothHearTheGroup) {
  const uint16_t port = FreeUdpPort();
  DatagramSocket first, second;
  for (DatagramSocket* listener : {&first, &second}) {
    ASSERT_EQ(listener->Open(), 0);
    ASSERT_EQ(listener->BindGroupListener(At(kLoopback, port)), 0);
    ASSERT_EQ(listener->JoinGroup(kTestGroup, kLoopback), 0);
  }
  Sender sender;
  ASSERT_EQ(sender.Send(kTestGroup, port, "hello group"), 11);
  EXPECT_EQ(ReceiveText(first, 1000), "hello group");
  EXPECT_EQ(ReceiveText(second, 1000), "hello group");
}

TEST(GroupListenerTest, DropsUnicastForOtherAddressesAndAnswersFromTheCard) {
  const uint16_t port = FreeUdpPort();
  DatagramSocket listener;
  ASSERT_EQ(listener.Open(), 0);
  ASSERT_EQ(listener.BindGroupListener(At(inet_addr("127.0.0.2"), port)), 0);
  Sender sender;
  ASSERT_GT(sender.Send(inet_addr("127.0.0.3"), port, "elsewhere"), 0);  // not the card
  ASSERT_EQ(listener.WaitReadable(1000), 1);
  char buffer[32];
  sockaddr_in source = At(inet_addr("1.2.3.4"), 1);
  EXPECT_EQ(listener.ReceiveFrom(buffer, sizeof buffer, &source), 0);
  EXPECT_EQ(source.sin_addr.s_addr, inet_addr("1.2.3.4"));  // untouched for a dropped datagram

  ASSERT_GT(sender.Send(inet_addr("127.0.0.2"), port, "for the card"), 0);
  EXPECT_EQ(ReceiveText(listener, 1000, &source), "for the card");
  EXPECT_EQ(source.sin_addr.s_addr, kLoopback);

  // The answer leaves from the card's address, as from a socket bound to it.
  ASSERT_EQ(listener.SendTo(source, "reply", 5), 5);
  sockaddr_in reply_source{};
  EXPECT_EQ(ReceiveText(sender.socket, 1000, &reply_source), "reply");
  EXPECT_EQ(reply_source.sin_addr.s_addr, inet_addr("127.0.0.2"));
  EXPECT_EQ(ntohs(reply_source.sin_port), port);
}

// Two cards in a namespace of the test's own: each listener hears the group only from its card,
// although both joined the same group on the same port. Runs in a child process.
void ListenOnTwoCards() {
  CHILD_CHECK(testing::EnterFreshNetNamespace({
      "ip link add gla type veth peer name glb",
      "ip addr add 10.71.0.1/24 dev gla",
      "ip addr add 10.72.0.1/24 dev glb",
      "ip link set gla up",
      "ip link set glb up",
  }));
  const uint16_t port = 4001;
  const uint32_t card_a = inet_addr("10.71.0.1");
  const uint32_t card_b = inet_addr("10.72.0.1");
  DatagramSocket on_a;
  DatagramSocket on_b;
  CHILD_CHECK(on_a.Open() == 0 && on_a.BindGroupListener(At(card_a, port)) == 0);
  CHILD_CHECK(on_a.JoinGroup(kTestGroup, card_a) == 0);
  CHILD_CHECK(on_b.Open() == 0 && on_b.BindGroupListener(At(card_b, port)) == 0);
  CHILD_CHECK(on_b.JoinGroup(kTestGroup, card_b) == 0);

  DatagramSocket sender_a;
  DatagramSocket sender_b;
  CHILD_CHECK(sender_a.Open() == 0 && sender_a.Bind(At(card_a, 0)) == 0);
  CHILD_CHECK(sender_b.Open() == 0 && sender_b.Bind(At(card_b, 0)) == 0);
  const sockaddr_in group = At(kTestGroup, port);
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

// Batch receives on group sockets.
class GroupBatchTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kBufferBytes = 64;

  GroupBatchTest() {
    for (int i = 0; i < DatagramBatch::kCapacity; ++i) buffers_[i] = storage_[i];
  }
  // Waits for the group socket, then takes what it holds.
  int Take(DatagramSocket* socket, int count = DatagramBatch::kCapacity + 8) {
    if (socket->WaitReadable(1000) != 1) return -2;
    return socket->ReceiveBatch(&batch_, buffers_, kBufferBytes, count);
  }

  const uint16_t port_ = FreeUdpPort();
  Sender sender_;
  DatagramBatch batch_;
  uint8_t storage_[DatagramBatch::kCapacity][kBufferBytes] = {};
  uint8_t* buffers_[DatagramBatch::kCapacity] = {};
};

TEST_F(GroupBatchTest, TakesUpToACapacityOfDatagramsAndFlagsTheLongOnes) {
  DatagramSocket socket;
  ASSERT_EQ(socket.OpenGroup(kTestGroup, htons(port_), kLoopback), 0);
  EXPECT_EQ(socket.ReceiveBatch(&batch_, buffers_, kBufferBytes, 4), 0);  // none waiting

  const uint8_t long_one[kBufferBytes + 10] = {1, 2, 3};
  ASSERT_EQ(sender_.Send(kTestGroup, port_, "first"), 5);
  ASSERT_EQ(sender_.Send(kTestGroup, port_, long_one, sizeof long_one), kBufferBytes + 10);
  ASSERT_EQ(sender_.Send(kTestGroup, port_, "third!"), 6);
  ASSERT_EQ(Take(&socket), 3);
  EXPECT_EQ(batch_.length(0), 5u);
  EXPECT_FALSE(batch_.truncated(0));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(storage_[0]), 5), "first");
  EXPECT_EQ(batch_.length(1), kBufferBytes);  // what fit
  EXPECT_TRUE(batch_.truncated(1));
  EXPECT_EQ(storage_[1][2], 3);
  EXPECT_EQ(batch_.length(2), 6u);
  EXPECT_FALSE(batch_.truncated(2));

  // More than a batch holds: the rest waits for the next receive.
  const int more = DatagramBatch::kCapacity + 5;
  for (int i = 0; i < more; ++i) {
    const uint8_t number = static_cast<uint8_t>(i);
    ASSERT_EQ(sender_.Send(kTestGroup, port_, &number, 1), 1);
  }
  ASSERT_EQ(Take(&socket), DatagramBatch::kCapacity);
  for (int i = 0; i < DatagramBatch::kCapacity; ++i) EXPECT_EQ(storage_[i][0], i);
  ASSERT_EQ(Take(&socket), more - DatagramBatch::kCapacity);
  EXPECT_EQ(storage_[0][0], DatagramBatch::kCapacity);
}

TEST_F(GroupBatchTest, HearsOnlyItsOwnGroupOnThePort) {
  DatagramSocket own;
  DatagramSocket other;
  ASSERT_EQ(own.OpenGroup(kTestGroup, htons(port_), kLoopback), 0);
  ASSERT_EQ(other.OpenGroup(kOtherGroup, htons(port_), kLoopback), 0);
  ASSERT_EQ(sender_.Send(kOtherGroup, port_, "other"), 5);
  ASSERT_EQ(sender_.Send(kTestGroup, port_, "own"), 3);
  ASSERT_EQ(Take(&own), 1);
  EXPECT_EQ(batch_.length(0), 3u);
  ASSERT_EQ(Take(&other), 1);
  EXPECT_EQ(batch_.length(0), 5u);
}

TEST_F(GroupBatchTest, ArrivalIsTheKernelsStampOnTheMonotonicClock) {
  FakeClock clock(5000);  // the monotonic clock reads 5000 ms
  DatagramSocket socket;
  ASSERT_EQ(socket.OpenGroup(kTestGroup, htons(port_), kLoopback), 0);
  const uint64_t now_us = 5000 * 1000;
  // The kernel turns its receive stamps on a moment after the first socket asks for them; until
  // then a datagram is stamped when it is read. So a few tries.
  uint64_t arrival_us = now_us;
  for (int attempt = 0; attempt < 20 && arrival_us > now_us - 25 * 1000; ++attempt) {
    ASSERT_EQ(sender_.Send(kTestGroup, port_, "stamped"), 7);
    ASSERT_EQ(socket.WaitReadable(1000), 1);
    // The datagram waits a while before it is read: its arrival lies that much before now.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(socket.ReceiveBatch(&batch_, buffers_, kBufferBytes, 1), 1);
    arrival_us = batch_.arrival_us(0);
    EXPECT_LE(arrival_us, now_us);
  }
  EXPECT_LE(arrival_us, now_us - 25 * 1000);
  EXPECT_GT(arrival_us, now_us - 5 * 1000 * 1000);
}

TEST_F(GroupBatchTest, AGroupThatCannotBeJoinedLeavesNothingOpen) {
  DatagramSocket socket;
  EXPECT_EQ(socket.OpenGroup(kTestGroup, htons(port_), inet_addr("192.0.2.77")), -1);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_NE(socket.LastError(), 0);
  // The port is free again, also for a socket that does not share it.
  DatagramSocket exclusive;
  ASSERT_EQ(exclusive.Open(), 0);
  EXPECT_EQ(exclusive.BindExclusive(At(htonl(INADDR_ANY), port_)), 0);
}

// The wait over several sockets and a stop event.
class SocketWaitTest : public ::testing::Test {
 protected:
  Bound sockets_[3];
  Sender sender_;
  Event stop_{Event::ResetMode::kManual};
};

TEST_F(SocketWaitTest, ReportsWhichSocketIsReadable) {
  SocketWait wait(&stop_);
  for (Bound& bound : sockets_) wait.Add(&bound.socket);
  ASSERT_EQ(sender_.Send(kLoopback, sockets_[1].port(), "one"), 3);
  ASSERT_EQ(wait.Wait(1000), WaitResult::kReady);
  EXPECT_FALSE(wait.stopped());
  EXPECT_FALSE(wait.readable(0));
  EXPECT_TRUE(wait.readable(1));
  EXPECT_FALSE(wait.readable(2));
  EXPECT_EQ(ReceiveText(sockets_[1].socket, 0), "one");

  // A new set keeps the stop event; the indexes follow the order of adding.
  wait.Clear();
  wait.Add(&sockets_[2].socket);
  wait.Add(&sockets_[0].socket);
  ASSERT_EQ(sender_.Send(kLoopback, sockets_[0].port(), "zero"), 4);
  ASSERT_EQ(wait.Wait(1000), WaitResult::kReady);
  EXPECT_FALSE(wait.readable(0));
  EXPECT_TRUE(wait.readable(1));
  EXPECT_EQ(ReceiveText(sockets_[0].socket, 0), "zero");
}

TEST_F(SocketWaitTest, StopEventEndsTheWaitAlsoWhileASocketIsReadable) {
  SocketWait wait(&stop_);
  wait.Add(&sockets_[0].socket);
  std::thread setter([this] { stop_.Set(); });
  EXPECT_EQ(wait.Wait(SocketWait::kForever), WaitResult::kReady);
  setter.join();
  EXPECT_TRUE(wait.stopped());
  EXPECT_FALSE(wait.readable(0));

  ASSERT_EQ(sender_.Send(kLoopback, sockets_[0].port(), "data"), 4);
  ASSERT_EQ(sockets_[0].socket.WaitReadable(1000), 1);
  EXPECT_EQ(wait.Wait(0), WaitResult::kReady);
  EXPECT_TRUE(wait.stopped());
  EXPECT_TRUE(wait.readable(0));
}

TEST_F(SocketWaitTest, TimesOutWhenNothingComes) {
  SocketWait wait(&stop_);
  for (Bound& bound : sockets_) wait.Add(&bound.socket);
  EXPECT_EQ(wait.Wait(0), WaitResult::kTimeout);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wait.Wait(20), WaitResult::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(19));
  EXPECT_FALSE(wait.stopped());
  EXPECT_FALSE(wait.readable(0));

  // A wait on nothing at all is a rest of the time-out.
  SocketWait rest;
  EXPECT_EQ(rest.Wait(5), WaitResult::kTimeout);
}

TEST_F(SocketWaitTest, WaitsForEventsBesideSockets) {
  Event event(Event::ResetMode::kAuto);
  SocketWait wait;  // no stop event
  wait.Add(&sockets_[0].socket);
  wait.Add(&event);
  event.Set();
  ASSERT_EQ(wait.Wait(1000), WaitResult::kReady);
  EXPECT_FALSE(wait.stopped());
  EXPECT_FALSE(wait.readable(0));
  EXPECT_TRUE(wait.readable(1));
  EXPECT_TRUE(event.Wait(0));  // still to be claimed
}

TEST_F(SocketWaitTest, TheSocketStaysKnownReadableUntilItIsReceivedFrom) {
  DatagramSocket& socket = sockets_[0].socket;
  SocketWait wait;
  wait.Add(&socket);
  ASSERT_EQ(sender_.Send(kLoopback, sockets_[0].port(), "x"), 1);
  ASSERT_EQ(wait.Wait(1000), WaitResult::kReady);
  // Taken behind the socket's back: the wait's finding still stands, without asking the system.
  char byte;
  ASSERT_EQ(recv(socket.Handle(), &byte, 1, 0), 1);
  EXPECT_EQ(socket.WaitReadable(0), 1);

  // A receive ends it.
  ASSERT_EQ(sender_.Send(kLoopback, sockets_[0].port(), "y"), 1);
  ASSERT_EQ(wait.Wait(1000), WaitResult::kReady);
  EXPECT_EQ(ReceiveText(socket, 0), "y");
  EXPECT_EQ(socket.WaitReadable(0), 0);
}

std::atomic<int> signals_seen{0};
void CountSignal(int) { signals_seen.fetch_add(1); }

TEST(SocketWaitSignalTest, ASignalEndsTheWaitButNotWaitReadable) {
  struct sigaction action {};
  action.sa_handler = CountSignal;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  const pthread_t waiter = pthread_self();
  std::atomic<bool> done{false};
  // Signals the waiting thread until the test is done with it.
  std::thread signaller([&] {
    while (!done.load()) {
      pthread_kill(waiter, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  SocketWait wait;
  EXPECT_EQ(wait.Wait(SocketWait::kForever), WaitResult::kInterrupted);

  // WaitReadable waits on through the signals for the whole of its time-out.
  Bound bound;
  const int seen = signals_seen.load();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bound.socket.WaitReadable(40), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(39));
  EXPECT_GT(signals_seen.load(), seen);

  done = true;
  signaller.join();
  sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace vqscw
