#include "vqscwlib/platform/datagram_socket.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vqscwlib/platform/clock.h"
#include "vqscwlib/platform/event.h"
#include "vqscwlib/platform/net_interfaces.h"

namespace vqscw {
namespace {

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kUsPerSecond = 1000000;
// An older stamp than this is taken for a wall-clock step, not for a datagram's age.
constexpr int64_t kMaxAgeUs = 10 * kUsPerSecond;

bool IsMulticast(uint32_t network_order) { return (ntohl(network_order) >> 28) == 0xE; }

int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

int64_t RealtimeMicroseconds() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * kUsPerSecond + now.tv_nsec / kNsPerUs;
}

timespec FromNs(int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
  ts.tv_nsec = static_cast<long>(ns % kNsPerSecond);
  return ts;
}

void SetIntOption(int handle, int level, int option, int value) {
  // The callers ignore the outcome: these options only widen what the socket may do.
  [[maybe_unused]] int rc = setsockopt(handle, level, option, &value, sizeof value);
}

sockaddr_in Ipv4(uint32_t address, uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = port;
  result.sin_addr.s_addr = address;
  return result;
}

const sockaddr* Raw(const sockaddr_in& address) {
  return reinterpret_cast<const sockaddr*>(&address);
}

// The one wait underneath every wait of this file: `count` descriptors, `timeout` null for no
// limit. errno tells why a wait failed.
WaitResult PollOnce(pollfd* fds, nfds_t count, const timespec* timeout) {
  const int rc = ppoll(fds, count, timeout, nullptr);
  if (rc > 0) return WaitResult::kReady;
  if (rc == 0) return WaitResult::kTimeout;
  return errno == EINTR ? WaitResult::kInterrupted : WaitResult::kFailed;
}

}  // namespace

DatagramSocket::~DatagramSocket() { Close(); }

int DatagramSocket::Fail() {
  last_error_ = errno;
  return -1;
}

int DatagramSocket::FailAndClose(int error) {
  Close();
  last_error_ = error;
  return -1;
}

int DatagramSocket::Open() {
  filter_unicast_ = false;
  known_readable_ = false;
  handle_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (handle_ < 0) {
    handle_ = kInvalidHandle;
    return Fail();
  }
  return 0;
}

int DatagramSocket::Bind(const sockaddr_in& local) {
  SetIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1);
  in_addr interface_address = local.sin_addr;
  [[maybe_unused]] int rc = setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_IF, &interface_address,
                                       sizeof interface_address);
  if (bind(handle_, Raw(local), sizeof local) != 0) {
    Fail();
    return FailAndClose(last_error_);
  }
  return 0;
}

int DatagramSocket::BindExclusive(const sockaddr_in& local) {
  if (bind(handle_, Raw(local), sizeof local) != 0) return Fail();
  return 0;
}

int DatagramSocket::BindGroupListener(const sockaddr_in& local) {
  const uint32_t card = local.sin_addr.s_addr;
  if (card != 0) {
    // The socket itself binds to every interface, so ask the system whether the card is one of
    // this machine's addresses, as binding to it would.
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return FailAndClose(errno);
    const sockaddr_in probe_address = Ipv4(card, 0);
    const int rc = bind(probe, Raw(probe_address), sizeof probe_address);
    const int error = errno;
    close(probe);
    if (rc != 0) return FailAndClose(error);
  }

  SetIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1);
  in_addr interface_address = local.sin_addr;
  [[maybe_unused]] int rc = setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_IF, &interface_address,
                                       sizeof interface_address);
  // Only the groups this socket joined, not every group some socket of the machine joined.
  SetIntOption(handle_, IPPROTO_IP, IP_MULTICAST_ALL, 0);
  SetIntOption(handle_, IPPROTO_IP, IP_PKTINFO, card != 0 ? 1 : 0);

  const sockaddr_in any = Ipv4(htonl(INADDR_ANY), local.sin_port);
  if (bind(handle_, Raw(any), sizeof any) != 0) return FailAndClose(errno);

  filter_unicast_ = card != 0;
  card_address_ = card;
  card_broadcast_ = 0;
  card_index_ = 0;
  if (filter_unicast_) {
    std::vector<NetInterfaceAddress> interfaces;
    if (GetNetInterfaces(&interfaces)) {
      for (const NetInterfaceAddress& entry : interfaces) {
        if (entry.address == card) {
          card_index_ = static_cast<int>(entry.index);
          card_broadcast_ = card | ~entry.netmask;
          break;
        }
      }
    }
  }
  return 0;
}

