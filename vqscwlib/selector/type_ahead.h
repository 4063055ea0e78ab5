// Type-ahead in the channel list: keys typed in quick succession form one search, which jumps to
// the first row (from the current one on, wrapping) whose channel number begins with the digits
// typed, or whose name begins with the text typed, case not counting. A new search starts after
// the current row, so pressing the same letter again and again steps through the names that
// begin with it; digits always search the whole number typed, so "11" finds channel 11.
//
// Widget-free: the list feeds it keys with the tick they arrived at.
#ifndef VQSCWLIB_SELECTOR_TYPE_AHEAD_H_
#define VQSCWLIB_SELECTOR_TYPE_AHEAD_H_

#include <QString>
#include <cstdint>
#include <vector>

namespace vqscw {

struct TypeAheadSearch {
  QString text;        // what the rows must begin with; empty: nothing to search
  bool after_current;  // start at the row after the current one, not at it
};

class TypeAhead {
 public:
  // `interval_ms`: how long after a key the next one still adds to the same search.
  explicit TypeAhead(uint32_t interval_ms) : interval_ms_(interval_ms) {}

  // Whether a key arriving at tick `now` would add to the search in progress.
  bool Extends(uint32_t now) const;

  // The search to run for `typed` arriving at tick `now`.
  TypeAheadSearch Type(const QString& typed, uint32_t now);

 private:
  const uint32_t interval_ms_;
  QString typed_;      // the keys of the search in progress
  uint32_t last_ = 0;  // tick of its last key
};

struct TypeAheadRow {
  int32_t channel;
  QString name;
};

// Whether `row` matches `text`: digits only match the start of the channel number, anything
// else the start of the name.
bool TypeAheadMatches(const TypeAheadRow& row, const QString& text);

// The row `search` finds, looking from `current` (or the row after it) to the end and then from
// the top; `current` -1 looks from the top. -1 when no row matches.
int FindTypeAheadRow(const std::vector<TypeAheadRow>& rows, int current,
                     const TypeAheadSearch& search);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_TYPE_AHEAD_H_
