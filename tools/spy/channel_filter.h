// The channels a listening tool reports: every channel, or those of an access list written as the
// selector takes it: inline ranges ("1-100;205;300 - 310") or "file://PATH" naming a file of
// "allow N" and "allow N-M" lines. Numbers are decimal, "0x" hexadecimal or "0" octal, from 1 to
// 32767; malformed entries are skipped.
#ifndef TOOLS_SPY_CHANNEL_FILTER_H_
#define TOOLS_SPY_CHANNEL_FILTER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vqscw::tools {

class ChannelFilter {
 public:
  // Reports every channel.
  ChannelFilter() = default;

  // Parses `text`. False, with a message in *error, when a "file://" file cannot be read.
  bool Parse(const std::string& text, std::string* error);

  bool Allows(uint32_t channel) const;
  const std::vector<std::pair<uint32_t, uint32_t>>& ranges() const { return ranges_; }

 private:
  // Reads one entry at the start of `text`; appends it when it is valid. `file_form`: a ";"
  // does not end a single channel.
  void ParseEntry(const char* text, bool file_form);

  bool all_ = true;
  std::vector<std::pair<uint32_t, uint32_t>> ranges_;
};

}  // namespace vqscw::tools

#endif  // TOOLS_SPY_CHANNEL_FILTER_H_
