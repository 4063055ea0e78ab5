#include "vqscwlib/spy/spy_table.h"

#include <new>

#include "vqscwlib/platform/clock.h"

namespace vqscw {
namespace {

constexpr size_t kFirstCapacity = 16;
// Fibonacci hashing: the top bits of the key times 2^64 / golden ratio.
constexpr uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;

}  // namespace

int SpyTable::Register(const CMessage& advertisement, CMessageEndpoint* requester,
                       RegisterCallback callback, void* user) {
  return RegisterAdvertisement(&first_, advertisement, requester, callback, user, this,
                               request_port_);
}

int SpyTable::GarbageCollect() {
  collecting_ = true;
  const int removed = CollectExpiredTerminals(&first_, this);
  collecting_ = false;
  return removed;
}

void SpyTable::Release() {
  ReleaseSourceTable(&first_);
  delete[] entries_;
  entries_ = nullptr;
  capacity_ = 0;
  shift_ = 64;
  count_ = 0;
  has_earliest_ = false;
}

size_t SpyTable::Home(uint64_t key) const {
  return static_cast<size_t>((key * kHashMultiplier) >> shift_);
}

bool SpyTable::Grow() {
  const size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
  auto* entries = new (std::nothrow) Entry[capacity]();
  if (entries == nullptr) return false;
  Entry* old = entries_;
  const size_t old_capacity = capacity_;
  entries_ = entries;
  capacity_ = capacity;
  shift_ = 64 - __builtin_ctzll(capacity);
  for (size_t i = 0; i < old_capacity; ++i) {
    if (old[i].terminal == nullptr) continue;
    size_t at = Home(old[i].key);
    while (entries_[at].terminal != nullptr) at = (at + 1) & (capacity_ - 1);
    entries_[at] = old[i];
  }
  delete[] old;
  return true;
}

SpyTerminal* SpyTable::Find(uint16_t hwid, uint32_t inip) {
  if (count_ == 0) return nullptr;
  const uint64_t key = Key(hwid, inip);
  for (size_t at = Home(key);; at = (at + 1) & (capacity_ - 1)) {
    const Entry& entry = entries_[at];
    if (entry.terminal == nullptr) return nullptr;
    if (entry.key == key) return entry.terminal;
  }
}

bool SpyTable::Insert(SpyTerminal* terminal) {
  if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
  const uint64_t key = Key(terminal->hwid, terminal->inip);
  size_t at = Home(key);
  while (entries_[at].terminal != nullptr) at = (at + 1) & (capacity_ - 1);
  entries_[at] = Entry{key, terminal};
  ++count_;
  return true;
}

void SpyTable::Erase(SpyTerminal* terminal) {
  if (removal_hook_ != nullptr) {
    removal_hook_(*terminal, collecting_ ? Removal::kExpired : Removal::kReplaced, removal_user_);
  }
  if (count_ == 0) return;
  const size_t mask = capacity_ - 1;
  size_t hole = Home(Key(terminal->hwid, terminal->inip));
  while (entries_[hole].terminal != terminal) {
    if (entries_[hole].terminal == nullptr) return;  // not indexed
    hole = (hole + 1) & mask;
  }
  // Backward-shift deletion: move up every later entry of the run that may fill the hole, so
  // that no lookup meets a free entry before its own.
  for (size_t next = (hole + 1) & mask; entries_[next].terminal != nullptr;
       next = (next + 1) & mask) {
    const size_t home = Home(entries_[next].key);
    // The entry may move to the hole when its home does not lie cyclically in (hole, next].
    const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (stays) continue;
    entries_[hole] = entries_[next];
    hole = next;
  }
  entries_[hole] = Entry{0, nullptr};
  --count_;
}

void SpyTable::Touched(const SpyTerminal& terminal) {
  // Expiries lie within a few minutes of one another, so the sign of the difference orders them
  // across the tick counter's wrap.
  if (!has_earliest_ || TickDiff(terminal.expiry, earliest_) < 0) {
    earliest_ = terminal.expiry;
    has_earliest_ = true;
  }
}

bool SpyTable::MayHaveExpired(uint32_t now) {
  return has_earliest_ && TickDiff(earliest_, now) < 0;
}

void SpyTable::StartSweep() { has_earliest_ = false; }

}  // namespace vqscw
