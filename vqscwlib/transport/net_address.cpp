#include "vqscwlib/transport/net_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "vqscwlib/platform/net_interfaces.h"

namespace {

constexpr int kHostNameBufferSize = 257;
constexpr char kOwnHostName[] = "localhost";

// The first IPv4 address `name` resolves to, network order; false when it resolves to none.
bool ResolveName(const char* name, in_addr_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return false;
  bool found = false;
  for (const addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
      *address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(result);
  return found;
}

}  // namespace

NetAddress::NetAddress() : address_(0), port_(0) {}
NetAddress::NetAddress(uint32_t address, uint16_t port) : address_(address), port_(port) {}
void NetAddress::Clear() {
  address_ = 0;
  port_ = 0;
}
void NetAddress::SetAddress(uint32_t address) { address_ = address; }
void NetAddress::SetPort(uint16_t port) { port_ = port; }
uint32_t NetAddress::Address() const { return address_; }
uint16_t NetAddress::Port() const { return port_; }

uint32_t ParseDotted(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if ((*p < '0' || *p > '9') && *p != '.' && *p != ':') return 0;
  }
  uint32_t result = 0;
  uint32_t segment = 0;  // saturates above 255: any such value is refused anyway
  int dots = 0;
  for (const char* p = text;; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      if (segment <= 255) segment = segment * 10 + static_cast<uint32_t>(c - '0');
      continue;
    }
    // A separator or the end: shift the segment in.
    if (segment > 255) return 0;
    if (c == '.') {
      if (++dots > 4) return 0;
      result = (result << 8) | segment;
      segment = 0;
      continue;
    }
    if (dots != 3) return 0;  // at ':' and at the end alike
    return (result << 8) | segment;
  }
}

CSockAddr::CSockAddr() { std::memset(&addr_, 0, sizeof addr_); }
CSockAddr::~CSockAddr() = default;

int CSockAddr::SetAny(uint16_t port) { return Set(0, port); }

int CSockAddr::Set(uint32_t address, uint16_t port) {
  std::memset(&addr_, 0, sizeof addr_);
  addr_.sin_family = AF_INET;
  addr_.sin_port = htons(port);
  addr_.sin_addr.s_addr = htonl(address);
  return 0;
}

int CSockAddr::SetFromText(const char* text, uint16_t default_port) {
  if (text == nullptr) return -1;
  uint16_t port = default_port;
  const char* colon = std::strchr(text, ':');
  if (colon != nullptr) {
    port = 0;
    // Modulo 65536, as the port field holds it.
    for (const char* p = colon + 1; *p >= '0' && *p <= '9'; ++p) {
      port = static_cast<uint16_t>(port * 10 + (*p - '0'));
    }
  }
  const uint32_t dotted = ParseDotted(text);
  if (dotted != 0) return Set(dotted, port);

  const size_t name_length =
      colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
  if (name_length == 0 || name_length >= static_cast<size_t>(kMaxHostName)) return -1;
  char name[kMaxHostName];
  std::memcpy(name, text, name_length);
  name[name_length] = '\0';
  if (std::strcmp(name, kOwnHostName) == 0) return SetOwnHost(port);
  in_addr_t address;
  if (!ResolveName(name, &address)) return -1;
  return Set(ntohl(address), port);
}

int CSockAddr::SetOwnHost(uint16_t port) {
  in_addr_t address = vqscw::FirstNonLoopbackAddress();
  if (address == 0) {
    // Only loopback addresses: fall back to what the host name resolves to.
    char host[kHostNameBufferSize];
    if (gethostname(host, sizeof host) != 0) return -1;
    host[sizeof host - 1] = '\0';
    if (!ResolveName(host, &address)) return -1;
  }
  return Set(ntohl(address), port);
}

uint32_t CSockAddr::Address() const { return ntohl(addr_.sin_addr.s_addr); }
uint16_t CSockAddr::Port() const { return ntohs(addr_.sin_port); }