bool DatagramSocket::Accepts(uint32_t destination, int interface_index) const {
  if (destination == card_address_ || IsMulticast(destination)) return true;
  const bool broadcast =
      destination == kLimitedBroadcast || (card_broadcast_ != 0 && destination == card_broadcast_);
  return broadcast && card_index_ != 0 && interface_index == card_index_;
}

int DatagramSocket::OpenGroup(uint32_t group, uint16_t port, uint32_t interface_address) {
  filter_unicast_ = false;
  known_readable_ = false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail();
  auto fail = [this, fd]() {
    const int error = errno;
    close(fd);
    errno = error;
    return Fail();
  };
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) return fail();
  // Only the group joined here: Linux would otherwise deliver every group any socket of this
  // host joined on the same port.
  const int off = 0;
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) < 0) return fail();
  if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0) return fail();
  const sockaddr_in local = Ipv4(htonl(INADDR_ANY), port);
  if (bind(fd, Raw(local), sizeof local) < 0) return fail();
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = group;
  membership.imr_interface.s_addr = interface_address;
  if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) < 0) {
    return fail();
  }
  handle_ = fd;
  return 0;
}

int DatagramSocket::JoinGroup(uint32_t group, uint32_t interface_address) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interface_address;
  if (setsockopt(handle_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
    return Fail();
  }
  return 0;
}

int DatagramSocket::SetMulticastInterface(uint32_t interface_address) {
  in_addr card{};
  card.s_addr = interface_address;
  if (setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_IF, &card, sizeof card) != 0) return Fail();
  return 0;
}

int DatagramSocket::WaitReadable(uint32_t timeout_ms) {
  if (handle_ == kInvalidHandle) {
    last_error_ = EBADF;
    return -1;
  }
  if (known_readable_) return 1;
  const bool forever = timeout_ms == kWaitForever;
  const int64_t deadline = MonotonicNs() + static_cast<int64_t>(timeout_ms) * kNsPerMs;
  for (;;) {
    timespec timeout{};
    if (!forever) {
      const int64_t left = deadline - MonotonicNs();
      if (left > 0) timeout = FromNs(left);
    }
    pollfd pfd{handle_, POLLIN, 0};
    switch (PollOnce(&pfd, 1, forever ? nullptr : &timeout)) {
      case WaitResult::kReady:
        if ((pfd.revents & POLLNVAL) != 0) {
          last_error_ = EBADF;
          return -1;
        }
        return 1;
      case WaitResult::kTimeout:
        return 0;
      case WaitResult::kInterrupted:
        break;  // the rest of the time-out
      case WaitResult::kFailed:
        return Fail();
    }
  }
}

int DatagramSocket::ReceiveFrom(void* buffer, uint32_t size, sockaddr_in* source) {
  known_readable_ = false;
  sockaddr_in from{};
  iovec iov{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr header{};
  header.msg_name = &from;
  header.msg_namelen = sizeof from;
  header.msg_iov = &iov;
  header.msg_iovlen = 1;
  if (filter_unicast_) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
  }
  // MSG_TRUNC: the result is the datagram's real length even when the buffer is shorter.
  const ssize_t length = recvmsg(handle_, &header, MSG_TRUNC);
  if (length < 0) return Fail();
  if (filter_unicast_) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      if (!Accepts(info.ipi_addr.s_addr, info.ipi_ifindex)) return 0;
    }
  }
  if (static_cast<size_t>(length) > size) {
    last_error_ = EMSGSIZE;
    return -1;
  }
  if (source != nullptr) *source = from;
  return static_cast<int>(length);
}

