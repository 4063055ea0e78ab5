#include "vqscwlib/transport/datagram_buffer.h"

#include <cstddef>
#include <new>

CDatagramBuffer::CDatagramBuffer(uint32_t capacity)
    : capacity_(capacity),
      storage_(new (std::nothrow) uint8_t[static_cast<size_t>(kFrameHeaderSize) + capacity]()),
      owns_(true) {
  if (storage_ == nullptr) capacity_ = 0;
}

CDatagramBuffer::CDatagramBuffer(uint8_t* storage, uint32_t size)
    : capacity_(size > static_cast<uint32_t>(kFrameHeaderSize) ? size - kFrameHeaderSize : 0),
      storage_(storage),
      owns_(false) {}

CDatagramBuffer::~CDatagramBuffer() {
  if (owns_) delete[] storage_;
}
