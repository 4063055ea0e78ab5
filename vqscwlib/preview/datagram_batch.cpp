#include "vqscwlib/preview/datagram_batch.h"

#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vqscwlib/platform/clock.h"

namespace vqscw {
namespace {

constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kUsPerSecond = 1000000;
// An older stamp than this is taken for a wall-clock step, not for a datagram's age.
constexpr int64_t kMaxAgeUs = 10 * kUsPerSecond;

int64_t RealtimeMicroseconds() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * kUsPerSecond + now.tv_nsec / kNsPerUs;
}

}  // namespace

int OpenGroupSocket(uint32_t group, uint16_t port, uint32_t interface_address) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  auto fail = [fd]() {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  };
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) return fail();
  // Only the group joined here: Linux would otherwise deliver every group any socket of this
  // host joined on the same port.
  const int off = 0;
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) < 0) return fail();
  if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0) return fail();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = port;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) return fail();
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = group;
  membership.imr_interface.s_addr = interface_address;
  if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) < 0) {
    return fail();
  }
  return fd;
}

int DatagramBatch::Receive(int socket, uint8_t* const* buffers, uint32_t capacity, int count) {
  if (count > kCapacity) count = kCapacity;
  for (int i = 0; i < count; ++i) {
    vectors_[i] = {buffers[i], capacity};
    msghdr& header = messages_[i].msg_hdr;
    header = msghdr{};
    header.msg_iov = &vectors_[i];
    header.msg_iovlen = 1;
    header.msg_control = control_[i];
    header.msg_controllen = kControlBytes;
    messages_[i].msg_len = 0;
  }
  const int received =
      recvmmsg(socket, messages_, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  // The kernel's stamps are wall-clock times; their age, taken from the monotonic clock's reading
  // now, gives the arrival on that clock. A wall-clock step between the arrival and this receive
  // makes the age negative or implausible: the datagram then counts as arriving now.
  const uint64_t now = MonotonicMicroseconds();
  const int64_t wall = RealtimeMicroseconds();
  for (int i = 0; i < received; ++i) {
    arrivals_[i] = now;
    msghdr& header = messages_[i].msg_hdr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      const int64_t age =
          wall - (static_cast<int64_t>(stamp.tv_sec) * kUsPerSecond + stamp.tv_nsec / kNsPerUs);
      if (age > 0 && age < kMaxAgeUs && static_cast<uint64_t>(age) < now)
        arrivals_[i] = now - static_cast<uint64_t>(age);
    }
  }
  return received;
}

}  // namespace vqscw
