#include "vqscwlib/message/dump.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "vqscwlib/message/message.h"

int32_t cfg_msgdump = 0;
char* msgdump = nullptr;

namespace {

// Longest field name: eight hex digits, "/" and four letters.
constexpr int kMaxNameLength = 13;
// Longest kind prefix ("UNKN "), "[", the code, " ", "]" and the NUL.
constexpr uint32_t kListOverhead = 5 + 1 + 4 + 1 + 1 + 1;

// How a text field without a text (length 0) is shown.
constexpr char kNullText[] = "(null)";
constexpr uint32_t kNullTextLength = sizeof kNullText - 1;

const char* KindText(char kind) {
  switch (kind) {
    case 0:
      return "DGRM";
    case 'M':
      return "MSG ";
    case 'R':
      return "REQ ";
    case 'T':
      return "RES ";
    case '?':
      return "    ";
    case ' ':
      return "";
    default:
      return "UNKN";
  }
}

void FieldName(uint32_t tag, int flags, char* name) {
  name[0] = '\0';
  if (flags & kDumpTagHex) std::sprintf(name, "%08X", tag);
  if (flags & kDumpTagText) {
    if (name[0] != '\0') std::strcat(name, "/");
    char text[5];
    std::strcat(name, tag == TAG_REFI ? "refi" : tag == TAG_ID ? "*id*" : TagToText(tag, text));
  }
}

uint32_t ByteSwap(uint32_t v) { return __builtin_bswap32(v); }

char* RenderList(const CFieldList& list, char kind, char* out, int flags) {
  const char* prefix = KindText(kind);
  if (prefix[0] != '\0') out += std::sprintf(out, "%s ", prefix);
  char code[5];
  out += std::sprintf(out, "[%s ", TagToText(list.Code(), code));

  for (uint32_t i = 0; i < list.Count(); ++i) {
    uint32_t tag = 0;
    list.TagAt(i, &tag);
    char name[kMaxNameLength + 1];
    FieldName(tag, flags, name);
    if (i > 0) *out++ = ',';
    const uint8_t type = list.TypeOf(tag);
    const uint16_t length = list.LengthOf(tag);
    switch (type) {
      case FIELD_U32:
        out += std::sprintf(out, "%s=%08X", name, list.GetU32(tag));
        break;
      case FIELD_STRING: {
        const char* text = list.GetString(tag);
        out += std::sprintf(out, "%s='%s'", name, text != nullptr ? text : kNullText);
        break;
      }
      case FIELD_BLOB: {
        out += std::sprintf(out, "%s={", name);
        // The block's bytes up to its first zero byte, and never past its end.
        const uint8_t* block = list.GetBlob(tag);
        const void* zero = block != nullptr ? std::memchr(block, 0, length) : nullptr;
        const size_t shown = block == nullptr  ? 0
                             : zero != nullptr ? static_cast<const uint8_t*>(zero) - block
                                               : length;
        if (shown != 0) std::memcpy(out, block, shown);
        out += shown;
        *out++ = '}';
        break;
      }
      case FIELD_U16ARRAY: {
        out += std::sprintf(out, "%s={", name);
        const uint16_t* values = list.GetU16Array(tag);
        for (uint32_t j = 0; values != nullptr && j < length; ++j) {
          out += std::sprintf(out, j == 0 ? "%04X" : ", %04X", values[j]);
        }
        *out++ = '}';
        break;
      }
      case FIELD_U32ARRAY: {
        out += std::sprintf(out, "%s={", name);
        const uint32_t* values = list.GetU32Array(tag);
        for (uint32_t j = 0; values != nullptr && j < length; ++j) {
          out += std::sprintf(out, j == 0 ? "%08X" : ", %08X", values[j]);
        }
        *out++ = '}';
        break;
      }
      case FIELD_LIST: {
        out += std::sprintf(out, "%s=", name);
        if (const CFieldList* nested = list.GetList(tag)) out = RenderList(*nested, 0, out, flags);
        break;
      }
      case FIELD_U8:
        out += std::sprintf(out, "%s=%02X", name, list.GetU8(tag));
        break;
      case FIELD_U16:
        out += std::sprintf(out, "%s=%04X", name, list.GetU16(tag));
        break;
      case FIELD_U64: {
        // Each half with its four bytes in reverse order, as the terminals print them.
        const uint64_t v = list.GetU64(tag);
        out += std::sprintf(out, "%s=%08X%08X", name, ByteSwap(static_cast<uint32_t>(v >> 32)),
                            ByteSwap(static_cast<uint32_t>(v)));
        break;
      }
      default:
        std::printf("*unknown type=%d*", type);
        break;
    }
  }
  *out++ = ']';
  *out = '\0';
  return out;
}

}  // namespace

const char* Message2String(CMessage* message, char* buffer, int flags) {
  if (message == nullptr || buffer == nullptr) return nullptr;
  RenderList(*message, message->Kind(), buffer, flags);
  return buffer;
}

uint32_t MessageDumpSize(const CFieldList& list) {
  uint32_t size = kListOverhead;
  for (uint32_t i = 0; i < list.Count(); ++i) {
    uint32_t tag = 0;
    list.TagAt(i, &tag);
    const uint32_t length = list.LengthOf(tag);
    size += 1 + kMaxNameLength;  // comma and name
    switch (list.TypeOf(tag)) {
      case FIELD_STRING:
        size += 3 + (length > kNullTextLength ? length : kNullTextLength);
        break;
      case FIELD_BLOB:
        size += 3 + length;
        break;
      case FIELD_U16ARRAY:
        size += 3 + 6 * length;
        break;
      case FIELD_U32ARRAY:
        size += 3 + 10 * length;
        break;
      case FIELD_LIST:
        if (const CFieldList* nested = list.GetList(tag)) size += 1 + MessageDumpSize(*nested);
        break;
      default:
        size += 17;  // "=" and up to sixteen hex digits
        break;
    }
  }
  return size;
}

void FormatDebugTime(int64_t seconds, char* buffer, size_t size) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm utc;
  if (gmtime_r(&t, &utc) == nullptr ||
      std::strftime(buffer, size, "%Y.%m.%d %H:%M:%S", &utc) == 0) {
    if (size > 0) buffer[0] = '\0';
  }
}

const char* dbg_time() {
  static char buffer[64];
  FormatDebugTime(static_cast<int64_t>(std::time(nullptr)), buffer, sizeof buffer);
  return buffer;
}
