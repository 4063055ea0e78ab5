// The wire encoding of a field list's body.
//
// Body: list code (4), field count (2), then the fields back to back. A field is its tag (4) and
// type byte (1), then by type: U64 high and low halves (8), U32 (4), U16 (2), U8 (1); for texts,
// blocks and nested lists a 16-bit byte length and the bytes; for arrays a 16-bit element count
// and the elements; for an unassigned type only a 16-bit length word. All numbers big-endian.
#include <cstring>
#include <new>

#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/message/field_list.h"

using vqscw::LoadBE16;
using vqscw::LoadBE32;
using vqscw::StoreBE16;
using vqscw::StoreBE32;

namespace {

constexpr uint32_t kMaxEncoding = 0xFFFF;  // every size and offset of the codec is 16-bit
constexpr uint32_t kListHeaderSize = 6;    // code and count
constexpr uint32_t kFieldHeaderSize = 5;   // tag and type
constexpr uint32_t kMinFieldSize = 6;      // tag, type and the smallest value (a U8)

// Bytes after the type byte that hold the value or the length word.
uint32_t ValueHeaderSize(uint8_t type) {
  switch (type) {
    case FIELD_U64:
      return 8;
    case FIELD_U32:
      return 4;
    case FIELD_U8:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

uint32_t CFieldList::UnboundedEncodedSize() const {
  uint32_t size = kListHeaderSize;
  for (uint32_t i = 0; i < count_; ++i) {
    const Field& f = fields_[i];
    if (f.type == FIELD_UNSET) continue;
    size += kFieldHeaderSize + ValueHeaderSize(f.type);
    switch (f.type) {
      case FIELD_STRING:
      case FIELD_BLOB:
        size += f.length;
        break;
      case FIELD_U16ARRAY:
        size += 2u * f.length;
        break;
      case FIELD_U32ARRAY:
        size += 4u * f.length;
        break;
      case FIELD_LIST:
        if (f.data != nullptr)
          size += static_cast<const CFieldList*>(f.data)->UnboundedEncodedSize();
        break;
      default:
        break;
    }
    // Past the limit the exact figure no longer matters; stop before it could overflow.
    if (size > kMaxEncoding) return kMaxEncoding + 1;
  }
  return size;
}

uint16_t CFieldList::EncodedSize() const {
  const uint32_t size = UnboundedEncodedSize();
  return static_cast<uint16_t>(size > kMaxEncoding ? kMaxEncoding : size);
}

uint16_t CFieldList::Encode(uint8_t* dest) const {
  if (dest == nullptr || UnboundedEncodedSize() > kMaxEncoding) return 0;
  return static_cast<uint16_t>(EncodeInto(dest) - dest);
}

uint8_t* CFieldList::EncodeInto(uint8_t* p) const {
  // The count names the fields actually written: an unset field (only ever seen in a decoded
  // list) is skipped, and a count that included it would make the body unreadable.
  uint16_t written = 0;
  for (uint32_t i = 0; i < count_; ++i) {
    if (fields_[i].type != FIELD_UNSET) ++written;
  }
  StoreBE32(p, code_);
  StoreBE16(p + 4, written);
  p += kListHeaderSize;
  for (uint32_t i = 0; i < count_; ++i) {
    const Field& f = fields_[i];
    if (f.type == FIELD_UNSET) continue;
    StoreBE32(p, f.tag);
    p[4] = f.type;
    p += kFieldHeaderSize;
    switch (f.type) {
      case FIELD_U64:
        StoreBE32(p, f.high);
        StoreBE32(p + 4, f.value);
        p += 8;
        break;
      case FIELD_U32:
        StoreBE32(p, f.value);
        p += 4;
        break;
      case FIELD_U16:
        StoreBE16(p, static_cast<uint16_t>(f.value));
        p += 2;
        break;
      case FIELD_U8:
        *p++ = static_cast<uint8_t>(f.value);
        break;
      case FIELD_LIST: {
        const auto* nested = static_cast<const CFieldList*>(f.data);
        if (nested == nullptr) {
          StoreBE16(p, 0);
          p += 2;
          break;
        }
        StoreBE16(p, static_cast<uint16_t>(nested->UnboundedEncodedSize()));
        p = nested->EncodeInto(p + 2);
        break;
      }
      case FIELD_STRING:
      case FIELD_BLOB:
        StoreBE16(p, f.length);
        p += 2;
        if (f.length != 0 && f.data != nullptr) std::memcpy(p, f.data, f.length);
        p += f.data != nullptr ? f.length : 0;
        break;
      case FIELD_U16ARRAY: {
        StoreBE16(p, f.length);
        p += 2;
        const auto* values = static_cast<const uint16_t*>(f.data);
        for (uint32_t j = 0; values != nullptr && j < f.length; ++j, p += 2)
          StoreBE16(p, values[j]);
        break;
      }
      case FIELD_U32ARRAY: {
        StoreBE16(p, f.length);
        p += 2;
        const auto* values = static_cast<const uint32_t*>(f.data);
        for (uint32_t j = 0; values != nullptr && j < f.length; ++j, p += 4)
          StoreBE32(p, values[j]);
        break;
      }
      default:  // unassigned types carry only their length word
        StoreBE16(p, f.length);
        p += 2;
        break;
    }
  }
  return p;
}

uint16_t CFieldList::Decode(const uint8_t* data, uint32_t length) {
  return DecodeAtDepth(data, length, 0);
}

uint16_t CFieldList::DecodeAtDepth(const uint8_t* data, uint32_t length, int depth) {
  Clear();
  if (data == nullptr || length < 4) return 0;
  code_ = LoadBE32(data);
  if (length < kListHeaderSize) return 0;
  const uint16_t n = LoadBE16(data + 4);
  if (n == 0) return kListHeaderSize;
  // A count the body cannot hold is refused before room is made for it: a few bytes claiming
  // 65535 fields would otherwise cost an array of that many, for each nested list of a datagram.
  if (kListHeaderSize + uint64_t{kMinFieldSize} * n > length) return 0;
  if (capacity_ < n) {
    delete[] fields_;
    fields_ = new (std::nothrow) Field[n]();
    capacity_ = fields_ != nullptr ? n : 0;
    if (fields_ == nullptr) return 0;
  }
  count_ = n;

  // Offsets are 64-bit so that no check below can wrap, whatever `length` the caller passes.
  const uint64_t end = length;
  uint64_t o = kListHeaderSize;
  auto reject = [this]() -> uint16_t {
    Clear();
    return 0;
  };
  for (uint32_t i = 0; i < n; ++i) {
    Field& f = fields_[i];
    if (o + 5 > end) return reject();
    f.tag = LoadBE32(data + o);
    const uint8_t type = data[o + 4];
    f.type = type;
    const uint8_t* v = data + o + 5;
    switch (type) {
      case FIELD_U64:
        if (o + 13 > end) return reject();
        f.high = LoadBE32(v);
        f.value = LoadBE32(v + 4);
        o += 13;
        break;
      case FIELD_U32:
        if (o + 9 > end) return reject();
        f.value = LoadBE32(v);
        o += 9;
        break;
      case FIELD_U16:
        if (o + 7 > end) return reject();
        f.value = LoadBE16(v);
        o += 7;
        break;
      case FIELD_U8:
        if (o + 6 > end) return reject();
        // Received bytes are sign-extended: 0x80 is held as 0xFFFFFF80.
        f.value = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(v[0])));
        o += 6;
        break;
      case FIELD_LIST: {
        if (o + 7 > end) return reject();
        const uint16_t nested_length = LoadBE16(v);
        if (o + 7 + nested_length > end) return reject();
        CFieldList* nested = TakeSpareList();
        if (nested == nullptr) return reject();
        // A malformed nested body leaves an empty nested list; the outer body stays acceptable.
        if (depth + 1 < kMaxDecodeDepth) nested->DecodeAtDepth(v + 2, nested_length, depth + 1);
        f.data = nested;
        o += 7 + nested_length;
        break;
      }
      default: {
        if (o + 7 > end) return reject();
        const uint16_t w = LoadBE16(v);
        f.length = w;
        const uint8_t* bytes = v + 2;
        if (w != 0 && (type == FIELD_STRING || type == FIELD_BLOB)) {
          if (o + 7 + w > end) return reject();
          if (type == FIELD_STRING) {
            // One byte more than sent, so the text always ends in a NUL.
            char* text = new (std::nothrow) char[w + 1u];
            if (text == nullptr) return reject();
            std::memcpy(text, bytes, w);
            text[w] = '\0';
            f.data = text;
          } else {
            uint8_t* block = new (std::nothrow) uint8_t[w];
            if (block == nullptr) return reject();
            std::memcpy(block, bytes, w);
            f.data = block;
          }
          o += 7 + w;
        } else if (w != 0 && type == FIELD_U16ARRAY) {
          if (o + 7 + 2ull * w > end) return reject();
          uint16_t* values = new (std::nothrow) uint16_t[w];
          if (values == nullptr) return reject();
          for (uint32_t j = 0; j < w; ++j) values[j] = LoadBE16(bytes + 2 * j);
          f.data = values;
          o += 7 + 2ull * w;
        } else if (w != 0 && type == FIELD_U32ARRAY) {
          if (o + 7 + 4ull * w > end) return reject();
          uint32_t* values = new (std::nothrow) uint32_t[w];
          if (values == nullptr) return reject();
          for (uint32_t j = 0; j < w; ++j) values[j] = LoadBE32(bytes + 4 * j);
          f.data = values;
          o += 7 + 4ull * w;
        } else {
          o += 7;  // no value: an empty text, block or array, or an unset or unassigned type
        }
        break;
      }
    }
  }
  if (o > kMaxEncoding) return reject();
  return static_cast<uint16_t>(o);
}
