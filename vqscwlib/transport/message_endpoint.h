// CMessageEndpoint: carries CMessages in frames over one UDP socket.
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
// fails without one. Times are milliseconds of vqscw::TickCount().
#ifndef VQSCWLIB_TRANSPORT_MESSAGE_ENDPOINT_H_
#define VQSCWLIB_TRANSPORT_MESSAGE_ENDPOINT_H_

#include <cstdint>

#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/export.h"
#include "vqscwlib/transport/datagram_buffer.h"
#include "vqscwlib/transport/duplicate_filter.h"
#include "vqscwlib/transport/net_address.h"
#include "vqscwlib/transport/udp_socket.h"

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
  // dotted address or a host name, see CSockAddr::SetFromText; null: every interface). A server
  // needs a port and hears the groups it joins on that card (CUdpSocket::BindGroupListener); a
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
  // The socket, for a thread that waits on it together with other descriptors.
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

  CUdpSocket socket_;
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

#endif  // VQSCWLIB_TRANSPORT_MESSAGE_ENDPOINT_H_
