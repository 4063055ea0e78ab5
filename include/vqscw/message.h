// Protocol messages: CFieldList, a list of typed fields keyed by four-letter tags and headed by a
// four-letter list code, and CMessage, a field list with the receipt data of a message that came
// off the network; the tags, the frame a message travels in, and the text dump of a message.
//
// Ownership: a list owns the data of its fields (texts, blocks, arrays, nested lists). Getters
// return borrowed pointers that stay valid until the field is replaced or the list is cleared or
// destroyed. A list belongs to one thread at a time. Fields keep their insertion order; a nested
// list is a field too, so one list holds a small tree.
#ifndef VQSCW_MESSAGE_H_
#define VQSCW_MESSAGE_H_

#include <cstdint>

#include "vqscw/export.h"

// --- Tags: a tag is a 32-bit number with its first letter in the most significant byte, so its
// four bytes on the (big-endian) wire read as its letters. "PSID" is 0x50534944.

// The two reserved tags of 64-bit identity fields.
constexpr uint32_t TAG_ID = 0xFFFFFFFFu;    // printed "*id*"
constexpr uint32_t TAG_REFI = 0xFFFFFFFEu;  // printed "refi"

// The tag spelled by a four-letter literal, at compile time: Tag("PSID") == 0x50534944.
constexpr uint32_t Tag(const char (&text)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

// The tag of the per-source list of source slot `slot` as "S%03d" spells it: "S001" to "S016"
// for the slots in use (any 0 to 999).
constexpr uint32_t SourceSlotTag(int slot) {
  return Tag("S000") |
         static_cast<uint32_t>((slot / 100 % 10) << 16 | (slot / 10 % 10) << 8 | slot % 10);
}

// --- The frame that carries one message in one UDP datagram, and the acknowledgement frame.
//
// Message frame: type (1), mode (1), protocol version (1), frame mark (1), sequence (4, BE),
// header words H1 (2), H2 (2), H3 (4), then the body. Acknowledgement: 8 bytes, the verdict at
// offset 1, the frame mark at 3 and the acknowledged sequence at 4.
constexpr uint8_t FRAME_MESSAGE = 3;
constexpr uint8_t PROTOCOL_VERSION = 2;
constexpr uint8_t FRAME_MARK = 7;

// Frame modes (byte 1 of a message frame).
constexpr uint8_t KIND_DATAGRAM = 0x00;
constexpr uint8_t KIND_MESSAGE = 0x4D;   // "M": acknowledge me
constexpr uint8_t KIND_REQUEST = 0x52;   // "R"
constexpr uint8_t KIND_RESPONSE = 0x54;  // "T"

// Acknowledgement verdicts (byte 1 of an acknowledgement frame).
constexpr uint8_t KIND_ACK = 0x41;  // "A"
constexpr uint8_t KIND_NAK = 0x4E;  // "N"

constexpr int kFrameHeaderSize = 16;
constexpr int kAckFrameSize = 8;

// Byte offsets in the frame header.
constexpr int kFrameTypeOffset = 0;
constexpr int kFrameModeOffset = 1;
constexpr int kFrameVersionOffset = 2;
constexpr int kFrameMarkOffset = 3;
constexpr int kFrameSequenceOffset = 4;
constexpr int kFrameH1Offset = 8;
constexpr int kFrameH2Offset = 10;
constexpr int kFrameH3Offset = 12;

// --- Field lists and messages.

// Field type codes; they are also the type bytes on the wire.
enum : uint8_t {
  FIELD_UNSET = 0,
  FIELD_U32 = 1,
  FIELD_STRING = 2,
  FIELD_BLOB = 3,
  FIELD_U16ARRAY = 4,
  FIELD_U32ARRAY = 5,
  FIELD_LIST = 6,
  FIELD_U8 = 7,
  FIELD_U16 = 8,
  FIELD_U64 = 9,
};

class CFieldList;

// One entry of a list. `length` is the text length with its NUL, the block length or the element
// count; 0 for scalar types. Types 10 to 255 come only from the wire and carry just their length.
struct Field {
  uint32_t tag;
  uint8_t type;
  uint16_t length;
  // FIELD_U32, FIELD_U16, FIELD_U8 (a decoded byte is sign-extended) and the low half of
  // FIELD_U64.
  uint32_t value;
  uint32_t high;  // high half of FIELD_U64
  // Owned data of FIELD_STRING (char[]), FIELD_BLOB (uint8_t[]), FIELD_U16ARRAY (uint16_t[]),
  // FIELD_U32ARRAY (uint32_t[]) and FIELD_LIST (CFieldList); null when the length is 0.
  void* data;
};

class VQSCW_EXPORT CFieldList {
 public:
  // Capacity and growth step used for every list the library builds.
  static constexpr uint32_t kDefaultCapacity = 16;
  static constexpr int32_t kDefaultGrowth = 16;

  // An empty list with `capacity` empty slots that grows by `growth` slots when full; a growth
  // of 0 fixes the capacity.
  explicit CFieldList(uint32_t capacity = kDefaultCapacity, int32_t growth = kDefaultGrowth);
  // A deep copy (see CopyFrom).
  CFieldList(const CFieldList& other);
  CFieldList& operator=(const CFieldList& other);
  virtual ~CFieldList();

  // Setters replace an existing field with the tag in place (keeping its position) or append a
  // new one. They return false, changing nothing, when the list is full and cannot grow, or when
  // memory for the field's data cannot be had.
  bool SetU8(uint32_t tag, uint8_t value);
  bool SetBool(uint32_t tag, bool flag);
  bool SetU16(uint32_t tag, uint16_t value);
  bool SetU32(uint32_t tag, uint32_t value);
  bool SetU64(uint32_t tag, uint32_t low, uint32_t high);
  // Stores a copy of `text` with its NUL; a null text stores length 0 and no data.
  bool SetString(uint32_t tag, const char* text);
  // Copies `length` bytes, or stores `length` zero bytes when `data` is null.
  bool SetBlob(uint32_t tag, uint16_t length, const void* data);
  bool SetU16Array(uint32_t tag, uint16_t count, const uint16_t* values);
  bool SetU32Array(uint32_t tag, uint16_t count, const uint32_t* values);
  // Stores a deep copy of `list`; the caller keeps its object. False for a null list.
  bool SetList(uint32_t tag, const CFieldList* list);

  // Getters return 0 or null for an absent field or one of another type.
  bool Has(uint32_t tag) const;
  uint8_t TypeOf(uint32_t tag) const;
  uint16_t LengthOf(uint32_t tag) const;
  uint8_t GetU8(uint32_t tag) const;
  uint16_t GetU16(uint32_t tag) const;
  uint32_t GetU32(uint32_t tag) const;
  uint64_t GetU64(uint32_t tag) const;
  // The value of a FIELD_U32, FIELD_U8 or FIELD_U16.
  uint32_t GetInt(uint32_t tag) const;
  const char* GetString(uint32_t tag) const;
  const uint8_t* GetBlob(uint32_t tag) const;
  const uint16_t* GetU16Array(uint32_t tag) const;
  const uint32_t* GetU32Array(uint32_t tag) const;
  CFieldList* GetList(uint32_t tag) const;

  uint16_t Count() const { return count_; }
  // False when `index` is not below Count(); else stores the tag of the field at `index`.
  bool TagAt(uint32_t index, uint32_t* tag) const;

  void SetCode(uint32_t code) { code_ = code; }
  uint32_t Code() const { return code_; }

  // Releases every field's data and empties the list; the slot array, capacity, growth step and
  // list code stay, so a reused list does not reallocate.
  void Clear();
  // Makes this list a deep copy of `other` (its capacity, growth step, code and fields in order).
  // Fields of types outside 1 to 9 are left out; texts are copied up to their first NUL.
  void CopyFrom(const CFieldList& other);

  // The wire encoding of the list's body: code, count of typed fields, the fields (big-endian,
  // unpadded). An encoding longer than 65535 bytes cannot be made: EncodedSize() then gives
  // 65535 and Encode() writes nothing and returns 0, so a caller comparing the two sees it.
  //
  // The number of bytes Encode() writes.
  uint16_t EncodedSize() const;
  // Writes the encoding into `dest`, which holds at least EncodedSize() bytes; returns the count.
  uint16_t Encode(uint8_t* dest) const;
  // Replaces the contents with the body decoded from `length` bytes at `data`. Returns the bytes
  // consumed, or 0 when the body is rejected (the list is then empty). Never reads outside
  // [data, data + length). Received texts are kept with a terminating NUL after their bytes even
  // when the sender left it out. Lists nested deeper than kMaxDecodeDepth decode as empty lists.
  uint16_t Decode(const uint8_t* data, uint32_t length);

  static constexpr int kMaxDecodeDepth = 32;

  // Capacity and growth step, for tests and the codec.
  uint32_t capacity() const { return capacity_; }
  int32_t growth() const { return growth_; }

 private:
  // Codec internals (field_list_codec.cpp).
  uint32_t UnboundedEncodedSize() const;
  uint8_t* EncodeInto(uint8_t* dest) const;
  uint16_t DecodeAtDepth(const uint8_t* data, uint32_t length, int depth);

  // The field with `tag` found by the rotating cursor, or null.
  const Field* Find(uint32_t tag) const;
  // The field with `tag` if it has `type`, else null.
  const Field* FindTyped(uint32_t tag, uint8_t type) const;
  // The field for `tag`, released for refilling, or a newly appended slot; null when full.
  Field* Prepare(uint32_t tag);
  bool Grow();
  // Stores `data` (already allocated, owned from here on) as the field of `tag`; frees it and
  // returns false when the field cannot be had.
  bool SetOwned(uint32_t tag, uint8_t type, uint16_t length, void* data);
  static void Release(Field* field);
  void DiscardArray();
  // A cleared nested list for the decoder: a spare one, or a new one; null without memory.
  CFieldList* TakeSpareList();

  uint32_t code_ = 0;
  Field* fields_ = nullptr;
  uint16_t count_ = 0;
  uint32_t capacity_ = 0;
  int32_t growth_ = 0;
  mutable uint32_t cursor_ = 0xFFFF;
  // Nested lists released by Clear(), kept for the next Decode so that a reused message decodes
  // without allocating; chained through their next_spare_ member.
  CFieldList* spare_ = nullptr;
  CFieldList* next_spare_ = nullptr;
};

class VQSCW_EXPORT CMessage : public CFieldList {
 public:
  explicit CMessage(uint32_t capacity = kDefaultCapacity, int32_t growth = kDefaultGrowth);
  // Copies the fields (as CFieldList's copy does) and the receipt data.
  CMessage(const CMessage& other);
  CMessage& operator=(const CMessage& other);
  ~CMessage() override;

  // Sender's IPv4 address in host order (first dotted number in the most significant byte).
  uint32_t SourceAddress() const { return source_; }
  // Copies of frame header bytes 8 to 15; nothing in the library interprets them.
  uint16_t H1() const { return h1_; }
  uint16_t H2() const { return h2_; }
  uint32_t H3() const { return h3_; }
  // Mode byte of the frame the message arrived in; 0 for a message built locally.
  char Kind() const { return kind_; }

  void SetReceipt(uint32_t source, uint16_t h1, uint16_t h2, uint32_t h3);
  void SetKind(char kind) { kind_ = kind; }

 private:
  uint32_t source_ = 0;
  uint16_t h1_ = 0;
  uint16_t h2_ = 0;
  uint32_t h3_ = 0;
  char kind_ = 0;
};

// --- The text dump of messages, and the time stamp of debug lines.

// Message2String flags.
constexpr int kDumpTagHex = 1;   // each field's tag as eight hexadecimal digits
constexpr int kDumpTagText = 2;  // each field's tag as its four letters (what the library uses)

// Renders `message` as one line into `buffer` and returns `buffer`; null (writing nothing) for a
// null message or buffer. The caller provides a buffer large enough for the whole text.
VQSCW_EXPORT const char* Message2String(CMessage* message, char* buffer, int flags);

// The current UTC time as "%Y.%m.%d %H:%M:%S" in one static buffer that every call overwrites;
// two threads calling at once may each see the other's time.
VQSCW_EXPORT const char* dbg_time();

// Set by a host program: when cfg_msgdump is nonzero, every message the library sends with trace
// on is rendered into msgdump and printed. The library never sets them.
extern "C" VQSCW_EXPORT int32_t cfg_msgdump;
extern "C" VQSCW_EXPORT char* msgdump;

#endif  // VQSCW_MESSAGE_H_
