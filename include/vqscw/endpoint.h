// Message endpoints: CMessageEndpoint carries CMessages in frames over one UDP socket.
//
// A client endpoint sends: either an unacknowledged datagram (mode KIND_DATAGRAM), or an
// acknowledged message (mode KIND_MESSAGE) that it repeats on its retry schedule until the
// receiver answers with an acknowledgement frame. A server endpoint receives: WaitForMessage()
// waits for the next frame, acknowledges it when the sender asks (never towards a multicast
// source), drops repeats of a frame already delivered, and ReceiveMessage() decodes the body.
// What a received frame is worth is decided by the endpoint class's Classify(): use
// CServerEndpoint to receive and CClientEndpoint to send.
//
// An endpoint has no lock: it belongs to one thread at a time. An acknowledged send blocks its
// caller for up to the sum of the schedule's waits (1000 ms by default) plus the sends.
//
// Every operation that fails records a reason in LastError() (the kEndpoint* codes below); Open
// fails without one. Times are milliseconds of the library's monotonic tick.
//
// Addresses: NetAddress holds IPv4 addresses in host order, the first dotted number in the most
// significant byte (10.0.0.5 is 0x0A000005). Interface addresses handed to JoinGroup are in
// network order as held in memory; convert with htonl/ntohl.
#ifndef VQSCW_ENDPOINT_H_
#define VQSCW_ENDPOINT_H_

#include <cstddef>
#include <cstdint>
#include <new>

#include "vqscw/export.h"
#include "vqscw/message.h"

// The endpoint's socket, socket address and duplicate filter are the library's own; a host only
// ever holds them through an endpoint.
class CUdpSocket;
class CSockAddr;
class CDuplicateFilter;

// An IPv4 address and a UDP port, both in host order: the destination of every message-level send.
class VQSCW_EXPORT NetAddress {
 public:
  NetAddress();
  NetAddress(uint32_t address, uint16_t port);

  void Clear();
  void SetAddress(uint32_t address);
  void SetPort(uint16_t port);
  uint32_t Address() const;
  uint16_t Port() const;

 private:
  uint32_t address_;
  uint16_t port_;
};

// CDatagramBuffer: the storage of one datagram an endpoint sends or receives: a 16-byte frame
// header followed by the payload (the message body). Classify() reads the header of a received
// frame from it; the endpoint makes and owns its buffer.
//
// Either it owns its storage (built with a payload capacity) or it is a view over storage the
// caller owns, which must outlive the buffer. Not thread-safe; it belongs to its endpoint.
class CDatagramBuffer {
 public:
  // Owns 16 + `capacity` bytes. When that memory cannot be had the buffer has no storage and a
  // capacity of 0 (check Storage()).
  explicit CDatagramBuffer(uint32_t capacity)
      : capacity_(capacity),
        storage_(new (std::nothrow) uint8_t[static_cast<size_t>(kFrameHeaderSize) + capacity]()),
        owns_(true) {
    if (storage_ == nullptr) capacity_ = 0;
  }
  // A view over `size` bytes at `storage`; the payload capacity is size - 16, or 0 when size is
  // 16 or less.
  CDatagramBuffer(uint8_t* storage, uint32_t size)
      : capacity_(size > static_cast<uint32_t>(kFrameHeaderSize) ? size - kFrameHeaderSize : 0),
        storage_(storage),
        owns_(false) {}
  virtual ~CDatagramBuffer() {
    if (owns_) delete[] storage_;
  }
  CDatagramBuffer(const CDatagramBuffer&) = delete;
  CDatagramBuffer& operator=(const CDatagramBuffer&) = delete;

  // Payload bytes that fit after the header.
  uint32_t Capacity() const { return capacity_; }
  // Payload bytes of the frame held (its datagram length minus 16).
  uint32_t Length() const { return length_; }
  void SetLength(uint32_t length) { length_ = length; }
  // Sender of the frame held, host order.
  uint32_t SourceAddress() const { return source_; }
  void SetSourceAddress(uint32_t address) { source_ = address; }

  // The frame: header at Storage(), body at Body(). Null when the buffer has no storage.
  uint8_t* Storage() const { return storage_; }
  uint8_t* Body() const { return storage_ == nullptr ? nullptr : storage_ + kFrameHeaderSize; }
  // Bytes of the whole frame held: header and payload.
  uint32_t FrameLength() const { return kFrameHeaderSize + length_; }

