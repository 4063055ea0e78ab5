#include "vqscwlib/transport/message_endpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "tests/support/net_namespace.h"
#include "tests/support/transport_helpers.h"
#include "vqscwlib/platform/clock.h"

namespace {

using namespace vqscw::testing;  // NOLINT
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x7F000001;

struct Client : CClientEndpoint {
  Client() { EXPECT_TRUE(Open(false, "127.0.0.1", 0)); }
};

struct Server : CServerEndpoint {
  NetAddress address;
  Server() : address(kLoopback, vqscw::testing::FreeUdpPort()) {
    EXPECT_TRUE(Open(true, "127.0.0.1", address.Port()));
  }
};

milliseconds Since(steady_clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
}

// Acknowledged sends, against a peer that answers as scripted.

TEST(AcknowledgedSendTest, SilentHostGetsFourAttemptsOnTheScheduleThenTimesOut) {
  Client client;
  ScriptedPeer peer;
  std::vector<Datagram> frames;
  std::atomic<bool> done{false};
  std::thread listener([&] {
    for (int i = 0; i < 100; ++i) {  // at most 5 s
      if (auto d = peer.Receive(50)) {
        frames.push_back(*d);
      } else if (done) {
        break;
      }
    }
  });
  const auto start = steady_clock::now();
  EXPECT_FALSE(client.SendMessage(peer.Address(), &ReadRequest(), KIND_MESSAGE));
  const milliseconds took = Since(start);
  done = true;
  listener.join();
  EXPECT_EQ(client.LastError(), kEndpointTimeout);
  EXPECT_GE(took.count(), 998);
  EXPECT_LT(took.count(), 2000);
  ASSERT_EQ(frames.size(), 4u);
  const int offsets[] = {0, 62, 186, 434};  // after the first send, by the default schedule
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(frames[i].bytes, frames[0].bytes);  // the same frame, the same sequence number
    // Measured from before the first send: an attempt is sent no earlier than its offset, and
    // the system's receive stamp is never earlier than the send. (Between two stamps the
    // difference can shrink, when a loaded machine stamps the first one late.) Above: a
    // loaded machine.
    const auto offset = std::chrono::duration_cast<milliseconds>(frames[i].arrived - start).count();
    EXPECT_GE(offset, offsets[i] - 5) << "attempt " << i;  // the tick counts whole milliseconds
    EXPECT_LT(offset, offsets[i] + 500) << "attempt " << i;
  }
  EXPECT_EQ(frames[0].Sequence(), client.Sequence());
}

TEST(AcknowledgedSendTest, SendToASilentHostEndsWhileTheTickStandsStill) {
  // A caller running under a frozen clock (a test's, or a stalled counter) must still see the
  // send end once every attempt's wait has passed on the socket.
  vqscw::FakeClock frozen;
  Client client;
  ScriptedPeer peer;
  const auto start = steady_clock::now();
  EXPECT_FALSE(client.SendMessage(peer.Address(), &ReadRequest(), KIND_MESSAGE));
  EXPECT_EQ(client.LastError(), kEndpointTimeout);
  EXPECT_LT(Since(start).count(), 3000);
}

TEST(AcknowledgedSendTest, RefusalEndsTheSendAtOnce) {
  Client client;
  ScriptedPeer peer;
  std::thread refuser([&] {
    if (auto d = peer.Receive(2000)) peer.Send(d->source, Ack(KIND_NAK, d->Sequence()));
  });
  const auto start = steady_clock::now();
  EXPECT_FALSE(client.SendMessage(peer.Address(), &ReadRequest(), KIND_MESSAGE));
  EXPECT_LT(Since(start).count(), 500);
  refuser.join();
  EXPECT_EQ(client.LastError(), kEndpointRefused);
  EXPECT_FALSE(peer.Receive(150).has_value());  // no further attempt
}

