// IPv4 datagram sockets and the one wait on them.
//
// DatagramSocket is every UDP socket of the library and its tools: the endpoints' sockets (through
// the transport's CUdpSocket), the receiver filter's and the stream monitor's group sockets, and
// the software terminal's RTP sender. Addresses and ports are given as the system holds them:
// sockaddr_in, or a uint32_t address in network order as held in memory. Every operation reports
// failure by its result only, and LastError() gives the errno of the last call that failed. The
// socket is blocking; a receive is meant to follow a wait that reported data (a batch receive
// never blocks).
//
// Receives see a datagram's real length: a datagram longer than the receive buffer is consumed
// and reported as a failure with LastError() == EMSGSIZE (a batch receive flags it instead), never
// as a shorter datagram.
//
// SocketWait waits for any of a set of sockets (and events) to become readable, or for a stop
// event, with a time-out: poll() underneath. A socket a wait found readable stays known as such
// until it is next received from, so WaitReadable() after that wait returns at once instead of
// asking the system again.
//
// A socket belongs to one thread at a time, and so does a SocketWait.
#ifndef VQSCWLIB_PLATFORM_DATAGRAM_SOCKET_H_
#define VQSCWLIB_PLATFORM_DATAGRAM_SOCKET_H_

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vqscw {

class Event;

// The storage of one batch receive: up to kCapacity datagrams with the time each one reached the
// host. The kernel stamps every datagram as it arrives (SO_TIMESTAMPNS, asked for by
// DatagramSocket::OpenGroup), so a receiver that drains its socket only every few milliseconds
// still knows when each packet came, to the microsecond; the stamps are carried over to the
// platform's monotonic clock (MonotonicMicroseconds) by their age at the time of the receive.
// It allocates nothing.
class DatagramBatch {
 public:
  static constexpr int kCapacity = 32;

  DatagramBatch() = default;
  DatagramBatch(const DatagramBatch&) = delete;
  DatagramBatch& operator=(const DatagramBatch&) = delete;

  // Of the i-th datagram of the last receive: its length (of what fit), whether it was longer
  // than its buffer, and its arrival on the MonotonicMicroseconds clock.
  uint32_t length(int i) const { return messages_[i].msg_len; }
  bool truncated(int i) const { return (messages_[i].msg_hdr.msg_flags & MSG_TRUNC) != 0; }
  uint64_t arrival_us(int i) const { return arrivals_[i]; }

 private:
  friend class DatagramSocket;
  static constexpr size_t kControlBytes = CMSG_SPACE(sizeof(timespec));

  mmsghdr messages_[kCapacity] = {};
  iovec vectors_[kCapacity] = {};
  alignas(cmsghdr) unsigned char control_[kCapacity][kControlBytes] = {};
  uint64_t arrivals_[kCapacity] = {};
};

class DatagramSocket {
 public:
  static constexpr int kInvalidHandle = -1;
  // WaitReadable time-out meaning "no limit".
  static constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

  DatagramSocket() = default;
  // Closes the socket when open.
  ~DatagramSocket();
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;

  // Opens a new socket (closing none: call on a closed socket). Returns 0, or -1 with the handle
  // invalid.
  int Open();

  // Binds to `local`. Makes the port shareable with other sockets (SO_REUSEADDR) and sends
  // multicast through the interface of the local address. Returns 0, or -1 with the socket closed
  // when the system refuses the binding.
  int Bind(const sockaddr_in& local);

  // Binds to `local` without sharing its port, leaving the socket open when the system refuses.
  // Returns 0 or -1.
  int BindExclusive(const sockaddr_in& local);

  // Binds like Bind() for a socket that must hear multicast groups on one network card, the one
  // with the address of `local` (0.0.0.0: every card). Linux does not deliver group traffic to a
  // socket bound to a unicast address, so the socket is bound to every interface on the port and
  // filters instead: it hears only the groups it joined, on the interfaces it joined them on, and,
  // when `local` names a card, drops unicast datagrams addressed to anything but that card
  // (broadcasts on the card's own interface stay) and sends from the card's address. Several such
  // sockets on one port all hear the group. Returns 0, or -1 with the socket closed (also when
  // the card is not one of this machine's addresses).
  int BindGroupListener(const sockaddr_in& local);

  // Opens a socket (call on a closed one) on `port` (network order) of every address, with address
  // reuse and kernel receive times, that delivers only the groups it joins, and joins `group` on
  // `interface_address` (both in network order; 0 joins on the interface the routing table
  // picks). For batch receives. Returns 0, or -1 with nothing left open.
  int OpenGroup(uint32_t group, uint16_t port, uint32_t interface_address);

  // Joins multicast group `group` on the interface with address `interface_address`, both network
  // order as held in memory. Returns 0 on success, else -1.
  int JoinGroup(uint32_t group, uint32_t interface_address);

  // Sends multicast through the interface with address `interface_address` (network order).
  // Returns 0 or -1.
  int SetMulticastInterface(uint32_t interface_address);

  // Waits until a datagram can be read, at most `timeout_ms` (kWaitForever: no limit; 0 polls).
  // Returns 1 when readable, 0 on time-out, a negative value on error. Returns 1 at once when a
  // SocketWait found the socket readable and nothing was received since.
  int WaitReadable(uint32_t timeout_ms);

  // Reads one datagram into `buffer` (`size` bytes) and stores its sender in *source (when not
  // null). Returns its length; a datagram longer than `size` is consumed and gives -1
  // (LastError() EMSGSIZE), as does any other failure. A datagram a group listener filters out is
  // consumed and gives 0 with *source unchanged. Blocks when nothing is waiting.
  int ReceiveFrom(void* buffer, uint32_t size, sockaddr_in* source);

  // Receives, without waiting, up to `count` (at most DatagramBatch::kCapacity) datagrams, the
  // i-th into `buffers[i]` of `capacity` bytes, their lengths, truncation and arrival times into
  // *batch. Returns how many arrived (0 when none waited) or -1.
  int ReceiveBatch(DatagramBatch* batch, uint8_t* const* buffers, uint32_t capacity, int count);

  // Sends one datagram. Returns the count sent, or a negative value.
  int SendTo(const sockaddr_in& destination, const void* data, uint32_t length);

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
  friend class SocketWait;

  int Fail();
  int FailAndClose(int error);
  int BufferSize(int option);
  bool Accepts(uint32_t destination, int interface_index) const;

  int handle_ = kInvalidHandle;
  int last_error_ = 0;
  // Set by a SocketWait that found the socket readable; cleared by every receive.
  bool known_readable_ = false;
  // Set by BindGroupListener with a card: the card's address (network order), its interface and
  // its subnet's broadcast address.
  bool filter_unicast_ = false;
  uint32_t card_address_ = 0;
  uint32_t card_broadcast_ = 0;
  int card_index_ = 0;
};

// How a wait ended.
enum class WaitResult {
  kReady,        // a socket or event is readable, or the stop event is set: see the flags
  kTimeout,      // nothing within the time-out
  kInterrupted,  // a signal handler ran first
  kFailed,       // the system refused the wait
};

// A set of sockets and events to wait for, and an optional stop event. The set is kept between
// waits (a wait allocates nothing once the set is built); each wait reads the sockets' handles
// anew.
class SocketWait {
 public:
  // Wait time-out meaning "no limit".
  static constexpr int kForever = -1;

  // Waits for `stop` (null: none) besides what is added; `stop` must outlive the wait.
  explicit SocketWait(const Event* stop = nullptr);
  SocketWait(const SocketWait&) = delete;
  SocketWait& operator=(const SocketWait&) = delete;

  // Forgets the sockets and events added (not the stop event).
  void Clear();
  // Adds a socket or an event; its index is the number added before it. Each must outlive its
  // place in the set.
  void Add(DatagramSocket* socket);
  void Add(const Event* event);

  // Waits up to `timeout_ms` (kForever: no limit; 0: looks once) until an entry is readable or
  // the stop event is set. A socket reports readable also when the system reports an error or a
  // hang-up on it (its receive then tells which).
  WaitResult Wait(int timeout_ms);

  // Of the last wait: whether the stop event was set (an auto-reset event is still to be claimed
  // with its Wait(0)), and whether the index-th entry was readable.
  bool stopped() const;
  bool readable(size_t index) const;

 private:
  size_t first_entry() const { return has_stop_ ? 1 : 0; }

  const bool has_stop_;
  std::vector<pollfd> fds_;               // the stop event first, when there is one
  std::vector<DatagramSocket*> sockets_;  // per entry; null for an event
};

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_DATAGRAM_SOCKET_H_
