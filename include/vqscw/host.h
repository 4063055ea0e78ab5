// The interface a host program uses to take part in the network as a terminal of its own or as
// a listener: its terminal record (LocalTerminal), advertising, allocation control, a source
// table of its own with SDP files. The network's numbers are in network.h, messages and endpoints
// in message.h and endpoint.h, the library's own listener in spy.h, the selector dialog in
// selector.h. Everything declared here is exported from libvqscwlib.so; a host links that library
// and nothing else of this project.
//
// Threads: every operation runs on the caller's thread and keeps no state between calls; the
// host serialises the calls given one LocalTerminal or one table. Times are ticks of the
// library's monotonic millisecond clock.
#ifndef VQSCW_HOST_H_
#define VQSCW_HOST_H_

#include <cstdint>

#include "vqscw/endpoint.h"
#include "vqscw/export.h"
#include "vqscw/message.h"
#include "vqscw/network.h"

// --- LocalTerminal and LocalSource: a host program's description of its own terminal and its 16
// source slots, the record that advertising and allocation control work on.
//
// Ownership: the host owns and fills the record. The library writes only `sourceCount` (when it
// advertises) and the allocation members of the slots (when it applies, or expires, allocation
// requests).

// The number of source slots of a terminal; slot i (0 to 15) is source number i + 1 ("S001").
constexpr int kLocalSourceSlots = 16;
constexpr int kLocalTerminalNameBytes = 32;
constexpr int kLocalSourceNameBytes = 16;
constexpr int kLocalSourceLabelBytes = 10;

// One source slot. A slot with psid 0 is not in use: it is neither advertised nor allocated.
struct LocalSource {
  uint32_t psid;  // channel number, 1 to 32767; 0 = slot not in use
  uint8_t shab;   // carried unchanged
  uint32_t fsid;  // stream id: the stream's group is 239.128.0.0 OR fsid
  uint8_t fast;   // stream type: 2 = 24-bit linear audio, 3 = 16-bit linear audio
  uint8_t fasm;   // carried unchanged
  uint32_t bsid;  // carried unchanged
  uint8_t bast;   // carried unchanged
  uint8_t basm;   // carried unchanged
  uint32_t lpid;  // carried unchanged
  uint8_t stpl;   // carried unchanged
  // Always sent as 16 bytes; need not be terminated within them.
  char name[kLocalSourceNameBytes + 1];
  // Sent as 10 bytes, and only when its first byte is nonzero.
  char label[kLocalSourceLabelBytes + 1];
  // Allocation state, written by the library: the holder's identity (0 in both words = free)
  // and the tick at which the reservation lapses unless renewed.
  uint32_t ownerLow;
  uint32_t ownerHigh;
  uint32_t allocExpiry;
};

struct LocalTerminal {
  uint32_t inip;  // the terminal's IPv4 address, first octet in the least significant byte
  uint16_t udpc;  // carried unchanged
  uint16_t hwid;  // hardware id
  // Advertisement version: change it whenever anything of the full advertisement changes, so
  // that listeners drop what they kept of the old one.
  uint32_t advv;
  uint32_t sourceCount;                // written by adv_advertise: the slots in use
  char name[kLocalTerminalNameBytes];  // always sent as 32 bytes
  LocalSource sources[kLocalSourceSlots];
};

// --- Advertising: a host program announces its own terminal and sources, and recognises requests
// for its full advertisement.

// A full advertisement carries at most this many sources a message; more take more messages.
constexpr int kSourcesPerAdvertisement = 4;

extern "C" {

// While nonzero, every advertisement sent prints the "advertise to" line (and the message dump
// when cfg_msgdump is set too), and each recognised request prints a line. 0 at load.
extern VQSCW_EXPORT int32_t dbg_adv;

// Sends the terminal's advertisement through `endpoint` to `address`:`port` (address in host
// order, first octet in the most significant byte): mode 1 the full form, one message a group of
// at most four sources in slot order (a terminal with none, or whose last group of four ends
// before slot 16, sends a message with the terminal alone as well); any other mode the short
// form with that mode as "ADVT". First stores the number of slots in use in
// terminal->sourceCount. Destinations from 239.0.0.0 up get unacknowledged datagrams, others
// acknowledged messages (which block for up to the endpoint's retry schedule). A failed send
// prints its line to standard error and the remaining messages are still sent.
VQSCW_EXPORT void adv_advertise(CMessageEndpoint* endpoint, uint32_t address, uint16_t port,
                                LocalTerminal* terminal, int mode);

// Whether `message` asks for this terminal's advertisement: 0 when it is no such request ("READ"
// with "ADVD"), or names channel 0 or a channel none of the slots has; -1 when it names no
// channel; else the channel it names ("PSID", or "QIDE" without "PSID"). The host answers a
// nonzero result with adv_advertise in full form.
VQSCW_EXPORT int adv_Request(const CMessage* message, const LocalTerminal* terminal);

}  // extern "C"

// --- Source allocation control, the host's side: other parties reserve (allocate) one of the
// host's sources for a while, renew the reservation and release it; the host announces which of
// its sources are held and by whom. The operations work on the allocation members of the host's
// LocalTerminal slots.

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

// --- The source table: the terminals and sources heard on the network.
//
// A table is a singly linked list of SpyTerminal records owned by the caller, who keeps a pointer
// to the first record (null when empty) and hands its address to advspy_Register and
// advspy_GarbageCollect. Neither operation locks: the caller serialises every call on one table.
//
// Terminal addresses ("INIP") are IPv4 addresses in network byte order as held in memory: the
// first octet in the least significant byte on this little-endian machine. Log lines print them
// least significant byte first, and the request for a full advertisement goes to that address.

struct SpyTerminal;

// Lengths of the names kept in the records, without their terminating zero.
constexpr int kTerminalNameLength = 32;
constexpr int kSourceNameLength = 16;

// A terminal is dropped when nothing has been heard from it for this long.
constexpr uint32_t kTerminalLifetimeMs = 30000;

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

// --- SDP files: a Session Description Protocol text (RFC 4566) for one heard source, naming its
// stream's multicast group and RTP port, its encoding, and the terminal and source it comes from.

// The characters "/%05d.sdp" add to the directory.
constexpr int kSdpFileNameLength = 10;

extern "C" {

// Writes (replacing) the file DIRECTORY/NNNNN.sdp, NNNNN the lowest 15 bits of the source's
// stream id, describing the source's stream. The lines end with CR LF, so a file is the same
// wherever it is written. Returns 0 when the file was written; -1 when it could not be created or
// written, when the source's stream type has no encoding (only 2, L24, and 3, L16, have one: no
// file is written for others), or when its stream id lies above 0x7FFFFF (its group would leave
// 239.128.0.0/9).
// REQUIRES: `directory` has no trailing separator; `source` is a slot of a table whose terminal
// stays in the table during the call. `path`, when not null, receives the file's path and holds
// at least strlen(directory) + 11 characters; when null, the path must fit 260 characters.
VQSCW_EXPORT int advspy_GenerateSDP(const char* directory, const SpySource* source, char* path);

}  // extern "C"

#endif  // VQSCW_HOST_H_
