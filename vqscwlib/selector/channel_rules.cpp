#include "vqscwlib/selector/channel_rules.h"

#include <QString>
#include <algorithm>
#include <cstdio>
#include <limits>

#include "vqscwlib/selector/text_util.h"

namespace vqscw {

std::string ChannelText(int32_t channel) {
  char text[16];
  std::snprintf(text, sizeof text, "%5d", static_cast<int>(channel));
  return text;
}

std::string PresetText(const Presets& presets, int32_t channel) {
  std::string text;
  for (int i = 0; i < kPresetCount; ++i) {
    if (presets[i] == channel) {
      text += static_cast<char>('1' + i);
      text += ' ';
    }
  }
  return text;
}

bool PassesFilter(std::string_view category, std::string_view filter) {
  if (EqualsNoCase(filter, kFilterAll)) return true;
  if (category.empty()) return EqualsNoCase(filter, kFilterUnassigned);
  return EqualsNoCase(filter, category);
}

bool ComboTakes(std::span<const std::string> entries, std::string_view text) {
  if (text.empty()) return false;
  return std::none_of(entries.begin(), entries.end(),
                      [&](const std::string& entry) { return StartsWithNoCase(entry, text); });
}

size_t SortedComboIndex(std::span<const std::string> entries, std::string_view text) {
  const QString key = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  auto orders_after = [&](const std::string& entry) {
    const QString other = QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
    int order = key.compare(other, Qt::CaseInsensitive);
    if (order == 0) order = CompareCells(text, entry);
    return order < 0;
  };
  auto it = std::find_if(entries.begin(), entries.end(), orders_after);
  return static_cast<size_t>(it - entries.begin());
}

int CompareChannels(int32_t a, int32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

int CompareCells(std::string_view a, std::string_view b) {
  a = a.substr(0, std::min(a.size(), kCellTextLimit));
  b = b.substr(0, std::min(b.size(), kCellTextLimit));
  // std::string_view compares through char_traits<char>, which orders as unsigned bytes.
  int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int32_t LeadingNumber(std::string_view text) {
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), kLimit);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

int PresetOfEditedText(std::string_view text) {
  int32_t n = LeadingNumber(text);
  return n >= 1 && n <= kPresetCount ? n : 0;
}

}  // namespace vqscw
