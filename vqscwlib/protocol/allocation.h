// Source allocation control, the host's side: other parties reserve (allocate) one of the host's
// sources for a while, renew the reservation and release it; the host announces which of its
// sources are held and by whom.
//
// The operations work on the allocation members of the host's LocalTerminal slots and run on the
// host's thread; the host serialises them with its other uses of the record. Times are ticks of
// vqscw::TickCount().
#ifndef VQSCWLIB_PROTOCOL_ALLOCATION_H_
#define VQSCWLIB_PROTOCOL_ALLOCATION_H_

#include <cstdint>

#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/export.h"
#include "vqscwlib/protocol/local_terminal.h"
#include "vqscwlib/transport/message_endpoint.h"

// The lifetime of a reservation in milliseconds; each allocation or renewal holds a source until
// now plus this. 21000 at load; a host may change it.
extern VQSCW_EXPORT uint32_t sac_alloc_timeout;

extern "C" {

// While nonzero, allocations, renewals, releases, refused releases and lapses print a line, and
// each announcement prints the "advertise to" line. 0 at load.
extern VQSCW_EXPORT int32_t dbg_sac;

// Applies an allocation request. A "WRIN" message changes allocations: each source list ("S" and
// three digits) with "BUSY" names the owner asked for (nonzero: allocate or renew for it; 0:
// release, allowed to a requester, the message's TAG_REFI, that matches the owner but for the
// lowest 16 bits) and the slot meant, by "PSID" (every slot with that channel) or else by the
// tag's number. A "READ" message with "BUSY" in a source list is a query. A "NEST" message takes
// its code from its first source list. Slots not in use (psid 0) are never allocated.
// Returns 1 for a query (answer it with sac_Announce) or when an allocation was made or released;
// renewals and refusals give 0.
VQSCW_EXPORT int sac_Request(const CMessage* message, LocalTerminal* terminal);

// Sends the allocation state of every slot in use ("PSID" and "BUSY", the owner or 0) through
// `endpoint` to `address`:`port` (host order), with "ADVT" = `advt`, the terminal's "HWID" and
// the reference `ref_low`/`ref_high` as TAG_REFI. Unacknowledged from 239.0.0.0 up, acknowledged
// below; a failure prints the send failure line.
VQSCW_EXPORT void sac_Announce(CMessageEndpoint* endpoint, uint32_t address, uint16_t port,
                               const LocalTerminal* terminal, uint8_t advt, uint32_t ref_low,
                               uint32_t ref_high);

// Frees every reservation whose expiry lies before now. Returns 1 if any lapsed, else 0.
VQSCW_EXPORT int sac_GarbageCollect(LocalTerminal* terminal);

}  // extern "C"

#endif  // VQSCWLIB_PROTOCOL_ALLOCATION_H_