TEST(AcknowledgedSendTest, IgnoresAnswersWithWrongSequenceHostPortOrShape) {
  Client client;
  ScriptedPeer peer;
  const NetAddress at = peer.Address();
  ScriptedPeer other_port;
  ScriptedPeer other_host("127.0.0.2", at.Port());
  int attempts = 0;
  std::thread answerer([&] {
    auto d = peer.Receive(2000);
    if (!d) return;
    ++attempts;
    const uint32_t seq = d->Sequence();
    peer.Send(d->source, Ack(KIND_NAK, seq + 1));
    peer.Send(d->source, Ack(KIND_NAK, seq, /*mark=*/6));
    peer.Send(d->source, Ack('X', seq));
    Bytes long_ack = Ack(KIND_NAK, seq);
    long_ack.push_back(0);
    peer.Send(d->source, long_ack);
    other_port.Send(d->source, Ack(KIND_NAK, seq));
    other_host.Send(d->source, Ack(KIND_NAK, seq));
    if ((d = peer.Receive(2000))) {  // the retry: now answer properly
      ++attempts;
      peer.Send(d->source, Ack(KIND_ACK, d->Sequence()));
    }
  });
  EXPECT_TRUE(client.SendMessage(at, &ReadRequest(), KIND_MESSAGE));
  answerer.join();
  EXPECT_EQ(client.LastError(), 0);
  EXPECT_EQ(attempts, 2);
}

TEST(AcknowledgedSendTest, AnyHostMayAnswerForAGroupFromTheGroupsPort) {
  const uint32_t group = 0xE6012A03;  // 230.1.42.3: below 239, so sent acknowledged
  ScriptedPeer member("0.0.0.0", vqscw::testing::FreeUdpPort());
  ASSERT_EQ(member.socket().JoinGroup(htonl(group), htonl(kLoopback)), 0);
  ScriptedPeer stranger;
  Client client;
  std::thread answerer([&] {
    if (auto d = member.Receive(2000)) {
      stranger.Send(d->source, Ack(KIND_NAK, d->Sequence()));  // wrong port: ignored
      member.Send(d->source, Ack(KIND_ACK, d->Sequence()));
    }
  });
  const NetAddress destination(group, member.Address().Port());
  EXPECT_TRUE(client.SendMessage(destination, &ReadRequest(), KIND_MESSAGE));
  answerer.join();
}

TEST(SendMessageTest, RefusesWhatCannotBeSent) {
  CClientEndpoint never_opened;
  const NetAddress to(kLoopback, 9);
  EXPECT_FALSE(never_opened.SendMessage(to, nullptr, KIND_DATAGRAM));
  EXPECT_EQ(never_opened.LastError(), kEndpointNoMessage);
  EXPECT_FALSE(never_opened.SendMessage(to, &ReadRequest(), 'R'));
  EXPECT_EQ(never_opened.LastError(), kEndpointNoMessage);  // an unknown mode leaves it alone
  EXPECT_FALSE(never_opened.SendMessage(to, &ReadRequest(), KIND_DATAGRAM));
  EXPECT_EQ(never_opened.LastError(), kEndpointNoBuffer);

  Server server;  // a buffer, but no retry schedule
  EXPECT_FALSE(server.SendMessage(to, &ReadRequest(), KIND_MESSAGE));
  EXPECT_EQ(server.LastError(), kEndpointNoSchedule);

  CMessage huge;  // its encoding cannot be made within 65535 bytes
  for (uint32_t i = 0; i < 4; ++i) huge.SetBlob(0x42000000 + i, 20000, nullptr);
  Client client;
  EXPECT_FALSE(client.SendMessage(to, &huge, KIND_DATAGRAM));
  EXPECT_EQ(client.LastError(), kEndpointEncodeMismatch);

  uint8_t storage[kFrameHeaderSize + 8];
  CClientEndpoint small;
  small.UseBuffer(new CDatagramBuffer(storage, sizeof storage), true);
  ASSERT_TRUE(small.Open(false, "127.0.0.1", 0));
  ScriptedPeer peer;
  EXPECT_FALSE(small.SendMessage(peer.Address(), &ReadRequest(), KIND_DATAGRAM));  // 12 > 8
  EXPECT_EQ(small.LastError(), kEndpointTooLarge);
  EXPECT_FALSE(peer.Receive(50).has_value());  // nothing was sent
}

TEST(SendMessageTest, SequenceAfter0xFFFFFFFFIs1) {
  std::optional<CClientEndpoint> client;
  {
    vqscw::FakeClock clock(0xFFFFFFFEu);
    client.emplace();
  }
  ASSERT_TRUE(client->Open(false, "127.0.0.1", 0));
  ScriptedPeer peer;
  for (uint32_t expected : {0xFFFFFFFFu, 1u, 2u}) {
    ASSERT_TRUE(client->SendMessage(peer.Address(), &ReadRequest(), KIND_DATAGRAM));
    auto d = peer.Receive(1000);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->Sequence(), expected);
  }
}

