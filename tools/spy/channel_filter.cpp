#include "tools/spy/channel_filter.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace vqscw::tools {
namespace {

constexpr char kFilePrefix[] = "file://";
constexpr char kAllow[] = "allow";
constexpr uint32_t kFirstChannel = 1;
constexpr uint32_t kLastChannel = 32767;

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* SkipBlanks(const char* p) {
  while (*p != '\0' && IsBlank(*p)) ++p;
  return p;
}

// Reads a number at `p` as strtoul with automatic base does; false when there is none or it lies
// outside the channel range. *end is set past it.
bool ReadChannel(const char* p, uint32_t* value, const char** end) {
  char* stop = nullptr;
  const unsigned long number = std::strtoul(p, &stop, 0);
  *end = stop;
  if (stop == p) return false;
  *value = static_cast<uint32_t>(number);
  return number >= kFirstChannel && number <= kLastChannel;
}

}  // namespace

void ChannelFilter::ParseEntry(const char* text, bool file_form) {
  uint32_t low = 0;
  const char* p = nullptr;
  if (!ReadChannel(text, &low, &p)) return;
  p = SkipBlanks(p);
  if (*p == '-') {
    uint32_t high = 0;
    if (ReadChannel(SkipBlanks(p + 1), &high, &p) && high >= low) ranges_.push_back({low, high});
    return;
  }
  if (*p == '\0' || (!file_form && *p == ';')) ranges_.push_back({low, low});
}

bool ChannelFilter::Parse(const std::string& text, std::string* error) {
  all_ = false;
  ranges_.clear();
  if (text.compare(0, std::strlen(kFilePrefix), kFilePrefix) == 0) {
    const std::string path = text.substr(std::strlen(kFilePrefix));
    std::ifstream in(path);
    if (!in) {
      *error = "cannot read the access-list file " + path;
      return false;
    }
    std::string line;
    while (std::getline(in, line)) {
      const char* p = SkipBlanks(line.c_str());
      if (strncasecmp(p, kAllow, std::strlen(kAllow)) != 0) continue;
      p += std::strlen(kAllow);
      if (!IsBlank(*p)) continue;
      ParseEntry(p, true);
    }
    return true;
  }
  // Inline: entries separated by one or more ";".
  for (size_t at = 0; at < text.size();) {
    ParseEntry(text.c_str() + at, false);
    const size_t next = text.find(';', at);
    if (next == std::string::npos) break;
    at = text.find_first_not_of(';', next);
    if (at == std::string::npos) break;
  }
  return true;
}

bool ChannelFilter::Allows(uint32_t channel) const {
  if (all_) return true;
  for (const auto& [low, high] : ranges_) {
    if (channel >= low && channel <= high) return true;
  }
  return false;
}

}  // namespace vqscw::tools
