#include "tools/common/arguments.h"

namespace vqscw::tools {

bool ArgumentReader::NextOption(std::string* name) {
  has_inline_ = false;
  inline_value_.clear();
  const std::string& arg = args_[next_++];
  if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
    *name = arg;
    return false;
  }
  const size_t equals = arg.find('=');
  if (equals == std::string::npos) {
    *name = arg.substr(2);
  } else {
    *name = arg.substr(2, equals - 2);
    inline_value_ = arg.substr(equals + 1);
    has_inline_ = true;
  }
  return true;
}

bool ArgumentReader::Value(std::string* value) {
  if (has_inline_) {
    *value = inline_value_;
    has_inline_ = false;
    return true;
  }
  if (Done()) return false;
  *value = args_[next_++];
  return true;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return false;
  uint64_t result = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    if (digit > max || result > (max - digit) / base) return false;
    result = result * base + digit;
  }
  *value = result;
  return true;
}

}  // namespace vqscw::tools
