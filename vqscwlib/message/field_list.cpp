#include "vqscwlib/message/field_list.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kCursorUnset = 0xFFFF;
constexpr uint32_t kMaxFields = 0xFFFF;  // the count is a 16-bit word
// A nested list kept for reuse keeps its field array only up to this size; a larger one, which
// only a list of unusual size needed, is freed, so what a decoder holds on to stays small.
constexpr uint32_t kMaxKeptSpareCapacity = 64;

Field* NewSlots(uint32_t count) {
  if (count == 0) return nullptr;
  return new (std::nothrow) Field[count]();
}

template <typename T>
T* CopyArray(const T* values, uint16_t count) {
  if (count == 0) return nullptr;
  T* copy = new (std::nothrow) T[count];
  if (copy == nullptr) return nullptr;
  if (values != nullptr) {
    std::memcpy(copy, values, sizeof(T) * count);
  } else {
    std::memset(copy, 0, sizeof(T) * count);
  }
  return copy;
}

}  // namespace

CFieldList::CFieldList(uint32_t capacity, int32_t growth)
    : fields_(NewSlots(capacity)), capacity_(fields_ != nullptr ? capacity : 0), growth_(growth) {}

CFieldList::CFieldList(const CFieldList& other) { CopyFrom(other); }

CFieldList& CFieldList::operator=(const CFieldList& other) {
  CopyFrom(other);
  return *this;
}

CFieldList::~CFieldList() {
  DiscardArray();
  while (spare_ != nullptr) {
    CFieldList* next = spare_->next_spare_;
    delete spare_;
    spare_ = next;
  }
}

void CFieldList::DiscardArray() {
  Clear();
  delete[] fields_;
  fields_ = nullptr;
  capacity_ = 0;
}

void CFieldList::Release(Field* field) {
  if (field->data != nullptr) {
    switch (field->type) {
      case FIELD_STRING:
        delete[] static_cast<char*>(field->data);
        break;
      case FIELD_BLOB:
        delete[] static_cast<uint8_t*>(field->data);
        break;
      case FIELD_U16ARRAY:
        delete[] static_cast<uint16_t*>(field->data);
        break;
      case FIELD_U32ARRAY:
        delete[] static_cast<uint32_t*>(field->data);
        break;
      case FIELD_LIST:
        delete static_cast<CFieldList*>(field->data);
        break;
      default:
        break;
    }
  }
  field->type = FIELD_UNSET;
  field->length = 0;
  field->value = 0;
  field->high = 0;
  field->data = nullptr;
}

void CFieldList::Clear() {
  for (uint32_t i = 0; i < count_; ++i) {
    Field& field = fields_[i];
    if (field.type == FIELD_LIST && field.data != nullptr) {
      // Kept for the next Decode instead of freed; its own nested lists go to its spares.
      auto* nested = static_cast<CFieldList*>(field.data);
      if (nested->capacity_ > kMaxKeptSpareCapacity) {
        nested->DiscardArray();
      } else {
        nested->Clear();
      }
      nested->next_spare_ = spare_;
      spare_ = nested;
      field.data = nullptr;
    }
    Release(&field);
    field.tag = 0;
  }
  count_ = 0;
}

CFieldList* CFieldList::TakeSpareList() {
  if (spare_ == nullptr) return new (std::nothrow) CFieldList(0, kDefaultGrowth);
  CFieldList* list = spare_;
  spare_ = list->next_spare_;
  list->next_spare_ = nullptr;
  // As a new list: lookups start from the first field, whatever the list's previous use read.
  list->cursor_ = kCursorUnset;
  return list;
}

const Field* CFieldList::Find(uint32_t tag) const {
  if (fields_ == nullptr || count_ == 0) return nullptr;
  if (count_ == 1) {
    cursor_ = 0;
    return fields_[0].tag == tag ? &fields_[0] : nullptr;
  }
  if (cursor_ >= count_) cursor_ = 0;
  const uint32_t start = cursor_;
  do {
    if (fields_[cursor_].tag == tag) return &fields_[cursor_];
    cursor_ = (cursor_ + 1) % count_;
  } while (cursor_ != start);
  return nullptr;
}

