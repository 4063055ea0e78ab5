// The source spy: the library's listening service (vqscwSourceSpyOpen, vqscwSourceSpyClose,
// vqscwSourceSpySetAccessList and SourceInfo are public), and what the selector and the tools
// inside the library's tree use of it besides.
//
// Interface addresses here are IPv4 addresses in network byte order as held in memory (first
// octet in the least significant byte on this little-endian machine).
#ifndef VQSCWLIB_SPY_SOURCE_SPY_H_
#define VQSCWLIB_SPY_SOURCE_SPY_H_

#include <cstdint>

#include "vqscw/spy.h"
#include "vqscwlib/base/wave_format.h"

struct SpySource;
struct SpyTerminal;

// Sources of this stream type are never reported to clients.
constexpr uint8_t kHiddenStreamType = 1;

// Called for each reported source with the spy handle, the record and the client's user pointer.
// During an enumeration a return of 0 stops it. Runs on the spy's listening thread with the
// spy's lock held, or on the enumerating thread: it must never call into the same spy, never wait
// for a thread that may itself be waiting for that lock, and never throw.
typedef int (*SourceCallback)(SourceSpy* spy, SourceInfo* info, void* user);

// Reports every source in the table that the access list allows to `callback`. With `keep`
// nonzero the callback is also kept for sources heard later (unless the enumeration was stopped
// by a callback returning 0); a null callback reports nothing (and, kept, forgets the kept one).
// Sources of stream type 1 are never reported. Used by the selector; not exported.
uint32_t SourceSpyEnumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep);

// A callback handed the table's record of each source instead of a SourceInfo: its stream type
// and, through source->terminal, the terminal it belongs to. The same rules as a SourceCallback;
// the records are valid only during the call.
typedef int (*SourceRecordCallback)(SourceSpy* spy, const SpySource* source, void* user);

// SourceSpyEnumerate for a SourceRecordCallback. The spy keeps one callback for sources heard
// later: keeping this one replaces a kept SourceCallback, and the other way round. Used by tools;
// not exported.
uint32_t SourceSpyEnumerateRecords(SourceSpy* handle, SourceRecordCallback callback, void* user,
                                   int keep);

// Calls `visit` once with the first record of the spy's source table (null when empty) and
// `user`, holding the spy's lock, so that a tool can read the records (to write SDP files, say)
// while the listening thread waits. The records are valid only during the call; `visit` must
// not call into the same spy. Returns SPY_E_HANDLE or SPY_OK. Not exported.
uint32_t SourceSpyVisitTable(SourceSpy* handle, void (*visit)(const SpyTerminal* first, void* user),
                             void* user);

// Called when a terminal's record leaves the spy's table: `expired` is nonzero when it was
// silent for the terminal lifetime, zero when its advertisement changed (its sources are then
// reported again as the new advertisement fills them). Runs on the listening thread with the
// spy's lock held, under the same rules as a SourceCallback; `terminal` is valid only during the
// call.
typedef void (*TerminalRemovedCallback)(SourceSpy* spy, const SpyTerminal* terminal, int expired,
                                        void* user);

// Sets (null: clears) the callback told of terminals leaving the table. Used by tools; not
// exported.
uint32_t SourceSpyWatchRemovals(SourceSpy* handle, TerminalRemovedCallback callback, void* user);

// Stores the interface address the spy was opened on. Not exported.
uint32_t SourceSpyGetInterface(SourceSpy* handle, uint32_t* address);

#endif  // VQSCWLIB_SPY_SOURCE_SPY_H_
