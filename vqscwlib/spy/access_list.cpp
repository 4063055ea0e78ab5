#include "vqscwlib/spy/access_list.h"

#include <cstring>
#include <new>
#include <utility>

namespace vqscw {
namespace {

constexpr char kAllow[] = "allow";
constexpr size_t kAllowLength = sizeof kAllow - 1;
constexpr size_t kFilePrefixLength = sizeof kAccessFilePrefix - 1;

// White space as the C locale's isspace() has it.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// White space that does not end a line.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// The number at `text` as an unsigned 32-bit conversion with automatic base reads it: leading
// white space, an optional sign, then "0x" hexadecimal, "0" octal or decimal digits. A value too
// large gives 0xFFFFFFFF; a negative one is negated modulo 2^32. *end is set past the last digit,
// or to `text` when there is no number.
uint32_t ReadNumber(const char* text, const char** end) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  const char* digits = p;
  uint64_t value = 0;
  bool overflow = false;
  for (int digit; (digit = DigitValue(*p)) < base; ++p) {
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  if (p == digits) {
    *end = text;
    return 0;
  }
  *end = p;
  if (overflow) return 0xFFFFFFFFu;
  const auto result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

bool IsChannel(uint32_t number) { return number >= kFirstChannel && number <= kLastChannel; }

// Parses one entry at `text`. `inline_form`: ";" also ends a single channel.
bool ParseEntry(const char* text, bool inline_form, uint32_t* low, uint32_t* high) {
  const char* end = nullptr;
  const uint32_t first = ReadNumber(text, &end);
  if (!IsChannel(first)) return false;

  const char* p = end;
  while (IsBlank(*p)) ++p;
  if (*p == '\0' || *p == '\r' || *p == '\n' || (inline_form && *p == ';')) {
    *low = *high = first;
    return true;
  }
  p = end;
  while (IsSpace(*p)) ++p;
  if (*p != '-') return false;
  const uint32_t second = ReadNumber(p + 1, &end);
  if (!IsChannel(second) || second < first) return false;
  *low = first;
  *high = second;
  return true;
}

// The entry of a file line, when the line allows one.
bool ParseLine(const char* line, uint32_t* low, uint32_t* high) {
  const char* p = line;
  while (IsSpace(*p)) ++p;
  for (size_t i = 0; i < kAllowLength; ++i) {
    if (Lower(p[i]) != kAllow[i]) return false;
  }
  p += kAllowLength;
  if (!IsSpace(*p)) return false;
  return ParseEntry(p, false, low, high);
}

}  // namespace

void AccessList::Clear() {
  while (first_ != nullptr) {
    AccessRange* next = first_->next;
    delete first_;
    first_ = next;
  }
  last_ = nullptr;
}

bool AccessList::Append(uint32_t low, uint32_t high) {
  auto* range = new (std::nothrow) AccessRange{low, high, nullptr};
  if (range == nullptr) return false;
  if (last_ != nullptr) {
    last_->next = range;
  } else {
    first_ = range;
  }
  last_ = range;
  return true;
}

void AccessList::Swap(AccessList* other) {
  std::swap(first_, other->first_);
  std::swap(last_, other->last_);
}

bool AccessList::Contains(uint32_t channel) const {
  for (const AccessRange* range = first_; range != nullptr; range = range->next) {
    if (range->low <= channel && channel <= range->high) return true;
  }
  return false;
}

uint32_t ParseAccessText(const char* text, AccessList* list) {
  if (text == nullptr) return kAccessListParsed;
  const char* p = text;
  while (*p != '\0') {
    uint32_t low = 0;
    uint32_t high = 0;
    if (ParseEntry(p, true, &low, &high) && !list->Append(low, high)) return kAccessListNoMemory;
    // The next entry starts after the next ";" (searched from the entry's second character) and
    // any further ";" that follow it.
    const char* separator = std::strchr(p + 1, ';');
    if (separator == nullptr) break;
    p = separator;
    while (*p == ';') ++p;
  }
  return kAccessListParsed;
}

uint32_t ParseAccessFile(std::FILE* file, AccessList* list) {
  char line[kAccessFileLineLength + 1];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    uint32_t low = 0;
    uint32_t high = 0;
    if (ParseLine(line, &low, &high) && !list->Append(low, high)) return kAccessListNoMemory;
  }
  return kAccessListParsed;
}

uint32_t ParseAccessList(const char* text, AccessList* list) {
  if (text == nullptr || std::strncmp(text, kAccessFilePrefix, kFilePrefixLength) != 0) {
    return ParseAccessText(text, list);
  }
  std::FILE* file = std::fopen(text + kFilePrefixLength, "r");
  if (file == nullptr) return kAccessListNoFile;
  const uint32_t result = ParseAccessFile(file, list);
  std::fclose(file);
  return result;
}

}  // namespace vqscw