const Field* CFieldList::FindTyped(uint32_t tag, uint8_t type) const {
  const Field* field = Find(tag);
  return field != nullptr && field->type == type ? field : nullptr;
}

bool CFieldList::Grow() {
  if (growth_ <= 0 || capacity_ >= kMaxFields) return false;
  uint32_t new_capacity = capacity_ + static_cast<uint32_t>(growth_);
  if (new_capacity > kMaxFields) new_capacity = kMaxFields;
  Field* slots = NewSlots(new_capacity);
  if (slots == nullptr) return false;
  if (fields_ != nullptr) std::memcpy(slots, fields_, sizeof(Field) * count_);
  delete[] fields_;
  fields_ = slots;
  capacity_ = new_capacity;
  return true;
}

Field* CFieldList::Prepare(uint32_t tag) {
  if (const Field* found = Find(tag)) {
    Field* field = const_cast<Field*>(found);
    Release(field);
    return field;
  }
  if (count_ >= capacity_ && !Grow()) return nullptr;
  Field* field = &fields_[count_++];
  field->tag = tag;
  return field;
}

bool CFieldList::SetOwned(uint32_t tag, uint8_t type, uint16_t length, void* data) {
  if (length != 0 && data == nullptr) return false;  // allocation failed
  Field* field = Prepare(tag);
  if (field == nullptr) {
    // Hand the data to a scratch field so it is freed by the one routine that knows its type.
    Field scratch{tag, type, length, 0, 0, data};
    Release(&scratch);
    return false;
  }
  field->type = type;
  field->length = length;
  field->data = data;
  return true;
}

bool CFieldList::SetU8(uint32_t tag, uint8_t value) {
  Field* field = Prepare(tag);
  if (field == nullptr) return false;
  field->type = FIELD_U8;
  field->value = value;
  return true;
}

bool CFieldList::SetBool(uint32_t tag, bool flag) { return SetU8(tag, flag ? 1 : 0); }

bool CFieldList::SetU16(uint32_t tag, uint16_t value) {
  Field* field = Prepare(tag);
  if (field == nullptr) return false;
  field->type = FIELD_U16;
  field->value = value;
  return true;
}

bool CFieldList::SetU32(uint32_t tag, uint32_t value) {
  Field* field = Prepare(tag);
  if (field == nullptr) return false;
  field->type = FIELD_U32;
  field->value = value;
  return true;
}

bool CFieldList::SetU64(uint32_t tag, uint32_t low, uint32_t high) {
  Field* field = Prepare(tag);
  if (field == nullptr) return false;
  field->type = FIELD_U64;
  field->value = low;
  field->high = high;
  return true;
}

bool CFieldList::SetString(uint32_t tag, const char* text) {
  if (text == nullptr) return SetOwned(tag, FIELD_STRING, 0, nullptr);
  const size_t length = std::strlen(text) + 1;
  if (length > 0xFFFF) return false;  // the length word cannot hold it
  // Copied before the field is released: `text` may be this field's own text.
  return SetOwned(tag, FIELD_STRING, static_cast<uint16_t>(length),
                  CopyArray(text, static_cast<uint16_t>(length)));
}

bool CFieldList::SetBlob(uint32_t tag, uint16_t length, const void* data) {
  return SetOwned(tag, FIELD_BLOB, length, CopyArray(static_cast<const uint8_t*>(data), length));
}

bool CFieldList::SetU16Array(uint32_t tag, uint16_t count, const uint16_t* values) {
  return SetOwned(tag, FIELD_U16ARRAY, count, CopyArray(values, count));
}

bool CFieldList::SetU32Array(uint32_t tag, uint16_t count, const uint32_t* values) {
  return SetOwned(tag, FIELD_U32ARRAY, count, CopyArray(values, count));
}

bool CFieldList::SetList(uint32_t tag, const CFieldList* list) {
  if (list == nullptr) return false;
  // The copy is made first: `list` may be nested in the field it replaces.
  CFieldList* copy = new (std::nothrow) CFieldList(0, 0);
  if (copy == nullptr) return false;
  copy->CopyFrom(*list);
  Field* field = Prepare(tag);
  if (field == nullptr) {
    delete copy;
    return false;
  }
  field->type = FIELD_LIST;
  field->data = copy;
  return true;
}