TEST(SetRetryScheduleTest, SplitsTheTotalIntoGrowingWaits) {
  CClientEndpoint endpoint;
  ASSERT_TRUE(endpoint.SetRetrySchedule(4, 1000, 200));
  EXPECT_EQ(endpoint.AttemptCount(), 4u);
  EXPECT_EQ(std::vector<uint32_t>({endpoint.RetryWait(0), endpoint.RetryWait(1),
                                   endpoint.RetryWait(2), endpoint.RetryWait(3)}),
            std::vector<uint32_t>({62, 124, 248, 566}));
  ASSERT_TRUE(endpoint.SetRetrySchedule(3, 700, 300));
  EXPECT_EQ(
      std::vector<uint32_t>({endpoint.RetryWait(0), endpoint.RetryWait(1), endpoint.RetryWait(2)}),
      std::vector<uint32_t>({51, 153, 496}));
  EXPECT_FALSE(endpoint.SetRetrySchedule(3, 700, 100));
  EXPECT_FALSE(endpoint.SetRetrySchedule(0, 700, 300));
  EXPECT_EQ(endpoint.AttemptCount(), 3u);  // refused schedules change nothing
  EXPECT_EQ(endpoint.RetryWait(2), 496u);
}

TEST(SetRetryScheduleTest, GrowthThatWrapsToZeroIsRefusedInsteadOfDividingByZero) {
  CClientEndpoint endpoint;
  EXPECT_FALSE(endpoint.SetRetrySchedule(2, 1000, 65536));  // 65536 * 65536 wraps to 0
}

// The server side: what it acknowledges, delivers and refuses.

TEST(ServerEndpointTest, DeliversAMessageOnceAndAcknowledgesEveryCopy) {
  Server server;
  ScriptedPeer peer;
  const Bytes frame =
      Frame({.sequence = 77, .h1 = 0x0102, .h2 = 0x0304, .h3 = 0x05060708}, Body(ReadRequest()));
  peer.Send(server.address, frame);
  peer.Send(server.address, frame);
  CMessage message;
  ASSERT_TRUE(server.ReceiveMessage(&message, 1000));
  EXPECT_EQ(message.Code(), Tag("READ"));
  EXPECT_EQ(message.GetU8(Tag("ADVD")), 1);
  EXPECT_EQ(message.SourceAddress(), kLoopback);
  EXPECT_EQ(message.Kind(), 'M');
  EXPECT_EQ(message.H1(), 0x0102);
  EXPECT_EQ(message.H2(), 0x0304);
  EXPECT_EQ(message.H3(), 0x05060708u);
  EXPECT_FALSE(server.ReceiveMessage(&message, 100));  // the repeat is not delivered again
  EXPECT_EQ(server.LastError(), kEndpointTimeout);
  for (int copy = 0; copy < 2; ++copy) {
    auto ack = peer.Receive(1000);
    ASSERT_TRUE(ack.has_value()) << "copy " << copy;
    EXPECT_EQ(ack->bytes.size(), 8u);
    EXPECT_EQ(ack->bytes[kFrameModeOffset], KIND_ACK);
    EXPECT_EQ(ack->bytes[kFrameMarkOffset], FRAME_MARK);
    EXPECT_EQ(ack->Sequence(), 77u);
    EXPECT_EQ(ack->source.Port(), server.address.Port());
  }
}

TEST(ServerEndpointTest, AnswersOrIgnoresFramesItDoesNotDeliver) {
  Server server;
  ScriptedPeer peer;
  CMessage message;
  peer.Send(server.address, Frame({.type = 1, .sequence = 5}));
  EXPECT_FALSE(server.ReceiveMessage(&message, 100));
  auto nak = peer.Receive(1000);
  ASSERT_TRUE(nak.has_value());
  EXPECT_EQ(nak->bytes[kFrameModeOffset], KIND_NAK);
  EXPECT_EQ(nak->Sequence(), 5u);

  peer.Send(server.address, Frame({.mark = 6, .sequence = 6}));
  peer.Send(server.address, Bytes(15, 3));  // not a frame
  EXPECT_FALSE(server.ReceiveMessage(&message, 100));
  EXPECT_EQ(server.LastError(), kEndpointTimeout);
  EXPECT_FALSE(peer.Receive(50).has_value());  // neither was answered
}

