// A test's UDP socket that hears one multicast group on loopback, and nothing else.
#ifndef TESTS_SUPPORT_MULTICAST_RECEIVER_H_
#define TESTS_SUPPORT_MULTICAST_RECEIVER_H_

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace vqscw::testing {

class MulticastReceiver {
 public:
  MulticastReceiver(uint32_t group, uint16_t port) {  // host order
    const int one = 1;
    sockaddr_in local{AF_INET, htons(port), {htonl(group)}, {}};
    ip_mreq join{{htonl(group)}, {htonl(INADDR_LOOPBACK)}};
    ok_ = setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
          bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
          setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
    // Room for a few seconds of a 1000 packets/s stream, so a test stalled by a loaded machine
    // finds every packet still queued. The forced size needs root (the network tests have it);
    // otherwise the system's limit applies.
    const int bytes = 8 << 20;
    if (setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
      setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
  }
  ~MulticastReceiver() { close(socket_); }
  MulticastReceiver(const MulticastReceiver&) = delete;
  MulticastReceiver& operator=(const MulticastReceiver&) = delete;

  bool ok() const { return ok_; }

  // The next datagram within `timeout_ms`, or nothing.
  std::optional<std::vector<uint8_t>> Receive(int timeout_ms) {
    pollfd pfd{socket_, POLLIN, 0};
    std::vector<uint8_t> bytes(2048);
    if (poll(&pfd, 1, timeout_ms) != 1) return std::nullopt;
    const ssize_t n = recv(socket_, bytes.data(), bytes.size(), 0);
    if (n < 0) return std::nullopt;
    bytes.resize(static_cast<size_t>(n));
    return bytes;
  }

 private:
  int socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bool ok_ = false;
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_MULTICAST_RECEIVER_H_