bool CFieldList::Has(uint32_t tag) const { return Find(tag) != nullptr; }

uint8_t CFieldList::TypeOf(uint32_t tag) const {
  const Field* field = Find(tag);
  return field != nullptr ? field->type : static_cast<uint8_t>(FIELD_UNSET);
}

uint16_t CFieldList::LengthOf(uint32_t tag) const {
  const Field* field = Find(tag);
  return field != nullptr ? field->length : 0;
}

uint8_t CFieldList::GetU8(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_U8);
  return field != nullptr ? static_cast<uint8_t>(field->value) : 0;
}

uint16_t CFieldList::GetU16(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_U16);
  return field != nullptr ? static_cast<uint16_t>(field->value) : 0;
}

uint32_t CFieldList::GetU32(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_U32);
  return field != nullptr ? field->value : 0;
}

uint64_t CFieldList::GetU64(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_U64);
  return field != nullptr ? (static_cast<uint64_t>(field->high) << 32) | field->value : 0;
}

uint32_t CFieldList::GetInt(uint32_t tag) const {
  const Field* field = Find(tag);
  if (field == nullptr) return 0;
  switch (field->type) {
    case FIELD_U32:
    case FIELD_U16:
    case FIELD_U8:
      return field->value;
    default:
      return 0;
  }
}

const char* CFieldList::GetString(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_STRING);
  return field != nullptr ? static_cast<const char*>(field->data) : nullptr;
}

const uint8_t* CFieldList::GetBlob(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_BLOB);
  return field != nullptr ? static_cast<const uint8_t*>(field->data) : nullptr;
}

const uint16_t* CFieldList::GetU16Array(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_U16ARRAY);
  return field != nullptr ? static_cast<const uint16_t*>(field->data) : nullptr;
}

const uint32_t* CFieldList::GetU32Array(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_U32ARRAY);
  return field != nullptr ? static_cast<const uint32_t*>(field->data) : nullptr;
}

CFieldList* CFieldList::GetList(uint32_t tag) const {
  const Field* field = FindTyped(tag, FIELD_LIST);
  return field != nullptr ? static_cast<CFieldList*>(field->data) : nullptr;
}

bool CFieldList::TagAt(uint32_t index, uint32_t* tag) const {
  if (index >= count_) return false;
  if (tag != nullptr) *tag = fields_[index].tag;
  return true;
}

void CFieldList::CopyFrom(const CFieldList& other) {
  if (&other == this) return;
  DiscardArray();
  code_ = other.code_;
  growth_ = other.growth_;
  fields_ = NewSlots(other.capacity_);
  capacity_ = fields_ != nullptr ? other.capacity_ : 0;
  cursor_ = kCursorUnset;
  for (uint32_t i = 0; i < other.count_; ++i) {
    const Field& f = other.fields_[i];
    switch (f.type) {
      case FIELD_U32:
        SetU32(f.tag, f.value);
        break;
      case FIELD_U16:
        SetU16(f.tag, static_cast<uint16_t>(f.value));
        break;
      case FIELD_U8:
        SetU8(f.tag, static_cast<uint8_t>(f.value));
        break;
      case FIELD_U64:
        SetU64(f.tag, f.value, f.high);
        break;
      case FIELD_STRING:
        SetString(f.tag, static_cast<const char*>(f.data));
        break;
      case FIELD_BLOB:
        SetBlob(f.tag, f.length, f.data);
        break;
      case FIELD_U16ARRAY:
        SetU16Array(f.tag, f.length, static_cast<const uint16_t*>(f.data));
        break;
      case FIELD_U32ARRAY:
        SetU32Array(f.tag, f.length, static_cast<const uint32_t*>(f.data));
        break;
      case FIELD_LIST:
        if (f.data != nullptr) SetList(f.tag, static_cast<const CFieldList*>(f.data));
        break;
      default:
        break;  // unset and unassigned types are not copied
    }
  }
}
