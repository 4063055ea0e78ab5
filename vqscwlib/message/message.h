// CMessage: one protocol message, a field list plus the receipt data of a message that came off
// the network (sender, header words, frame mode).
#ifndef VQSCWLIB_MESSAGE_MESSAGE_H_
#define VQSCWLIB_MESSAGE_MESSAGE_H_

#include <cstdint>

#include "vqscwlib/message/field_list.h"
#include "vqscwlib/message/tags.h"
#include "vqscwlib/platform/export.h"

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

#endif  // VQSCWLIB_MESSAGE_MESSAGE_H_
