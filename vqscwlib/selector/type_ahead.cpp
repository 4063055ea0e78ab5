#include "vqscwlib/selector/type_ahead.h"

#include "vqscwlib/platform/clock.h"

namespace vqscw {
namespace {

bool AllDigits(const QString& text) {
  if (text.isEmpty()) return false;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

// Whether `text` is one character typed more than once.
bool OneKeyRepeated(const QString& text) {
  if (text.size() < 2) return false;
  for (QChar c : text) {
    if (c != text.front()) return false;
  }
  return true;
}

}  // namespace

bool TypeAhead::Extends(uint32_t now) const {
  // The tick difference is taken modulo 2^32, so a search across the counter's wrap goes on.
  const int32_t since = TickDiff(now, last_);
  return !typed_.isEmpty() && since >= 0 && static_cast<uint32_t>(since) <= interval_ms_;
}

TypeAheadSearch TypeAhead::Type(const QString& typed, uint32_t now) {
  if (typed.isEmpty()) return {};
  const bool extends = Extends(now);
  if (!extends) typed_.clear();
  typed_ += typed;
  last_ = now;
  if (!AllDigits(typed_) && OneKeyRepeated(typed_)) return {QString(typed_.front()), true};
  return {typed_, !extends};
}

bool TypeAheadMatches(const TypeAheadRow& row, const QString& text) {
  if (AllDigits(text)) return QString::number(row.channel).startsWith(text);
  return row.name.startsWith(text, Qt::CaseInsensitive);
}

int FindTypeAheadRow(const std::vector<TypeAheadRow>& rows, int current,
                     const TypeAheadSearch& search) {
  const int count = static_cast<int>(rows.size());
  if (count == 0 || search.text.isEmpty()) return -1;
  int start = 0;
  if (current >= 0 && current < count) start = search.after_current ? current + 1 : current;
  for (int i = 0; i < count; ++i) {
    const int row = (start + i) % count;
    if (TypeAheadMatches(rows[static_cast<size_t>(row)], search.text)) return row;
  }
  return -1;
}

}  // namespace vqscw
