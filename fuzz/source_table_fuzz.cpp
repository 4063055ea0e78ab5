// Feeds arbitrary advertisements to the source table, through the exported walk and through the
// spy's indexed table side by side. The input is a series of chunks: a big-endian 16-bit length
// and that many body bytes, decoded as a message and registered; a length of 0 is followed by
// two bytes of milliseconds to advance the clock by before a collection. Aborts when the two
// tables disagree in any result or record, or when a table breaks its own rules.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/spy_table.h"

namespace {

vqscw::FakeClock* g_clock = nullptr;

bool SameRecord(const SpyTerminal& a, const SpyTerminal& b) {
  if (a.hwid != b.hwid || a.inip != b.inip || a.advv != b.advv || a.expiry != b.expiry ||
      a.nums != b.nums || std::memcmp(a.name, b.name, sizeof a.name) != 0) {
    return false;
  }
  for (int i = 0; i < a.nums; ++i) {
    const SpySource& x = a.sources()[i];
    const SpySource& y = b.sources()[i];
    if (x.tag != y.tag || x.psid != y.psid || x.fsid != y.fsid || x.fast != y.fast ||
        std::memcmp(x.name, y.name, sizeof x.name) != 0) {
      return false;
    }
  }
  return true;
}

void CheckTable(const SpyTerminal* table) {
  std::set<std::pair<uint16_t, uint32_t>> keys;
  for (const SpyTerminal* t = table; t != nullptr; t = t->next) {
    if (!keys.insert({t->hwid, t->inip}).second) abort();  // one record per terminal
    if (t->nums > kMaxSourceSlots || t->name[kTerminalNameLength] != '\0') abort();
    bool free_seen = false;
    for (int i = 0; i < t->nums; ++i) {
      const SpySource& s = t->sources()[i];
      if (s.tag == 0) {
        free_seen = true;
        continue;
      }
      // Filled slots come first, each names its record, holds a source tag and a terminated name.
      if (free_seen || s.terminal != t || !IsSourceTag(s.tag)) abort();
      if (s.name[kSourceNameLength] != '\0') abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The table prints a line for every source without a slot; keep the fuzzer's output readable.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  g_clock = new vqscw::FakeClock(0xFFFF0000u);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SpyTerminal* plain = nullptr;
  vqscw::SpyTable indexed;
  // One message per table: lookups in a list with repeated tags move the list's search cursor,
  // so each table must read a message that has seen the same lookups as the other's.
  CMessage for_plain;
  CMessage for_indexed;
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
    at += 2;
    if (length == 0) {
      if (at + 2 > size) break;
      g_clock->Advance((static_cast<uint32_t>(data[at]) << 8) | data[at + 1]);
      at += 2;
      if (advspy_GarbageCollect(&plain) != indexed.GarbageCollect()) abort();
    } else {
      if (length > size - at) break;
      // An exactly sized copy, so a read past the body is caught.
      const std::vector<uint8_t> body(data + at, data + at + length);
      at += length;
      if (for_plain.Decode(body.data(), static_cast<uint32_t>(body.size())) != body.size() ||
          for_indexed.Decode(body.data(), static_cast<uint32_t>(body.size())) != body.size()) {
        continue;
      }
      if (advspy_Register(&plain, &for_plain, nullptr, nullptr, nullptr) !=
          indexed.Register(for_indexed, nullptr, nullptr, nullptr)) {
        abort();
      }
    }
    CheckTable(plain);
    const SpyTerminal* a = plain;
    const SpyTerminal* b = indexed.first();
    size_t count = 0;
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next, ++count) {
      if (!SameRecord(*a, *b)) abort();
    }
    if (a != nullptr || b != nullptr || count != indexed.size()) abort();
  }
  ReleaseSourceTable(&plain);
  return 0;
}
