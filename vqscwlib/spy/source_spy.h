// The source spy: the library's listening service. A client opens it on one network interface;
// its own thread keeps the table of terminals and sources heard there current, and reports each
// source that the access list allows through the client's callback.
//
// Interface addresses here are IPv4 addresses in network byte order as held in memory (first
// octet in the least significant byte on this little-endian machine).
#ifndef VQSCWLIB_SPY_SOURCE_SPY_H_
#define VQSCWLIB_SPY_SOURCE_SPY_H_

#include <cstdint>

#include "vqscwlib/platform/export.h"
#include "vqscwlib/platform/wave_format.h"

// The object behind a spy handle; opaque to clients.
struct SourceSpy;
struct SpySource;
struct SpyTerminal;

// Result codes of the spy operations.
constexpr uint32_t SPY_OK = 0;
constexpr uint32_t SPY_E_HANDLE = 1001;       // null, or not an open spy
constexpr uint32_t SPY_E_ENDPOINT = 1003;     // the client or server endpoint could not be opened
constexpr uint32_t SPY_E_RESOURCES = 1004;    // out of memory, or an event/thread could not be made
constexpr uint32_t SPY_E_SOCKETS = 1005;      // the socket library could not be started
constexpr uint32_t SPY_E_ACCESS_FILE = 1006;  // the access-list file could not be opened

// Sources of this stream type are never reported to clients.
constexpr uint8_t kHiddenStreamType = 1;

// The advertisement port and group every terminal sends to.
constexpr uint16_t kAdvertisementPort = 4001;

// One source as the spy reports it. The record and the format record it points to live only
// during the callback; a callback copies what it keeps. Every byte not set is zero.
struct SourceInfo {
  uint32_t size;      // sizeof(SourceInfo) of this build
  uint32_t channel;   // the source's channel number ("PSID")
  char name[24];      // the source's name (at most 16 characters), zero-padded
  char label[11];     // first 10 characters of the name, zero-padded and terminated
  uint32_t streamId;  // "FSID"
  uint16_t port;      // 5004, the RTP port of every source stream
  WAVEFORMATEXTENSIBLE* format;
  uint32_t formatSize;  // 40
};

// Called for each reported source with the spy handle, the record and the client's user pointer.
// During an enumeration a return of 0 stops it. Runs on the spy's listening thread with the
// spy's lock held, or on the enumerating thread: it must never call into the same spy, never wait
// for a thread that may itself be waiting for that lock, and never throw.
typedef int (*SourceCallback)(SourceSpy* spy, SourceInfo* info, void* user);

extern "C" {

// Opens a spy on `interfaceAddress` listening on `port` (the selector passes 4001): its server
// endpoint joins 239.192.255.3 on that card and its thread starts listening. On SPY_OK stores the
// new handle in *handle; on any other code nothing is stored and nothing remains (SPY_E_HANDLE
// for a null `handle`, SPY_E_RESOURCES also when the thread cannot be started).
VQSCW_EXPORT uint32_t vqscwSourceSpyOpen(SourceSpy** handle, uint32_t interfaceAddress,
                                         uint16_t port);

// Stops and joins the listening thread and releases the spy's sockets, table and access list; no
// callback runs after it returns. The handle stays readable for good, so every later call with it
// (a second close too) gives SPY_E_HANDLE. REQUIRES: not called from a callback of the spy.
VQSCW_EXPORT uint32_t vqscwSourceSpyClose(SourceSpy* handle);

// Replaces the access list with the one in `text` (inline ranges or "file://PATH"; null reads as
// empty) and ends the spy's allow-all state: from now on an empty list lets nothing pass. Returns
// SPY_OK, SPY_E_RESOURCES (the entries before the one that could not be had are in force) or
// SPY_E_ACCESS_FILE (the file cannot be opened; the list is empty).
VQSCW_EXPORT uint32_t vqscwSourceSpySetAccessList(SourceSpy* handle, const char* text);

}  // extern "C"

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
