// IPv4 addresses as the message exchange and the protocol pass them around (NetAddress, the
// destination of a send, is public).
//
// Two conventions meet here. NetAddress and CSockAddr's Address()/Set() take addresses in host
// order: the first dotted number in the most significant byte (10.0.0.5 is 0x0A000005).
// Interface addresses handed to JoinGroup and kept by the selector are in network order as held
// in memory; convert with htonl/ntohl.
#ifndef VQSCWLIB_TRANSPORT_NET_ADDRESS_H_
#define VQSCWLIB_TRANSPORT_NET_ADDRESS_H_

#include <netinet/in.h>

#include <cstdint>

#include "vqscw/endpoint.h"

// The host-order address of `text` when it is a dotted IPv4 address ("10.0.0.5", optionally
// followed by ":port"); 0 when it is not. Empty segments read as 0 ("1..2.3" is 1.0.2.3, "1.2.3."
// is 1.2.3.0); a segment above 255, other than three dots, or a character other than digits, "."
// and ":" give 0. "0.0.0.0" gives 0 as well, so callers treat it as a host name. A null text
// gives 0.
uint32_t ParseDotted(const char* text);

// One IPv4 socket address (family AF_INET, port and address in network order, the rest zero),
// filled by one of its setters. The setters that take text may resolve host names; call them only
// while opening an endpoint, never on a path that must not block.
class CSockAddr {
 public:
  // The longest host name SetFromText looks up is one character shorter than this.
  static constexpr int kMaxHostName = 80;

  CSockAddr();
  virtual ~CSockAddr();

  // 0.0.0.0 (any interface) and `port`. Returns 0.
  int SetAny(uint16_t port);
  // `address` (host order) and `port`. Returns 0.
  int Set(uint32_t address, uint16_t port);
  // `text` is a host or "host:port"; the number after the first colon (its leading decimal digits,
  // 0 when there are none, taken modulo 65536) replaces `default_port`. A dotted address is taken
  // as it is; "localhost" means this machine's own address (SetOwnHost), not loopback; any other
  // name of 1 to 79 characters is resolved and its first IPv4 address taken. Returns 0, or -1
  // (the address unchanged) when the text is null, the name is empty or too long, or it does not
  // resolve.
  int SetFromText(const char* text, uint16_t default_port);
  // This machine's own address and `port`: its first IPv4 address outside 127.0.0.0/8 in the
  // order the system lists its interfaces; on a machine that has none, what its host name
  // resolves to. Returns 0, or -1 (the address unchanged) when neither gives an address.
  int SetOwnHost(uint16_t port);

  // Host order.
  uint32_t Address() const;
  uint16_t Port() const;

  const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&addr_); }
  sockaddr_in* RawIn() { return &addr_; }
  const sockaddr_in* RawIn() const { return &addr_; }
  static constexpr socklen_t kRawSize = sizeof(sockaddr_in);

 private:
  sockaddr_in addr_;
};

#endif  // VQSCWLIB_TRANSPORT_NET_ADDRESS_H_
