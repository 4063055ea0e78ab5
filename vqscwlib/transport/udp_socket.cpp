#include "vqscwlib/transport/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "vqscwlib/platform/net_interfaces.h"

namespace {

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;

bool IsMulticast(uint32_t network_order) { return (ntohl(network_order) >> 28) == 0xE; }

int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SetIntOption(int handle, int level, int option, int value) {
  // The callers ignore the outcome: these options only widen what the socket may do.
  [[maybe_unused]] int rc = setsockopt(handle, level, option, &value, sizeof value);
}

}  // namespace

CUdpSocket::CUdpSocket()
    : handle_(kInvalidHandle),
      last_error_(0),
      filter_unicast_(false),
      card_address_(0),
      card_broadcast_(0),
      card_index_(0) {}

CUdpSocket::~CUdpSocket() { Close(); }

int CUdpSocket::Fail() {
  last_error_ = errno;
  return -1;
}

int CUdpSocket::Create() {
  filter_unicast_ = false;
  handle_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (handle_ < 0) {
    handle_ = kInvalidHandle;
    return Fail();
  }
  return 0;
}

int CUdpSocket::Bind(uint16_t port, const char* address) {
  CSockAddr local;
  const int resolved = address == nullptr ? local.SetAny(port) : local.SetFromText(address, port);
  if (resolved != 0) {
    last_error_ = EADDRNOTAVAIL;
    return -1;
  }
  SetIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1);
  in_addr interface_address = local.RawIn()->sin_addr;
  [[maybe_unused]] int rc = setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_IF, &interface_address,
                                       sizeof interface_address);
  if (bind(handle_, local.Raw(), CSockAddr::kRawSize) != 0) {
    Fail();
    const int error = last_error_;
    Close();
    last_error_ = error;
    return -1;
  }
  return 0;
}

int CUdpSocket::BindGroupListener(uint16_t port, const char* address) {
  CSockAddr local;
  const int resolved = address == nullptr ? local.SetAny(port) : local.SetFromText(address, port);
  if (resolved != 0) {
    last_error_ = EADDRNOTAVAIL;
    return -1;
  }
  const uint32_t card = local.RawIn()->sin_addr.s_addr;
  const auto refuse = [this](int error) {
    Close();
    last_error_ = error;
    return -1;
  };
  if (card != 0) {
    // The socket itself binds to every interface, so ask the system whether the card is one of
    // this machine's addresses, as binding to it would.
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return refuse(errno);
    CSockAddr probe_address;
    probe_address.Set(local.Address(), 0);
    const int rc = bind(probe, probe_address.Raw(), CSockAddr::kRawSize);
    const int error = errno;
    close(probe);
    if (rc != 0) return refuse(error);
  }

  SetIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1);
  in_addr interface_address = local.RawIn()->sin_addr;
  [[maybe_unused]] int rc = setsockopt(handle_, IPPROTO_IP, IP_MULTICAST_IF, &interface_address,
                                       sizeof interface_address);
  // Only the groups this socket joined, not every group some socket of the machine joined.
  SetIntOption(handle_, IPPROTO_IP, IP_MULTICAST_ALL, 0);
  SetIntOption(handle_, IPPROTO_IP, IP_PKTINFO, card != 0 ? 1 : 0);

  CSockAddr any;
  any.SetAny(port);
  if (bind(handle_, any.Raw(), CSockAddr::kRawSize) != 0) return refuse(errno);

  filter_unicast_ = card != 0;
  card_address_ = card;
  card_broadcast_ = 0;
  card_index_ = 0;
  if (filter_unicast_) {
    std::vector<vqscw::NetInterfaceAddress> interfaces;
    if (vqscw::GetNetInterfaces(&interfaces)) {
      for (const vqscw::NetInterfaceAddress& entry : interfaces) {
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

bool CUdpSocket::Accepts(uint32_t destination, int interface_index) const {
  if (destination == card_address_ || IsMulticast(destination)) return true;
  const bool broadcast =
      destination == kLimitedBroadcast || (card_broadcast_ != 0 && destination == card_broadcast_);
  return broadcast && card_index_ != 0 && interface_index == card_index_;
}

int CUdpSocket::JoinGroup(uint32_t group, uint32_t interface_address) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interface_address;
  if (setsockopt(handle_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
    return Fail();
  }
  return 0;
}

int CUdpSocket::WaitReadable(uint32_t timeout_ms) {
  if (handle_ == kInvalidHandle) {
    last_error_ = EBADF;
    return -1;
  }
  const bool forever = timeout_ms == kWaitForever;
  const int64_t deadline = MonotonicNs() + static_cast<int64_t>(timeout_ms) * 1000000;
  for (;;) {
    timespec timeout{};
    if (!forever) {
      const int64_t left = deadline - MonotonicNs();
      if (left > 0) {
        timeout.tv_sec = static_cast<time_t>(left / 1000000000);
        timeout.tv_nsec = static_cast<long>(left % 1000000000);
      }
    }
    pollfd pfd{handle_, POLLIN, 0};
    const int rc = ppoll(&pfd, 1, forever ? nullptr : &timeout, nullptr);
    if (rc > 0) {
      if ((pfd.revents & POLLNVAL) != 0) {
        last_error_ = EBADF;
        return -1;
      }
      return 1;
    }
    if (rc == 0) return 0;
    if (errno != EINTR) return Fail();
  }
}

int CUdpSocket::ReceiveFrom(CSockAddr* source, void* buffer, uint32_t size) {
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
  if (source != nullptr) *source->RawIn() = from;
  return static_cast<int>(length);
}

int CUdpSocket::SendTo(const CSockAddr& destination, const void* data, uint32_t length) {
  iovec iov{const_cast<void*>(data), length};
  msghdr header{};
  header.msg_name = const_cast<sockaddr*>(destination.Raw());
  header.msg_namelen = CSockAddr::kRawSize;
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

int CUdpSocket::BufferSize(int option) {
  int size = 0;
  socklen_t length = sizeof size;
  if (getsockopt(handle_, SOL_SOCKET, option, &size, &length) != 0) {
    Fail();
    return -1;
  }
  return size;
}

int CUdpSocket::ReceiveBufferSize() { return BufferSize(SO_RCVBUF); }
int CUdpSocket::SendBufferSize() { return BufferSize(SO_SNDBUF); }

int CUdpSocket::Close() {
  if (handle_ == kInvalidHandle) return -1;
  shutdown(handle_, SHUT_RDWR);
  const int rc = close(handle_);
  if (rc != 0) Fail();
  handle_ = kInvalidHandle;
  filter_unicast_ = false;
  return rc;
}