int DatagramSocket::ReceiveBatch(DatagramBatch* batch, uint8_t* const* buffers, uint32_t capacity,
                                 int count) {
  known_readable_ = false;
  if (count > DatagramBatch::kCapacity) count = DatagramBatch::kCapacity;
  for (int i = 0; i < count; ++i) {
    batch->vectors_[i] = {buffers[i], capacity};
    msghdr& header = batch->messages_[i].msg_hdr;
    header = msghdr{};
    header.msg_iov = &batch->vectors_[i];
    header.msg_iovlen = 1;
    header.msg_control = batch->control_[i];
    header.msg_controllen = DatagramBatch::kControlBytes;
    batch->messages_[i].msg_len = 0;
  }
  const int received =
      recvmmsg(handle_, batch->messages_, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  if (received < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : Fail();
  // The kernel's stamps are wall-clock times; their age, taken from the monotonic clock's reading
  // now, gives the arrival on that clock. A wall-clock step between the arrival and this receive
  // makes the age negative or implausible: the datagram then counts as arriving now.
  const uint64_t now = MonotonicMicroseconds();
  const int64_t wall = RealtimeMicroseconds();
  for (int i = 0; i < received; ++i) {
    batch->arrivals_[i] = now;
    msghdr& header = batch->messages_[i].msg_hdr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      const int64_t age =
          wall - (static_cast<int64_t>(stamp.tv_sec) * kUsPerSecond + stamp.tv_nsec / kNsPerUs);
      if (age > 0 && age < kMaxAgeUs && static_cast<uint64_t>(age) < now)
        batch->arrivals_[i] = now - static_cast<uint64_t>(age);
    }
  }
  return received;
}

int DatagramSocket::SendTo(const sockaddr_in& destination, const void* data, uint32_t length) {
  iovec iov{const_cast<void*>(data), length};
  msghdr header{};
  header.msg_name = const_cast<sockaddr_in*>(&destination);
  header.msg_namelen = sizeof destination;
  header.msg_iov = &iov;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  if (filter_unicast_) {
    // Answer from the card's address, as a socket bound to it would.
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&header);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = card_address_;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  const ssize_t sent = sendmsg(handle_, &header, 0);
  if (sent < 0) return Fail();
  return static_cast<int>(sent);
}

int DatagramSocket::BufferSize(int option) {
  int size = 0;
  socklen_t length = sizeof size;
  if (getsockopt(handle_, SOL_SOCKET, option, &size, &length) != 0) {
    Fail();
    return -1;
  }
  return size;
}

int DatagramSocket::ReceiveBufferSize() { return BufferSize(SO_RCVBUF); }
int DatagramSocket::SendBufferSize() { return BufferSize(SO_SNDBUF); }

int DatagramSocket::Close() {
  known_readable_ = false;
  if (handle_ == kInvalidHandle) return -1;
  shutdown(handle_, SHUT_RDWR);
  const int rc = close(handle_);
  if (rc != 0) Fail();
  handle_ = kInvalidHandle;
  filter_unicast_ = false;
  return rc;
}

SocketWait::SocketWait(const Event* stop) : has_stop_(stop != nullptr) {
  if (has_stop_) fds_.push_back({stop->fd(), POLLIN, 0});
}

void SocketWait::Clear() {
  fds_.resize(first_entry());
  sockets_.clear();
}

void SocketWait::Add(DatagramSocket* socket) {
  fds_.push_back({socket->Handle(), POLLIN, 0});
  sockets_.push_back(socket);
}

void SocketWait::Add(const Event* event) {
  fds_.push_back({event->fd(), POLLIN, 0});
  sockets_.push_back(nullptr);
}

WaitResult SocketWait::Wait(int timeout_ms) {
  for (pollfd& entry : fds_) entry.revents = 0;
  for (size_t i = 0; i < sockets_.size(); ++i) {
    if (sockets_[i] != nullptr) fds_[first_entry() + i].fd = sockets_[i]->Handle();
  }
  const timespec timeout = FromNs(static_cast<int64_t>(timeout_ms) * kNsPerMs);
  const WaitResult result = PollOnce(fds_.data(), fds_.size(), timeout_ms < 0 ? nullptr : &timeout);
  if (result != WaitResult::kReady) {
    for (pollfd& entry : fds_) entry.revents = 0;
    return result;
  }
  for (size_t i = 0; i < sockets_.size(); ++i) {
    const short events = fds_[first_entry() + i].revents;
    if (sockets_[i] != nullptr && events != 0 && (events & POLLNVAL) == 0) {
      sockets_[i]->known_readable_ = true;
    }
  }
  return result;
}

bool SocketWait::stopped() const { return has_stop_ && (fds_[0].revents & POLLIN) != 0; }

bool SocketWait::readable(size_t index) const { return fds_[first_entry() + index].revents != 0; }

}  // namespace vqscw
