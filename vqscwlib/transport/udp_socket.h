// CUdpSocket: one IPv4 UDP socket.
//
// A thin wrapper: every operation reports failure by its result only, and LastError() gives the
// errno of the last call that failed. The socket is blocking; a receive is meant to follow a
// WaitReadable() that reported data.
//
// Receives see a datagram's real length: a datagram longer than the receive buffer is consumed
// and reported as a failure with LastError() == EMSGSIZE, never as a shorter datagram.
//
// A socket belongs to one thread at a time; Handle() may be polled by that thread together with
// other descriptors.
#ifndef VQSCWLIB_TRANSPORT_UDP_SOCKET_H_
#define VQSCWLIB_TRANSPORT_UDP_SOCKET_H_

#include <cstdint>

#include "vqscwlib/transport/net_address.h"

class CUdpSocket {
 public:
  static constexpr int kInvalidHandle = -1;
  // WaitReadable time-out meaning "no limit".
  static constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

  CUdpSocket();
  // Closes the socket when open.
  virtual ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  // Opens a new socket (closing none: call on a closed socket). Returns 0, or -1 with the handle
  // invalid.
  int Create();

  // Binds to `port` on the address `address` names (a dotted address, "host" or "host:port", see
  // CSockAddr::SetFromText, with `port` as the default port), or on every interface when
  // `address` is null. Makes the port shareable with other sockets (SO_REUSEADDR) and sends
  // multicast through the interface of the local address. Returns 0, or -1: when the text cannot
  // be resolved the socket stays open; when the system refuses the binding the socket is closed.
  int Bind(uint16_t port, const char* address);

  // Binds like Bind() for a socket that must hear multicast groups on one network card. Linux
  // does not deliver group traffic to a socket bound to a unicast address, so the socket is bound
  // to every interface on the port and filters instead: it hears only the groups it joined, on
  // the interfaces it joined them on, and, when `address` names a card, drops unicast datagrams
  // addressed to anything but that card (broadcasts on the card's own interface stay) and sends
  // from the card's address. Several such sockets on one port all hear the group.
  int BindGroupListener(uint16_t port, const char* address);

  // Joins multicast group `group` on the interface with address `interface_address`, both network
  // order as held in memory. Returns 0 on success, else -1.
  int JoinGroup(uint32_t group, uint32_t interface_address);

  // Waits until a datagram can be read, at most `timeout_ms` (kWaitForever: no limit; 0 polls).
  // Returns 1 when readable, 0 on time-out, a negative value on error.
  int WaitReadable(uint32_t timeout_ms);

  // Reads one datagram into `buffer` (`size` bytes) and stores its sender in *source. Returns its
  // length; a datagram longer than `size` is consumed and gives -1 (LastError() EMSGSIZE), as
  // does any other failure. A datagram a group listener filters out is consumed and gives 0 with
  // *source unchanged. Blocks when nothing is waiting.
  int ReceiveFrom(CSockAddr* source, void* buffer, uint32_t size);

  // Sends one datagram. Returns the count sent, or a negative value.
  int SendTo(const CSockAddr& destination, const void* data, uint32_t length);

  // The system's buffer sizes (read, never set), or -1 when they cannot be read.
  int ReceiveBufferSize();
  int SendBufferSize();

  // Shuts the socket down and closes it. Returns the result of the close, or -1 when the socket
  // was not open.
  int Close();

  int Handle() const { return handle_; }
  bool IsOpen() const { return handle_ != kInvalidHandle; }
  // errno of the last failed call on this socket, 0 when none has failed.
  int LastError() const { return last_error_; }

 private:
  int Fail();
  int BufferSize(int option);
  bool Accepts(uint32_t destination, int interface_index) const;

  int handle_;
  int last_error_;
  // Set by BindGroupListener with a card: the card's address (network order), its interface and
  // its subnet's broadcast address.
  bool filter_unicast_;
  uint32_t card_address_;
  uint32_t card_broadcast_;
  int card_index_;
};

#endif  // VQSCWLIB_TRANSPORT_UDP_SOCKET_H_
