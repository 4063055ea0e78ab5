#include "vqscwlib/transport/message_endpoint.h"

#include <cstdio>
#include <new>

#include "vqscw/network.h"
#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/platform/clock.h"

namespace {

constexpr uint32_t kPercent = 100;

}  // namespace

CMessageEndpoint::CMessageEndpoint()
    : socket_(*new (socket_storage_) CUdpSocket()), sequence_(vqscw::TickCount()) {
  static_assert(sizeof(CUdpSocket) <= kSocketStorageBytes && alignof(CUdpSocket) <= 8,
                "the endpoint's socket storage does not fit its socket");
}

CMessageEndpoint::~CMessageEndpoint() {
  Close();
  delete[] schedule_;
  if (owns_buffer_) delete buffer_;
  delete filter_;
  socket_.~CUdpSocket();
}

void CMessageEndpoint::UseBuffer(CDatagramBuffer* buffer, bool take_ownership) {
  if (buffer == buffer_) {
    owns_buffer_ = take_ownership;
    return;
  }
  if (owns_buffer_) delete buffer_;
  buffer_ = buffer;
  owns_buffer_ = take_ownership;
}

bool CMessageEndpoint::Open(bool server, const char* address, uint16_t port) {
  if (open_) Close();
  if (server && port == 0) return false;
  if (socket_.Create() != 0) return false;

  // The buffer holds the largest datagram both of the socket's buffers can take.
  int size = socket_.SendBufferSize();
  const int receive_size = socket_.ReceiveBufferSize();
  if (receive_size > 0 && (size <= 0 || receive_size < size)) size = receive_size;
  if (size <= kFrameHeaderSize) {
    socket_.Close();
    return false;
  }
  if (buffer_ == nullptr) {
    auto* buffer =
        new (std::nothrow) CDatagramBuffer(static_cast<uint32_t>(size - kFrameHeaderSize));
    if (buffer == nullptr || buffer->Storage() == nullptr) {
      delete buffer;
      socket_.Close();
      return false;
    }
    UseBuffer(buffer, true);
  }

  if (address != nullptr || port != 0) {
    const int bound =
        server ? socket_.BindGroupListener(port, address) : socket_.Bind(port, address);
    if (bound != 0) {
      socket_.Close();
      return false;
    }
  }

  if (server) {
    if (filter_ == nullptr) {
      filter_ = new (std::nothrow)
          CDuplicateFilter(CDuplicateFilter::kDefaultMaxAgeMs, CDuplicateFilter::kDefaultBuckets,
                           CDuplicateFilter::kDefaultChunkEntries);
    }
  } else if (schedule_ == nullptr) {
    SetRetrySchedule(kDefaultAttempts, kDefaultRetryTotalMs, kDefaultRetryGrowthPercent);
  }
  open_ = true;
  return true;
}

void CMessageEndpoint::Close() {
  if (!open_) return;
  socket_.Close();
  open_ = false;
}

bool CMessageEndpoint::SetRetrySchedule(uint32_t attempts, uint32_t total_ms,
                                        uint32_t growth_percent) {
  if (attempts == 0 || growth_percent <= kPercent) return false;
  // g(0) = 100 and g(k) = P grown k - 1 times by P percent, each step an integer division;
  // the divisor is g(attempts). All of it is unsigned 32-bit arithmetic, as the peers compute it.
  auto growth = [growth_percent](uint32_t k) {
    if (k == 0) return kPercent;
    uint32_t x = growth_percent;
    for (uint32_t step = 1; step < k; ++step) x = x * growth_percent / kPercent;
    return x;
  };
  const uint32_t divisor = growth(attempts);
  if (divisor == 0) return false;  // the growth wrapped: no schedule can be made of it
  const uint32_t base = total_ms * (growth_percent - kPercent) / divisor;

  uint32_t* waits = schedule_;
  if (waits == nullptr || attempts_ != attempts) {
    waits = new (std::nothrow) uint32_t[attempts];
    if (waits == nullptr) return false;
  }
  uint32_t sum = 0;
  uint32_t g = kPercent;
  for (uint32_t i = 0; i + 1 < attempts; ++i) {
    waits[i] = g * base / kPercent;
    sum += waits[i];
    g = i == 0 ? growth_percent : g * growth_percent / kPercent;
  }
  waits[attempts - 1] = total_ms - sum;
  if (waits != schedule_) {
    delete[] schedule_;
    schedule_ = waits;
    attempts_ = attempts;
  }
  return true;
}

