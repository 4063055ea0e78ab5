// Advertising (adv_advertise, adv_Request: public) and the pieces its messages are built from.
#ifndef VQSCWLIB_PROTOCOL_ADVERTISE_H_
#define VQSCWLIB_PROTOCOL_ADVERTISE_H_

#include "vqscw/host.h"

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
