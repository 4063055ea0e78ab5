// CDatagramBuffer: the storage of one datagram: a 16-byte frame header followed by the payload
// (the message body).
//
// Either it owns its storage (built with a payload capacity) or it is a view over storage the
// caller owns, which must outlive the buffer. Not thread-safe; it belongs to its endpoint.
#ifndef VQSCWLIB_TRANSPORT_DATAGRAM_BUFFER_H_
#define VQSCWLIB_TRANSPORT_DATAGRAM_BUFFER_H_

#include <cstdint>

#include "vqscwlib/message/frame.h"

class CDatagramBuffer {
 public:
  // Owns 16 + `capacity` bytes. When that memory cannot be had the buffer has no storage and a
  // capacity of 0 (check Storage()).
  explicit CDatagramBuffer(uint32_t capacity);
  // A view over `size` bytes at `storage`; the payload capacity is size - 16, or 0 when size is
  // 16 or less.
  CDatagramBuffer(uint8_t* storage, uint32_t size);
  virtual ~CDatagramBuffer();
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

#endif  // VQSCWLIB_TRANSPORT_DATAGRAM_BUFFER_H_
