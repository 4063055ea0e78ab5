// Command-line reading shared by the tools: options of the forms "--name value" and
// "--name=value", and strict numbers.
#ifndef TOOLS_COMMON_ARGUMENTS_H_
#define TOOLS_COMMON_ARGUMENTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/command_line.h"

namespace vqscw::tools {

class ArgumentReader {
 public:
  explicit ArgumentReader(std::vector<std::string> args) : args_(std::move(args)) {}

  bool Done() const { return next_ >= args_.size(); }
  // Takes the next argument. True with its name in *name ("--card=x" gives "card") when it is an
  // option; false, with the argument itself in *name, when it is not.
  bool NextOption(std::string* name);
  // The value of the option just taken: the text after its "=", else the next argument. False
  // when there is none.
  bool Value(std::string* value);
  // Whether the option just taken carried a value after "=".
  bool HasInlineValue() const { return has_inline_; }

 private:
  std::vector<std::string> args_;
  size_t next_ = 0;
  bool has_inline_ = false;
  std::string inline_value_;
};

// Parses all of `text` as an unsigned decimal number, or hexadecimal after "0x", no larger than
// `max`. False for anything else (signs, spaces, trailing characters, overflow).
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value);

}  // namespace vqscw::tools

#endif  // TOOLS_COMMON_ARGUMENTS_H_
