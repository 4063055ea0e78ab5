// The source table (its records and advspy_Register, advspy_GarbageCollect: public) and what the
// library keeps beside it.
#ifndef VQSCWLIB_PROTOCOL_SOURCE_TABLE_H_
#define VQSCWLIB_PROTOCOL_SOURCE_TABLE_H_

#include <cstdint>

#include "vqscw/host.h"

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
                          TerminalDirectory* directory, uint16_t request_port = kTerminalPort);
int CollectExpiredTerminals(SpyTerminal** table, TerminalDirectory* directory);

}  // namespace vqscw

#endif  // VQSCWLIB_PROTOCOL_SOURCE_TABLE_H_
