// Test helpers for the message model: random field lists and structural comparison.
#ifndef TESTS_SUPPORT_MESSAGE_HELPERS_H_
#define TESTS_SUPPORT_MESSAGE_HELPERS_H_

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vqscwlib/message/field_list.h"

namespace vqscw::testing {

// Fills `list` with up to `max_fields` random fields of every assigned type, nesting lists up to
// `depth` levels. Tags are distinct within a list so lookups are unambiguous.
inline void FillRandomList(CFieldList* list, std::mt19937* rng, int depth, int max_fields = 12) {
  auto pick = [rng](uint32_t lo, uint32_t hi) {
    return std::uniform_int_distribution<uint32_t>(lo, hi)(*rng);
  };
  list->SetCode(pick(0, 0xFFFFFFFFu));
  const uint32_t fields = pick(0, static_cast<uint32_t>(max_fields));
  for (uint32_t i = 0; i < fields; ++i) {
    const uint32_t tag = 0x41414100u + i;  // "AAA" + a distinct last byte
    switch (pick(1, depth > 0 ? 9 : 8)) {
      case 1:
        list->SetU32(tag, pick(0, 0xFFFFFFFFu));
        break;
      case 2: {
        std::string text(pick(0, 40), 'x');
        for (char& c : text) c = static_cast<char>(pick(1, 255));
        list->SetString(tag, text.c_str());
        break;
      }
      case 3: {
        std::vector<uint8_t> block(pick(0, 64));
        for (uint8_t& b : block) b = static_cast<uint8_t>(pick(0, 255));
        list->SetBlob(tag, static_cast<uint16_t>(block.size()), block.data());
        break;
      }
      case 4: {
        std::vector<uint16_t> values(pick(0, 20));
        for (uint16_t& v : values) v = static_cast<uint16_t>(pick(0, 0xFFFF));
        list->SetU16Array(tag, static_cast<uint16_t>(values.size()), values.data());
        break;
      }
      case 5: {
        std::vector<uint32_t> values(pick(0, 20));
        for (uint32_t& v : values) v = pick(0, 0xFFFFFFFFu);
        list->SetU32Array(tag, static_cast<uint16_t>(values.size()), values.data());
        break;
      }
      case 6:
        list->SetU8(tag, static_cast<uint8_t>(pick(0, 0x7F)));  // bytes a decode keeps as set
        break;
      case 7:
        list->SetU16(tag, static_cast<uint16_t>(pick(0, 0xFFFF)));
        break;
      case 8:
        list->SetU64(tag, pick(0, 0xFFFFFFFFu), pick(0, 0xFFFFFFFFu));
        break;
      case 9: {
        CFieldList nested;
        FillRandomList(&nested, rng, depth - 1, max_fields);
        list->SetList(tag, &nested);
        break;
      }
    }
  }
}

// True when both lists have the same code and the same fields in the same order with equal
// values, nested lists compared the same way.
inline bool SameFields(const CFieldList& a, const CFieldList& b) {
  if (a.Code() != b.Code() || a.Count() != b.Count()) return false;
  for (uint32_t i = 0; i < a.Count(); ++i) {
    uint32_t tag_a = 0, tag_b = 0;
    a.TagAt(i, &tag_a);
    b.TagAt(i, &tag_b);
    if (tag_a != tag_b || a.TypeOf(tag_a) != b.TypeOf(tag_b)) return false;
    const uint32_t tag = tag_a;
    const uint16_t n = a.LengthOf(tag);
    if (n != b.LengthOf(tag)) return false;
    switch (a.TypeOf(tag)) {
      case FIELD_U32:
      case FIELD_U16:
      case FIELD_U8:
        if (a.GetInt(tag) != b.GetInt(tag)) return false;
        break;
      case FIELD_U64:
        if (a.GetU64(tag) != b.GetU64(tag)) return false;
        break;
      case FIELD_STRING:
        if ((a.GetString(tag) == nullptr) != (b.GetString(tag) == nullptr)) return false;
        if (n != 0 && std::memcmp(a.GetString(tag), b.GetString(tag), n) != 0) return false;
        break;
      case FIELD_BLOB:
        if (n != 0 && std::memcmp(a.GetBlob(tag), b.GetBlob(tag), n) != 0) return false;
        break;
      case FIELD_U16ARRAY:
        if (n != 0 && std::memcmp(a.GetU16Array(tag), b.GetU16Array(tag), 2u * n) != 0)
          return false;
        break;
      case FIELD_U32ARRAY:
        if (n != 0 && std::memcmp(a.GetU32Array(tag), b.GetU32Array(tag), 4u * n) != 0)
          return false;
        break;
      case FIELD_LIST:
        if (!SameFields(*a.GetList(tag), *b.GetList(tag))) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_MESSAGE_HELPERS_H_
