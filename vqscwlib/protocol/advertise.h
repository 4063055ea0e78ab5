// Advertising: a host program announces its own terminal and sources, and recognises requests
// for its full advertisement.
//
// Both operations run on the host's thread; they keep no state between calls. The endpoint and
// the LocalTerminal stay the host's.
#ifndef VQSCWLIB_PROTOCOL_ADVERTISE_H_
#define VQSCWLIB_PROTOCOL_ADVERTISE_H_

#include <cstdint>

#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/export.h"
#include "vqscwlib/protocol/local_terminal.h"
#include "vqscwlib/transport/message_endpoint.h"

// "ADVT" values: the full advertisement, and the short one that only keeps a terminal alive.
constexpr int kAdvertiseFull = 1;
constexpr int kAdvertiseShort = 2;
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

namespace vqscw {

// The pieces adv_advertise builds its messages from, for code that wants the same bytes without
// sending them (benchmarks, tools inside the library's tree).
//
// The terminal's "INDI" list: "ADVV", "HWID", "INIP", "UDPC", "NUMS" (terminal.sourceCount),
// and in the full form "ATRN".
CFieldList TerminalFields(const LocalTerminal& terminal, bool full);
// One source's "INDI" list, sent under SourceSlotTag(slot number).
CFieldList SourceFields(const LocalSource& source);
// Clears `message` and gives it the advertisement's head: "NEST", "ADVT" = `advt` and "TERM".
void BeginAdvertisement(CMessage* message, int advt, const CFieldList& term);

}  // namespace vqscw

#endif  // VQSCWLIB_PROTOCOL_ADVERTISE_H_