 private:
  uint32_t capacity_;
  uint32_t length_ = 0;
  uint32_t source_ = 0;
  uint8_t* storage_;
  bool owns_;
};

// Failure reasons.
constexpr int32_t kEndpointRefused = 1000;         // the receiver answered "N"
constexpr int32_t kEndpointTimeout = 1001;         // no acknowledgement / no frame in time, or a
                                                   // datagram the socket did not send whole
constexpr int32_t kEndpointNoMessage = 9000;       // no message or buffer given
constexpr int32_t kEndpointNoSchedule = 9001;      // acknowledged send without a retry schedule
constexpr int32_t kEndpointWrongVersion = 9003;    // received message of another protocol version
constexpr int32_t kEndpointNoBuffer = 9004;        // send on an endpoint never opened
constexpr int32_t kEndpointTooLarge = 9005;        // encoding larger than the buffer
constexpr int32_t kEndpointNotServer = 9006;       // wait on an endpoint not opened as a server
constexpr int32_t kEndpointEncodeMismatch = 9007;  // encoder wrote another size than it computed
constexpr int32_t kEndpointBadBody = 9008;         // body rejected or not consumed whole
constexpr int32_t kEndpointReceiveError = 9009;    // the receive failed (a line is printed)
constexpr int32_t kEndpointShortSend = 9010;       // acknowledged send: not sent whole
constexpr int32_t kEndpointAckWaitFailed = 9011;   // acknowledged send: the wait failed
constexpr int32_t kEndpointReadableWaitFailed = 9012;  // WaitForMessage: the wait failed

class VQSCW_EXPORT CMessageEndpoint {
 public:
  // WaitForMessage/ReceiveMessage time-out meaning "no limit".
  static constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
  // The retry schedule every client endpoint gets: 4 attempts sharing 1000 ms, each wait twice
  // the one before (62, 124, 248 and 566 ms).
  static constexpr uint32_t kDefaultAttempts = 4;
  static constexpr uint32_t kDefaultRetryTotalMs = 1000;
  static constexpr uint32_t kDefaultRetryGrowthPercent = 200;

  // A closed endpoint without buffer, filter or schedule. The sequence number starts at the
  // current tick.
  CMessageEndpoint();
  // Closes; destroys the owned buffer, filter and schedule.
  virtual ~CMessageEndpoint();
  CMessageEndpoint(const CMessageEndpoint&) = delete;
  CMessageEndpoint& operator=(const CMessageEndpoint&) = delete;

  // Decides what a received frame (header at frame.Storage(), at least 16 bytes) is worth:
  // whether to deliver it, whether to acknowledge it, and the verdict of that acknowledgement
  // (true "A", false "N").
  virtual void Classify(const CDatagramBuffer& frame, bool* deliver, bool* acknowledge,
                        bool* accepted) = 0;

  // Opens the endpoint (closing it first when open) on `port` of the card `address` names (a
  // dotted address, "host:port", or a host name, resolved here; "localhost" is this machine's
  // first address outside 127.0.0.0/8; null: every interface). A server needs a port and hears
  // the groups it joins on that card, and of unicast only what is addressed to that card; a
  // client may pass port 0 and no address, and the system then picks its port at the first send.
  // The first Open makes the datagram buffer, sized from the socket's buffers; a server also gets
  // its duplicate filter, a client the default retry schedule unless it has one. Returns true
  // when open.
  bool Open(bool server, const char* address, uint16_t port);
  // Closes the socket when open. Buffer, filter and schedule stay for the next Open.
  void Close();
  bool IsOpen() const { return open_; }

  // Replaces the retry schedule: `attempts` waits sharing `total_ms`, each `growth_percent`
  // percent of the one before, in integer arithmetic; the last wait takes what the rounding left.
  // False (schedule unchanged) when attempts is 0, growth_percent is not above 100, or the growth
  // overflows 32 bits.
  bool SetRetrySchedule(uint32_t attempts, uint32_t total_ms, uint32_t growth_percent);
  uint32_t AttemptCount() const { return attempts_; }
  // The wait of attempt `i`; REQUIRES: i < AttemptCount().
  uint32_t RetryWait(uint32_t i) const { return schedule_[i]; }

