// Receiving a multicast stream in batches: the socket that hears one group, and one recvmmsg()
// call that takes up to kCapacity datagrams with the time each one reached the host.
//
// The kernel stamps every datagram as it arrives (SO_TIMESTAMPNS), so a receiver that drains its
// socket only every few milliseconds still knows when each packet came, to the microsecond; the
// stamps are carried over to the platform's monotonic clock (MonotonicMicroseconds) by their age
// at the time of the receive. Used by the receiver filter and by the stream monitor tool.
//
// Threads: a DatagramBatch belongs to one thread. It allocates nothing.
#ifndef VQSCWLIB_PREVIEW_DATAGRAM_BATCH_H_
#define VQSCWLIB_PREVIEW_DATAGRAM_BATCH_H_

#include <sys/socket.h>
#include <time.h>

#include <cstdint>

namespace vqscw {

// Opens a datagram socket on `port` (network order) of every address, with address reuse and
// kernel receive times, that delivers only the groups it joins, and joins `group` on
// `interface_address` (both in network order; 0 joins on the interface the routing table picks).
// Returns the socket, or -1 with errno set and nothing left open.
int OpenGroupSocket(uint32_t group, uint16_t port, uint32_t interface_address);

class DatagramBatch {
 public:
  static constexpr int kCapacity = 32;

  DatagramBatch() = default;
  DatagramBatch(const DatagramBatch&) = delete;
  DatagramBatch& operator=(const DatagramBatch&) = delete;

  // Receives, without waiting, up to `count` (at most kCapacity) datagrams from `socket`, the
  // i-th into `buffers[i]` of `capacity` bytes. Returns how many arrived (0 when none waited) or
  // -1 with errno set.
  int Receive(int socket, uint8_t* const* buffers, uint32_t capacity, int count);

  // Of the i-th datagram of the last Receive: its length (of what fit), whether it was longer
  // than its buffer, and its arrival on the MonotonicMicroseconds clock.
  uint32_t length(int i) const { return messages_[i].msg_len; }
  bool truncated(int i) const { return (messages_[i].msg_hdr.msg_flags & MSG_TRUNC) != 0; }
  uint64_t arrival_us(int i) const { return arrivals_[i]; }

 private:
  static constexpr size_t kControlBytes = CMSG_SPACE(sizeof(timespec));

  mmsghdr messages_[kCapacity] = {};
  iovec vectors_[kCapacity] = {};
  alignas(cmsghdr) unsigned char control_[kCapacity][kControlBytes] = {};
  uint64_t arrivals_[kCapacity] = {};
};

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_DATAGRAM_BATCH_H_
