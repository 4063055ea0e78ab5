#include "vqscwlib/selector/text_util.h"

#include <QString>
#include <cstring>

namespace vqscw {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string CutText(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  // The cut falls inside a character when the byte after it continues that character; then the
  // whole character goes.
  size_t end = max_bytes;
  while (end > 0 && IsContinuationByte(static_cast<unsigned char>(text[end]))) --end;
  return std::string(text.substr(0, end));
}

std::string_view TextOfBuffer(const char* buffer, size_t size) {
  if (buffer == nullptr) return {};
  const void* zero = std::memchr(buffer, 0, size);
  return std::string_view(buffer, zero ? static_cast<const char*>(zero) - buffer : size);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return ToQString(a).compare(ToQString(b), Qt::CaseInsensitive) == 0;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return ToQString(text).startsWith(ToQString(prefix), Qt::CaseInsensitive);
}

}  // namespace vqscw
