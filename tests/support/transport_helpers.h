// Test helpers for the transport: a scripted peer on loopback and builders of raw frames.
#ifndef TESTS_SUPPORT_TRANSPORT_HELPERS_H_
#define TESTS_SUPPORT_TRANSPORT_HELPERS_H_

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/transport/net_address.h"
#include "vqscwlib/transport/udp_socket.h"

namespace vqscw::testing {

using Bytes = std::vector<uint8_t>;

struct Datagram {
  Bytes bytes;
  CSockAddr source;
  // When the system received it (its receive time stamp on the steady clock), not when the test
  // got round to reading it.
  std::chrono::steady_clock::time_point arrived;
  uint32_t Sequence() const { return LoadBE32(bytes.data() + kFrameSequenceOffset); }
};

// A UDP socket on loopback driven by the test: it receives what the endpoint sends and answers
// with whatever bytes the test scripts.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(const char* address = "127.0.0.1", uint16_t port = 0) {
    socket_.Create();
    socket_.Bind(port, address);
    const int on = 1;
    setsockopt(socket_.Handle(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  }
  NetAddress Address() const {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(socket_.Handle(), reinterpret_cast<sockaddr*>(&bound), &length);
    return NetAddress(ntohl(bound.sin_addr.s_addr), ntohs(bound.sin_port));
  }
  // The next datagram arriving within `ms`, or nothing.
  std::optional<Datagram> Receive(uint32_t ms) {
    if (socket_.WaitReadable(ms) != 1) return std::nullopt;
    Datagram d;
    d.bytes.resize(70000);
    iovec io{d.bytes.data(), d.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr header{};
    header.msg_name = d.source.RawIn();
    header.msg_namelen = sizeof(sockaddr_in);
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(socket_.Handle(), &header, 0);
    if (n < 0) return std::nullopt;
    d.bytes.resize(static_cast<size_t>(n));
    d.arrived = std::chrono::steady_clock::now();
    // A reader that was not running when the datagram came would otherwise see it arrive late.
    const auto wall_now = std::chrono::system_clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      const auto received = std::chrono::system_clock::time_point(
          std::chrono::duration_cast<std::chrono::system_clock::duration>(
              std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
      if (received < wall_now) {
        d.arrived -=
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(wall_now - received);
      }
    }
    return d;
  }
  int Send(const CSockAddr& to, const Bytes& bytes) {
    return socket_.SendTo(to, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  int Send(const NetAddress& to, const Bytes& bytes) {
    CSockAddr address;
    address.Set(to.Address(), to.Port());
    return Send(address, bytes);
  }
  CUdpSocket& socket() { return socket_; }

 private:
  CUdpSocket socket_;
};

inline Bytes Ack(uint8_t verdict, uint32_t sequence, uint8_t mark = FRAME_MARK) {
  Bytes ack(kAckFrameSize, 0);
  ack[kFrameModeOffset] = verdict;
  ack[kFrameMarkOffset] = mark;
  StoreBE32(ack.data() + kFrameSequenceOffset, sequence);
  return ack;
}

struct FrameShape {
  uint8_t type = FRAME_MESSAGE;
  uint8_t mode = KIND_MESSAGE;
  uint8_t version = PROTOCOL_VERSION;
  uint8_t mark = FRAME_MARK;
  uint32_t sequence = 1;
  uint16_t h1 = 0, h2 = 0;
  uint32_t h3 = 0;
};

inline Bytes Frame(const FrameShape& shape, const Bytes& body = {}) {
  Bytes frame(kFrameHeaderSize + body.size(), 0);
  if (!body.empty()) std::memcpy(frame.data() + kFrameHeaderSize, body.data(), body.size());
  frame[kFrameTypeOffset] = shape.type;
  frame[kFrameModeOffset] = shape.mode;
  frame[kFrameVersionOffset] = shape.version;
  frame[kFrameMarkOffset] = shape.mark;
  StoreBE32(frame.data() + kFrameSequenceOffset, shape.sequence);
  StoreBE16(frame.data() + kFrameH1Offset, shape.h1);
  StoreBE16(frame.data() + kFrameH2Offset, shape.h2);
  StoreBE32(frame.data() + kFrameH3Offset, shape.h3);
  return frame;
}

inline Bytes Body(const CFieldList& list);

// `message` framed as a terminal sends it to a group: an unacknowledged datagram.
inline Bytes DatagramFrame(const CFieldList& message, uint32_t sequence) {
  FrameShape header;
  header.mode = KIND_DATAGRAM;
  header.sequence = sequence;
  return Frame(header, Body(message));
}

// A "READ" request with "ADVD" = 1, and the encoding of a list's body.
inline const CMessage& ReadRequest() {
  static const CMessage request = [] {
    CMessage message;
    message.SetCode(Tag("READ"));
    message.SetU8(Tag("ADVD"), 1);
    return message;
  }();
  return request;
}

inline Bytes Body(const CFieldList& list) {
  Bytes body(list.EncodedSize());
  list.Encode(body.data());
  return body;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_TRANSPORT_HELPERS_H_
