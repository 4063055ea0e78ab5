// Sends arbitrary datagrams over loopback to a server endpoint and receives them the way the
// source spy does, twice each: checks what is acknowledged (and with which verdict), that nothing
// undeliverable is delivered, and that a repeat is never delivered a second time. Aborts when the
// endpoint contradicts those rules.
#include <poll.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/transport/message_endpoint.h"
#include "vqscwlib/transport/udp_socket.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr size_t kMaxDatagram = 65507;  // the largest UDP payload over IPv4
constexpr int kArrivalWaitMs = 1000;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "transport_receive_fuzz: %s\n", what);
  std::abort();
}

bool Readable(int handle, int ms) {
  pollfd pfd{handle, POLLIN, 0};
  return poll(&pfd, 1, ms) == 1;
}

struct Rig {
  // Frozen time: the duplicate filter never purges, so "repeat" means exactly "the last
  // delivered frame of this sender had this sequence number".
  vqscw::FakeClock clock;
  CServerEndpoint server;
  CUdpSocket sender;
  CSockAddr server_address;
  std::optional<uint32_t> last_delivered;

  Rig() {
    CUdpSocket probe;  // a free port for the server
    Check(probe.Create() == 0 && probe.Bind(0, "127.0.0.1") == 0, "probe socket");
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(probe.Handle(), reinterpret_cast<sockaddr*>(&bound), &length);
    probe.Close();
    const uint16_t port = ntohs(bound.sin_port);
    Check(server.Open(true, "127.0.0.1", port), "server endpoint");
    Check(sender.Create() == 0 && sender.Bind(0, "127.0.0.1") == 0, "sender socket");
    server_address.Set(kLoopback, port);
  }
};

Rig* rig = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A receive error prints a line to standard output; keep the fuzzer's output readable.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  rig = new Rig();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxDatagram) return 0;
  const bool frame = size >= static_cast<size_t>(kFrameHeaderSize);
  const uint8_t type = frame ? data[kFrameTypeOffset] : 0;
  const uint8_t mode = frame ? data[kFrameModeOffset] : 0;
  const bool marked = frame && data[kFrameMarkOffset] == FRAME_MARK;
  const uint32_t sequence = frame ? vqscw::LoadBE32(data + kFrameSequenceOffset) : 0;
  const bool deliverable = frame && type >= FRAME_MESSAGE && marked;
  const bool acknowledged = frame && (type < FRAME_MESSAGE || (marked && mode != KIND_DATAGRAM));

  CMessage message;
  for (int copy = 0; copy < 2; ++copy) {
    const int sent = rig->sender.SendTo(rig->server_address, data, static_cast<uint32_t>(size));
    Check(sent == static_cast<int>(size), "send");
    Check(Readable(rig->server.Socket().Handle(), kArrivalWaitMs), "datagram did not arrive");
    const bool received = rig->server.ReceiveMessage(&message, 0);
    const bool delivered = received || rig->server.LastError() != kEndpointTimeout;
    const bool expected = deliverable && (!rig->last_delivered || *rig->last_delivered != sequence);
    Check(delivered == expected, copy == 0 ? "delivery" : "a repeat was delivered again");
    if (delivered) {
      rig->last_delivered = sequence;
      if (data[kFrameVersionOffset] != PROTOCOL_VERSION) {
        Check(!received && rig->server.LastError() == kEndpointWrongVersion, "version");
      }
      if (received) {
        Check(message.SourceAddress() == kLoopback, "source address");
        Check(static_cast<uint8_t>(message.Kind()) == mode, "kind");
      } else {
        Check(rig->server.LastError() == kEndpointWrongVersion ||
                  rig->server.LastError() == kEndpointBadBody,
              "failure reason");
      }
    }
  }

  // Every copy of an acknowledged frame is answered, with the verdict its type earns.
  const int handle = rig->sender.Handle();
  for (int copy = 0; copy < 2 && acknowledged; ++copy) {
    Check(Readable(handle, kArrivalWaitMs), "acknowledgement did not arrive");
    uint8_t ack[16];
    CSockAddr source;
    Check(rig->sender.ReceiveFrom(&source, ack, sizeof ack) == kAckFrameSize, "ack length");
    Check(ack[kFrameModeOffset] == (type < FRAME_MESSAGE ? KIND_NAK : KIND_ACK), "verdict");
    Check(ack[kFrameMarkOffset] == FRAME_MARK, "ack mark");
    Check(vqscw::LoadBE32(ack + kFrameSequenceOffset) == sequence, "ack sequence");
  }
  Check(!Readable(handle, 0), "an unexpected answer");
  return 0;
}