TEST(ServerEndpointTest, SixteenBytesAreAMessageWithoutFieldsAndDatagramsAreNotAnswered) {
  Server server;
  ScriptedPeer peer;
  CMessage message = ReadRequest();
  peer.Send(server.address, Frame({.mode = KIND_DATAGRAM, .sequence = 9}));
  ASSERT_TRUE(server.ReceiveMessage(&message, 1000));
  EXPECT_EQ(message.Count(), 0);
  EXPECT_EQ(message.Code(), 0u);  // nothing left of the message the object held before
  EXPECT_EQ(message.Kind(), KIND_DATAGRAM);
  EXPECT_FALSE(peer.Receive(50).has_value());
}

TEST(ServerEndpointTest, RefusesOtherVersionsAndBadBodiesAfterAcknowledging) {
  Server server;
  ScriptedPeer peer;
  CMessage message;
  Bytes body = Body(ReadRequest());
  peer.Send(server.address, Frame({.version = 1, .sequence = 1}, body));
  EXPECT_FALSE(server.ReceiveMessage(&message, 1000));
  EXPECT_EQ(server.LastError(), kEndpointWrongVersion);
  body.push_back(0);  // a byte the fields do not cover
  peer.Send(server.address, Frame({.sequence = 2}, body));
  EXPECT_FALSE(server.ReceiveMessage(&message, 1000));
  EXPECT_EQ(server.LastError(), kEndpointBadBody);
  for (uint32_t sequence = 1; sequence <= 2; ++sequence) {
    auto ack = peer.Receive(1000);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(ack->bytes[kFrameModeOffset], KIND_ACK);
    EXPECT_EQ(ack->Sequence(), sequence);
  }
}

TEST(ServerEndpointTest, DatagramLongerThanTheBufferIsAReceiveError) {
  uint8_t storage[64];
  CServerEndpoint server;
  server.UseBuffer(new CDatagramBuffer(storage, sizeof storage), true);
  const NetAddress at(kLoopback, vqscw::testing::FreeUdpPort());
  ASSERT_TRUE(server.Open(true, "127.0.0.1", at.Port()));
  ScriptedPeer peer;
  peer.Send(at, Frame({}, Bytes(49, 0)));
  CDatagramBuffer* frame = nullptr;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(server.WaitForMessage(&frame, 1000));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "ERROR: WaitForMessage: Error on Read! (cbMsg=-1,WSA=90)\n");
  EXPECT_EQ(server.LastError(), kEndpointReceiveError);
}

TEST(ServerEndpointTest, WaitOfZeroPollsOnceAndOnlyAServerMayWait) {
  Server server;
  CDatagramBuffer* frame = nullptr;
  const auto start = steady_clock::now();
  EXPECT_FALSE(server.WaitForMessage(&frame, 0));
  EXPECT_EQ(server.LastError(), kEndpointTimeout);
  EXPECT_LT(Since(start).count(), 100);

  CServerEndpoint portless;
  EXPECT_FALSE(portless.Open(true, "127.0.0.1", 0));  // a server needs a port
  Client client;
  for (CMessageEndpoint* endpoint :
       {static_cast<CMessageEndpoint*>(&portless), static_cast<CMessageEndpoint*>(&client)}) {
    EXPECT_FALSE(endpoint->WaitForMessage(&frame, 0));
    EXPECT_EQ(endpoint->LastError(), kEndpointNotServer);
  }
}

TEST(ServerEndpointTest, ForgetsSendersSilentForMoreThanTenSeconds) {
  vqscw::FakeClock clock;
  Server server;
  ScriptedPeer peer;
  CMessage message;
  const Bytes frame = Frame({.mode = KIND_DATAGRAM, .sequence = 40}, Body(ReadRequest()));
  peer.Send(server.address, frame);
  EXPECT_TRUE(server.ReceiveMessage(&message, 1000));
  clock.Advance(CDuplicateFilter::kDefaultMaxAgeMs);
  peer.Send(server.address, frame);
  EXPECT_FALSE(server.ReceiveMessage(&message, 200));  // still remembered
  clock.Advance(1);
  peer.Send(server.address, frame);
  EXPECT_TRUE(server.ReceiveMessage(&message, 1000));  // purged before the wait: new again
}

}  // namespace