bool CMessageEndpoint::SendMessage(const NetAddress& destination, const CMessage* message,
                                   uint8_t mode) {
  if (message == nullptr) return Fail(kEndpointNoMessage);
  if (mode != KIND_DATAGRAM && mode != KIND_MESSAGE) return false;
  if (buffer_ == nullptr || buffer_->Storage() == nullptr) return Fail(kEndpointNoBuffer);

  const uint16_t size = message->EncodedSize();
  if (size > buffer_->Capacity()) return Fail(kEndpointTooLarge);
  if (message->Encode(buffer_->Body()) != size) return Fail(kEndpointEncodeMismatch);
  buffer_->SetLength(size);

  uint8_t* header = buffer_->Storage();
  header[kFrameVersionOffset] = PROTOCOL_VERSION;
  // Header words H1 to H3 carry nothing the library defines; send them as zeros rather than
  // whatever an earlier frame left in the buffer.
  vqscw::StoreBE16(header + kFrameH1Offset, 0);
  vqscw::StoreBE16(header + kFrameH2Offset, 0);
  vqscw::StoreBE32(header + kFrameH3Offset, 0);
  return SendFrame(destination, FRAME_MESSAGE, mode);
}

bool CMessageEndpoint::SendFrame(const NetAddress& destination, uint8_t frame_type, uint8_t mode) {
  last_error_ = 0;
  if (mode != KIND_DATAGRAM && schedule_ == nullptr) return Fail(kEndpointNoSchedule);

  // The sequence number wraps past 0 to 1: 0 is never sent.
  if (++sequence_ == 0) sequence_ = 1;
  uint8_t* header = buffer_->Storage();
  header[kFrameTypeOffset] = frame_type;
  header[kFrameModeOffset] = mode;
  header[kFrameMarkOffset] = FRAME_MARK;
  vqscw::StoreBE32(header + kFrameSequenceOffset, sequence_);

  CSockAddr to;
  to.Set(destination.Address(), destination.Port());
  const uint32_t total = buffer_->FrameLength();
  if (mode == KIND_DATAGRAM) {
    const int sent = socket_.SendTo(to, header, total);
    return sent == static_cast<int>(total) ? true : Fail(kEndpointTimeout);
  }

  for (uint32_t attempt = 0; attempt < attempts_; ++attempt) {
    if (socket_.SendTo(to, header, total) != static_cast<int>(total)) {
      return Fail(kEndpointShortSend);
    }
    bool accepted = false;
    switch (AwaitAck(to, sequence_, schedule_[attempt], &accepted)) {
      case AckOutcome::kAcknowledged:
        return accepted ? true : Fail(kEndpointRefused);
      case AckOutcome::kFailed:
        return Fail(kEndpointAckWaitFailed);
      case AckOutcome::kTimeout:
        break;  // the same frame again, with the same sequence number
    }
  }
  return Fail(kEndpointTimeout);
}

CMessageEndpoint::AckOutcome CMessageEndpoint::AwaitAck(const CSockAddr& destination,
                                                        uint32_t sequence, uint32_t wait_ms,
                                                        bool* accepted) {
  const bool multicast = destination.Address() >= kFirstMulticastAddress;
  const uint32_t start = vqscw::TickCount();
  for (;;) {
    // Elapsed time as the modular difference: right across the tick counter's wrap.
    const uint32_t elapsed = vqscw::TickCount() - start;
    if (elapsed >= wait_ms) return AckOutcome::kTimeout;
    const int ready = socket_.WaitReadable(wait_ms - elapsed);
    if (ready < 0) return AckOutcome::kFailed;
    // The socket stayed quiet for the rest of the wait, so the wait is over. Ending here rather
    // than re-reading the tick also ends it when the tick does not move (a test's fake clock).
    if (ready == 0) return AckOutcome::kTimeout;

    uint8_t ack[kAckFrameSize];
    CSockAddr source;
    if (socket_.ReceiveFrom(&source, ack, sizeof ack) != kAckFrameSize) continue;
    if (source.Port() != destination.Port()) continue;
    if (!multicast && source.Address() != destination.Address()) continue;
    if (ack[kFrameMarkOffset] != FRAME_MARK) continue;
    const uint8_t verdict = ack[kFrameModeOffset];
    if (verdict != KIND_ACK && verdict != KIND_NAK) continue;
    if (vqscw::LoadBE32(ack + kFrameSequenceOffset) != sequence) continue;
    *accepted = verdict == KIND_ACK;
    return AckOutcome::kAcknowledged;
  }
}

