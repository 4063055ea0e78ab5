#include "vqscwlib/message/message.h"

CMessage::CMessage(uint32_t capacity, int32_t growth) : CFieldList(capacity, growth) {}

CMessage::CMessage(const CMessage& other)
    : CFieldList(other),
      source_(other.source_),
      h1_(other.h1_),
      h2_(other.h2_),
      h3_(other.h3_),
      kind_(other.kind_) {}

CMessage& CMessage::operator=(const CMessage& other) {
  if (&other == this) return *this;
  CFieldList::operator=(other);
  source_ = other.source_;
  h1_ = other.h1_;
  h2_ = other.h2_;
  h3_ = other.h3_;
  kind_ = other.kind_;
  return *this;
}

CMessage::~CMessage() = default;

void CMessage::SetReceipt(uint32_t source, uint16_t h1, uint16_t h2, uint32_t h3) {
  source_ = source;
  h1_ = h1;
  h2_ = h2;
  h3_ = h3;
}
