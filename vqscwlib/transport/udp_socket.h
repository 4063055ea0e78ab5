// CUdpSocket: one IPv4 UDP socket as the message endpoints use it: a vqscw::DatagramSocket that
// takes its addresses as CSockAddr and its local address as text.
//
// A thin wrapper: every operation reports failure by its result only, and LastError() gives the
// errno of the last call that failed. The socket is blocking; a receive is meant to follow a
// WaitReadable() that reported data.
//
// Receives see a datagram's real length: a datagram longer than the receive buffer is consumed
// and reported as a failure with LastError() == EMSGSIZE, never as a shorter datagram.
//
// A socket belongs to one thread at a time; that thread may wait on Datagram() together with
// other sockets and events (vqscw::SocketWait).
#ifndef VQSCWLIB_TRANSPORT_UDP_SOCKET_H_
#define VQSCWLIB_TRANSPORT_UDP_SOCKET_H_

#include <cstdint>

#include "vqscwlib/platform/datagram_socket.h"
#include "vqscwlib/transport/net_address.h"

class CUdpSocket {
 public:
  static constexpr int kInvalidHandle = vqscw::DatagramSocket::kInvalidHandle;
  // WaitReadable time-out meaning "no limit".
  static constexpr uint32_t kWaitForever = vqscw::DatagramSocket::kWaitForever;

  CUdpSocket() = default;
  // Closes the socket when open.
  virtual ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  // Opens a new socket (closing none: call on a closed socket). Returns 0, or -1 with the handle
  // invalid.
  int Create() { return Track(socket_.Open()); }

  // Binds to `port` on the address `address` names (a dotted address, "host" or "host:port", see
  // CSockAddr::SetFromText, with `port` as the default port), or on every interface when
  // `address` is null. Makes the port shareable with other sockets (SO_REUSEADDR) and sends
  // multicast through the interface of the local address. Returns 0, or -1: when the text cannot
  // be resolved the socket stays open; when the system refuses the binding the socket is closed.
  int Bind(uint16_t port, const char* address);

  // Binds like Bind() for a socket that must hear multicast groups on one network card (see
  // vqscw::DatagramSocket::BindGroupListener): it hears only the groups it joined, on the
  // interfaces it joined them on, and, when `address` names a card, drops unicast datagrams
  // addressed to anything but that card and sends from the card's address.
  int BindGroupListener(uint16_t port, const char* address);

  // Joins multicast group `group` on the interface with address `interface_address`, both network
  // order as held in memory. Returns 0 on success, else -1.
  int JoinGroup(uint32_t group, uint32_t interface_address) {
    return Track(socket_.JoinGroup(group, interface_address));
  }

  // Waits until a datagram can be read, at most `timeout_ms` (kWaitForever: no limit; 0 polls).
  // Returns 1 when readable, 0 on time-out, a negative value on error.
  int WaitReadable(uint32_t timeout_ms) { return Track(socket_.WaitReadable(timeout_ms)); }

  // Reads one datagram into `buffer` (`size` bytes) and stores its sender in *source. Returns its
  // length; a datagram longer than `size` is consumed and gives -1 (LastError() EMSGSIZE), as
  // does any other failure. A datagram a group listener filters out is consumed and gives 0 with
  // *source unchanged. Blocks when nothing is waiting.
  int ReceiveFrom(CSockAddr* source, void* buffer, uint32_t size) {
    return Track(socket_.ReceiveFrom(buffer, size, source != nullptr ? source->RawIn() : nullptr));
  }

  // Sends one datagram. Returns the count sent, or a negative value.
  int SendTo(const CSockAddr& destination, const void* data, uint32_t length) {
    return Track(socket_.SendTo(*destination.RawIn(), data, length));
  }

  // The system's buffer sizes (read, never set), or -1 when they cannot be read.
  int ReceiveBufferSize() { return Track(socket_.ReceiveBufferSize()); }
  int SendBufferSize() { return Track(socket_.SendBufferSize()); }

  // Shuts the socket down and closes it. Returns the result of the close, or -1 when the socket
  // was not open.
  int Close();

  int Handle() const { return socket_.Handle(); }
  bool IsOpen() const { return socket_.IsOpen(); }
  // errno of the last failed call on this socket, 0 when none has failed.
  int LastError() const { return last_error_; }

  vqscw::DatagramSocket& Datagram() { return socket_; }

 private:
  // Keeps the socket's error when `result` reports a failure.
  int Track(int result) {
    if (result < 0) last_error_ = socket_.LastError();
    return result;
  }

  vqscw::DatagramSocket socket_;
  int last_error_ = 0;
};

#endif  // VQSCWLIB_TRANSPORT_UDP_SOCKET_H_