void CMessageEndpoint::SendAck(const CSockAddr& destination, uint32_t sequence, bool accepted) {
  uint8_t ack[kAckFrameSize] = {};
  ack[kFrameModeOffset] = accepted ? KIND_ACK : KIND_NAK;
  ack[kFrameVersionOffset] = PROTOCOL_VERSION;
  ack[kFrameMarkOffset] = FRAME_MARK;
  vqscw::StoreBE32(ack + kFrameSequenceOffset, sequence);
  // Best effort: a lost acknowledgement makes the sender repeat the frame.
  socket_.SendTo(destination, ack, sizeof ack);
}

bool CMessageEndpoint::WaitForMessage(CDatagramBuffer** frame, uint32_t timeout_ms) {
  last_error_ = 0;
  if (buffer_ == nullptr || buffer_->Storage() == nullptr || filter_ == nullptr) {
    return Fail(kEndpointNotServer);
  }
  if (frame == nullptr) return Fail(kEndpointNoMessage);

  const uint32_t start = vqscw::TickCount();
  for (bool first = true;; first = false) {
    uint32_t wait = timeout_ms;
    if (timeout_ms != kWaitForever && !first) {
      const uint32_t elapsed = vqscw::TickCount() - start;
      if (elapsed >= timeout_ms) return Fail(kEndpointTimeout);
      wait = timeout_ms - elapsed;
    }
    filter_->Purge(filter_->MaxAge());

    const int ready = socket_.WaitReadable(wait);
    if (ready < 0) return Fail(kEndpointReadableWaitFailed);
    if (ready == 0) return Fail(kEndpointTimeout);

    CSockAddr source;
    const int count =
        socket_.ReceiveFrom(&source, buffer_->Storage(), buffer_->Capacity() + kFrameHeaderSize);
    if (count < 0) {
      std::printf("ERROR: WaitForMessage: Error on Read! (cbMsg=%d,WSA=%d)\n", count,
                  socket_.LastError());
      return Fail(kEndpointReceiveError);
    }
    if (count < kFrameHeaderSize) continue;  // not a frame
    buffer_->SetLength(static_cast<uint32_t>(count - kFrameHeaderSize));

    bool deliver = false;
    bool acknowledge = false;
    bool accepted = false;
    Classify(*buffer_, &deliver, &acknowledge, &accepted);
    const uint8_t* header = buffer_->Storage();
    const uint32_t sequence = vqscw::LoadBE32(header + kFrameSequenceOffset);
    // Never answer a multicast source address: the answer would go to a whole group.
    if (acknowledge && source.Address() < kFirstMulticastAddress) {
      SendAck(source, sequence, accepted);
    }
    if (!deliver) continue;
    if (filter_->Check(source.Address(), source.Port(), sequence)) continue;  // a repeat
    buffer_->SetSourceAddress(source.Address());
    *frame = buffer_;
    return true;
  }
}

bool CMessageEndpoint::ReceiveMessage(CMessage* message, uint32_t timeout_ms) {
  if (message == nullptr) return Fail(kEndpointNoMessage);
  CDatagramBuffer* frame = nullptr;
  if (!WaitForMessage(&frame, timeout_ms)) return false;

  const uint8_t* header = frame->Storage();
  if (header[kFrameVersionOffset] != PROTOCOL_VERSION) return Fail(kEndpointWrongVersion);
  // An empty body is a message without fields; it must not keep the code of the message the
  // caller's object held before.
  if (frame->Length() == 0) message->SetCode(0);
  const uint16_t consumed = message->Decode(frame->Body(), frame->Length());
  if (consumed != frame->Length()) return Fail(kEndpointBadBody);

  message->SetReceipt(frame->SourceAddress(), vqscw::LoadBE16(header + kFrameH1Offset),
                      vqscw::LoadBE16(header + kFrameH2Offset),
                      vqscw::LoadBE32(header + kFrameH3Offset));
  message->SetKind(static_cast<char>(header[kFrameModeOffset]));
  return true;
}

bool CMessageEndpoint::JoinGroup(uint32_t group, uint32_t interface_address) {
  return socket_.JoinGroup(group, interface_address) == 0;
}
