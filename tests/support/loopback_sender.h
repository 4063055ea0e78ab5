// A test's sender of datagrams to a multicast group through the loopback interface, as a terminal
// on the same machine sends them.
#ifndef TESTS_SUPPORT_LOOPBACK_SENDER_H_
#define TESTS_SUPPORT_LOOPBACK_SENDER_H_

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vqscwlib/platform/datagram_socket.h"

namespace vqscw::testing {

class LoopbackSender {
 public:
  // Sends to `group` (network order) and `port` (host order).
  LoopbackSender(uint32_t group, uint16_t port) {
    socket_.Open();
    socket_.SetMulticastInterface(htonl(INADDR_LOOPBACK));
    to_.sin_family = AF_INET;
    to_.sin_addr.s_addr = group;
    to_.sin_port = htons(port);
  }
  LoopbackSender(const LoopbackSender&) = delete;
  LoopbackSender& operator=(const LoopbackSender&) = delete;

  // Whether the whole datagram went out.
  bool Send(const uint8_t* data, size_t length) {
    return socket_.SendTo(to_, data, static_cast<uint32_t>(length)) == static_cast<int>(length);
  }
  bool Send(const std::vector<uint8_t>& bytes) { return Send(bytes.data(), bytes.size()); }

 private:
  DatagramSocket socket_;
  sockaddr_in to_{};
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_LOOPBACK_SENDER_H_
