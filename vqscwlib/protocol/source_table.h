// The source table: the library's memory of the terminals and sources heard on the network.
//
// A table is a singly linked list of SpyTerminal records owned by the caller, who keeps a pointer
// to the first record (null when empty) and hands its address to advspy_Register and
// advspy_GarbageCollect. Neither operation locks: the caller serialises every call on one table
// (the source spy holds its lock around them).
//
// Terminal addresses ("INIP") are IPv4 addresses in network byte order as held in memory: the
// first octet in the least significant byte on this little-endian machine. Log lines print them
// least significant byte first, and the request for a full advertisement goes to that address.
#ifndef VQSCWLIB_PROTOCOL_SOURCE_TABLE_H_
#define VQSCWLIB_PROTOCOL_SOURCE_TABLE_H_

#include <cstdint>

#include "vqscwlib/platform/export.h"

class CMessage;
class CMessageEndpoint;
struct SpyTerminal;

// Lengths of the names kept in the records, without their terminating zero.
constexpr int kTerminalNameLength = 32;
constexpr int kSourceNameLength = 16;

// A terminal is dropped when nothing has been heard from it for this long.
constexpr uint32_t kTerminalLifetimeMs = 30000;

// The port of a terminal that the request for its full advertisement goes to.
constexpr uint16_t kAdvertisementRequestPort = 4001;

// Advertisement types ("ADVT").
constexpr uint8_t kAdvertisementFull = 1;
constexpr uint8_t kAdvertisementShort = 2;

// The most source slots a record gets, whatever "NUMS" says: source tags are "S" and three
// digits, so no terminal can fill more.
constexpr uint16_t kMaxSourceSlots = 1000;

// One source slot. Free while tag is 0; once filled it never changes until its terminal is
// released.
struct SpySource {
  SpyTerminal* terminal;  // the record holding the slot
  uint32_t tag;           // "S" and three digits, such as S001; 0 = free
  uint32_t psid;          // channel number
  uint32_t fsid;          // stream id
  uint8_t fast;           // stream type: 2 = 24-bit, 3 = 16-bit linear audio; 1 is never offered
  char name[kSourceNameLength + 1];  // "PSNM", first 16 bytes at most, zero-terminated
};

// One heard terminal, keyed by (hwid, inip). A record and its nums slots are one zero-filled
// allocation made by advspy_Register; the slots follow the header directly.
struct SpyTerminal {
  SpyTerminal* next;  // null at the end of the table
  uint32_t expiry;    // tick at which the terminal expires: last heard + kTerminalLifetimeMs
  uint16_t hwid;
  uint32_t advv;                       // advertisement version as last registered
  uint32_t inip;                       // address, network byte order as held in memory
  char name[kTerminalNameLength + 1];  // "ATRN", first 32 bytes at most, zero-terminated
  uint16_t nums;                       // number of slots: "NUMS", at most kMaxSourceSlots

  SpySource* sources() { return reinterpret_cast<SpySource*>(this + 1); }
  const SpySource* sources() const { return reinterpret_cast<const SpySource*>(this + 1); }
};

static_assert(sizeof(SpyTerminal) % alignof(SpySource) == 0, "slots follow the header aligned");

// Called by advspy_Register for each slot it fills, with the caller's user pointer. The slot stays
// valid while its terminal stays in the table. The result is ignored.
typedef int (*RegisterCallback)(SpySource* source, void* user);

extern "C" {

// Nonzero: the table's debug lines are printed to standard output. 0 at load; set by a host.
VQSCW_EXPORT extern int32_t dbg_spy;

// Brings `*table` up to date with one received advertisement: refreshes a known terminal, drops
// one whose "ADVV" changed, asks an unknown one for its full advertisement through `requester`
// (an unacknowledged "READ" to its address, port 4001), and adds terminals and fills source slots
// from full advertisements, calling `callback` (when not null) with each slot filled. Returns 1
// when a terminal was added or removed or a slot filled, else 0.
VQSCW_EXPORT int advspy_Register(SpyTerminal** table, CMessage* advertisement,
                                 CMessageEndpoint* requester, RegisterCallback callback,
                                 void* user);

// Drops every terminal whose expiry has passed (one whose expiry equals the current tick stays).
// Nobody is told. Returns 1 when at least one terminal was removed, else 0.
VQSCW_EXPORT int advspy_GarbageCollect(SpyTerminal** table);

}  // extern "C"

// Releases every record of `*table` and leaves it empty. Not exported.
void ReleaseSourceTable(SpyTerminal** table);

// True for a tag that names a source: "S" followed by three ASCII digits.
bool IsSourceTag(uint32_t tag);

namespace vqscw {

// What the owner of a table may keep beside the linked list to find its terminals without walking
// it. The table operations keep it in step with the list; results and lines stay exactly those of
// the plain walk, so a directory must find the record a walk from the first record would find.
class TerminalDirectory {
 public:
  virtual ~TerminalDirectory() = default;

  // The record of the table with `hwid` and `inip`, or null.
  virtual SpyTerminal* Find(uint16_t hwid, uint32_t inip) = 0;
  // `terminal` (its key filled in) is about to be linked in. False when it cannot be kept; the
  // record is then given up as if it could not be allocated.
  virtual bool Insert(SpyTerminal* terminal) = 0;
  // `terminal` is about to be unlinked and released.
  virtual void Erase(SpyTerminal* terminal) = 0;
  // `terminal`'s expiry was set.
  virtual void Touched(const SpyTerminal& terminal) = 0;
  // False when no record of the table can have expired at `now`: the collection then skips its
  // walk. Before a walk, it is called and then Touched() for every record that stays.
  virtual bool MayHaveExpired(uint32_t now) = 0;
  virtual void StartSweep() = 0;
};

// advspy_Register and advspy_GarbageCollect with a directory (null: walk the list) and, for
// tests, the port the request for a full advertisement goes to.
int RegisterAdvertisement(SpyTerminal** table, const CMessage& advertisement,
                          CMessageEndpoint* requester, RegisterCallback callback, void* user,
                          TerminalDirectory* directory,
                          uint16_t request_port = kAdvertisementRequestPort);
int CollectExpiredTerminals(SpyTerminal** table, TerminalDirectory* directory);

}  // namespace vqscw

#endif  // VQSCWLIB_PROTOCOL_SOURCE_TABLE_H_
