// A UDP socket of a test that hears one multicast group on loopback, for the streams and
// advertisements the tools send.
#ifndef TOOLS_TESTING_MULTICAST_RECEIVER_H_
#define TOOLS_TESTING_MULTICAST_RECEIVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace vqscw::testing {

class MulticastReceiver {
 public:
  // Hears `group` (host order) on `port` on loopback, and nothing else.
  MulticastReceiver(uint32_t group, uint16_t port) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    const int zero = 0;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_ALL, &zero, sizeof zero);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(group);
    ip_mreq join{};
    join.imr_multiaddr.s_addr = htonl(group);
    join.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
          setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
  }
  ~MulticastReceiver() { close(socket_); }
  MulticastReceiver(const MulticastReceiver&) = delete;
  MulticastReceiver& operator=(const MulticastReceiver&) = delete;

  bool ok() const { return ok_; }

  // The next datagram within `timeout_ms`, or nothing.
  std::optional<std::vector<uint8_t>> Receive(int timeout_ms) {
    pollfd pfd{socket_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) != 1) return std::nullopt;
    std::vector<uint8_t> bytes(65536);
    const ssize_t n = recv(socket_, bytes.data(), bytes.size(), 0);
    if (n < 0) return std::nullopt;
    bytes.resize(static_cast<size_t>(n));
    return bytes;
  }

 private:
  int socket_ = -1;
  bool ok_ = false;
};

}  // namespace vqscw::testing

#endif  // TOOLS_TESTING_MULTICAST_RECEIVER_H_
