// SpyTable: the source table a spy owns. It is the linked table of advspy_Register and
// advspy_GarbageCollect, with an index of its terminals by (HWID, INIP) beside it so that an
// advertisement of a known terminal costs one lookup instead of a walk, and a bound on the
// earliest expiry so that a collection with nothing to remove costs no walk. Every result, every
// line printed and the table itself stay exactly those of the plain operations.
//
// Like the plain table it has no lock: the spy holds its lock around every call.
#ifndef VQSCWLIB_SPY_SPY_TABLE_H_
#define VQSCWLIB_SPY_SPY_TABLE_H_

#include <cstddef>
#include <cstdint>

#include "vqscwlib/protocol/source_table.h"

namespace vqscw {

class SpyTable final : private TerminalDirectory {
 public:
  // Why a terminal's record leaves the table.
  enum class Removal {
    kExpired,   // silent for the terminal lifetime; dropped by a collection
    kReplaced,  // its advertisement version changed; a new record follows at once
  };
  // Called with the record just before it is unlinked and released.
  using RemovalHook = void (*)(const SpyTerminal& terminal, Removal why, void* user);

  SpyTable() = default;
  ~SpyTable() override { Release(); }
  SpyTable(const SpyTable&) = delete;
  SpyTable& operator=(const SpyTable&) = delete;

  // advspy_Register and advspy_GarbageCollect on this table.
  int Register(const CMessage& advertisement, CMessageEndpoint* requester,
               RegisterCallback callback, void* user);
  int GarbageCollect();
  // Releases every record and the index.
  void Release();

  // The first record (the linked table, as the plain operations keep it).
  SpyTerminal* first() const { return first_; }
  size_t size() const { return count_; }

  // The port requests for full advertisements go to; tests point it at a scripted terminal.
  void set_request_port(uint16_t port) { request_port_ = port; }

  // Sets (or, with null, clears) the hook told of every record that leaves the table through
  // Register or GarbageCollect; Release tells it nothing. It runs inside those calls.
  void set_removal_hook(RemovalHook hook, void* user) {
    removal_hook_ = hook;
    removal_user_ = user;
  }

 private:
  struct Entry {
    uint64_t key;
    SpyTerminal* terminal;  // null: the entry is free
  };

  static uint64_t Key(uint16_t hwid, uint32_t inip) {
    return (static_cast<uint64_t>(hwid) << 32) | inip;
  }
  size_t Home(uint64_t key) const;
  bool Grow();

  // TerminalDirectory.
  SpyTerminal* Find(uint16_t hwid, uint32_t inip) override;
  bool Insert(SpyTerminal* terminal) override;
  void Erase(SpyTerminal* terminal) override;
  void Touched(const SpyTerminal& terminal) override;
  bool MayHaveExpired(uint32_t now) override;
  void StartSweep() override;

  SpyTerminal* first_ = nullptr;
  // Open addressing with linear probing; the capacity is a power of two, at most half used.
  Entry* entries_ = nullptr;
  size_t capacity_ = 0;
  int shift_ = 64;  // 64 - log2(capacity)
  size_t count_ = 0;
  // No record's expiry lies before earliest_ (when has_earliest_).
  bool has_earliest_ = false;
  uint32_t earliest_ = 0;
  uint16_t request_port_ = kTerminalPort;
  RemovalHook removal_hook_ = nullptr;
  void* removal_user_ = nullptr;
  bool collecting_ = false;  // set during GarbageCollect: removals then are expiries
};

}  // namespace vqscw

#endif  // VQSCWLIB_SPY_SPY_TABLE_H_