  // Encodes `message` into the buffer and sends it to `destination` with the next sequence
  // number: mode KIND_DATAGRAM sends once; mode KIND_MESSAGE sends until the destination (for a
  // multicast destination, any host answering from the destination's port) acknowledges the
  // frame, at most AttemptCount() times. True when sent and, in mode KIND_MESSAGE, accepted
  // ("A"). Any other mode returns false without touching LastError().
  bool SendMessage(const NetAddress& destination, const CMessage* message, uint8_t mode);

  // Waits up to `timeout_ms` in all (kWaitForever: no limit; 0: one poll) for a frame to deliver,
  // acknowledging and filtering as the class says. On success *frame is the endpoint's buffer
  // holding it, valid until the next receive or send on this endpoint.
  bool WaitForMessage(CDatagramBuffer** frame, uint32_t timeout_ms);
  // WaitForMessage, then decodes the frame into `message` and stores its sender, header words and
  // mode. A frame of another protocol version or with a body that does not decode exactly is
  // refused (after it was acknowledged).
  bool ReceiveMessage(CMessage* message, uint32_t timeout_ms);

  // Joins `group` on the interface `interface_address` (both network order as held in memory).
  bool JoinGroup(uint32_t group, uint32_t interface_address);

  int32_t LastError() const { return last_error_; }
  // The number of the last frame sent.
  uint32_t Sequence() const { return sequence_; }

  // Gives the endpoint a datagram buffer of the caller's choosing before the first Open (which
  // then keeps it). With `take_ownership` the endpoint deletes it; otherwise it must outlive the
  // endpoint. Replaces (and deletes, when owned) the current buffer.
  void UseBuffer(CDatagramBuffer* buffer, bool take_ownership);
  CDatagramBuffer* Buffer() const { return buffer_; }
  CDuplicateFilter* Filter() const { return filter_; }
  // The socket, for a thread inside the library that waits on it together with other descriptors.
  CUdpSocket& Socket() { return socket_; }

 private:
  enum class AckOutcome { kAcknowledged, kTimeout, kFailed };

  bool SendFrame(const NetAddress& destination, uint8_t frame_type, uint8_t mode);
  AckOutcome AwaitAck(const CSockAddr& destination, uint32_t sequence, uint32_t wait_ms,
                      bool* accepted);
  void SendAck(const CSockAddr& destination, uint32_t sequence, bool accepted);
  bool Fail(int32_t reason) {
    last_error_ = reason;
    return false;
  }

  // The socket is the library's own type: it is built in this storage by the constructor (which
  // checks that it fits) and reached through socket_.
  static constexpr size_t kSocketStorageBytes = 64;
  alignas(8) unsigned char socket_storage_[kSocketStorageBytes];
  CUdpSocket& socket_;
  bool open_ = false;
  uint32_t* schedule_ = nullptr;  // owned
  uint32_t attempts_ = 0;
  uint32_t sequence_;
  CDatagramBuffer* buffer_ = nullptr;
  bool owns_buffer_ = false;
  CDuplicateFilter* filter_ = nullptr;  // owned
  int32_t last_error_ = 0;
};

// The server endpoint: delivers message frames (type 3 or above, frame mark 7) and acknowledges
// those whose mode asks for it with "A"; refuses frames of a lower type with "N" and delivers
// nothing else. Defined here in full so that a host program can make one.
class CServerEndpoint : public CMessageEndpoint {
 public:
  void Classify(const CDatagramBuffer& frame, bool* deliver, bool* acknowledge,
                bool* accepted) override {
    const uint8_t* header = frame.Storage();
    if (header[kFrameTypeOffset] < FRAME_MESSAGE) {
      *deliver = false;
      *acknowledge = true;
      *accepted = false;
    } else if (header[kFrameMarkOffset] == FRAME_MARK) {
      *deliver = true;
      *acknowledge = header[kFrameModeOffset] != KIND_DATAGRAM;
      *accepted = true;
    } else {
      *deliver = false;
      *acknowledge = false;
      *accepted = false;
    }
  }
};

// The client endpoint: sends only; a frame it happens to receive is neither delivered nor
// acknowledged.
class CClientEndpoint : public CMessageEndpoint {
 public:
  void Classify(const CDatagramBuffer&, bool* deliver, bool* acknowledge, bool* accepted) override {
    *deliver = false;
    *acknowledge = false;
    *accepted = false;
  }
};

#endif  // VQSCW_ENDPOINT_H_
