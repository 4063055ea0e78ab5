// The source spy: the library's listening service. A host opens it on one network interface;
// its own thread keeps the table of terminals and sources heard there current (see host.h for the
// network's numbers), and the selector dialog (selector.h) shows what it heard.
//
// Interface addresses here are IPv4 addresses in network byte order as held in memory (first
// octet in the least significant byte on this little-endian machine).
#ifndef VQSCW_SPY_H_
#define VQSCW_SPY_H_

#include <cstdint>

#include "vqscw/export.h"
#include "vqscw/format.h"

// The object behind a spy handle; opaque to clients.
struct SourceSpy;

// Result codes of the spy operations.
constexpr uint32_t SPY_OK = 0;
constexpr uint32_t SPY_E_HANDLE = 1001;       // null, or not an open spy
constexpr uint32_t SPY_E_ENDPOINT = 1003;     // the client or server endpoint could not be opened
constexpr uint32_t SPY_E_RESOURCES = 1004;    // out of memory, or an event/thread could not be made
constexpr uint32_t SPY_E_SOCKETS = 1005;      // the socket library could not be started
constexpr uint32_t SPY_E_ACCESS_FILE = 1006;  // the access-list file could not be opened

// One source as the spy reports it. The record and the format record it points to live only
// during the callback; a callback copies what it keeps. Every byte not set is zero.
struct SourceInfo {
  uint32_t size;      // sizeof(SourceInfo) of this build
  uint32_t channel;   // the source's channel number ("PSID")
  char name[24];      // the source's name (at most 16 characters), zero-padded
  char label[11];     // first 10 characters of the name, zero-padded and terminated
  uint32_t streamId;  // "FSID"
  uint16_t port;      // 5004, the RTP port of every source stream
  vqscw::WAVEFORMATEXTENSIBLE* format;
  uint32_t formatSize;  // 40
};

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

#endif  // VQSCW_SPY_H_
