// SendMsg: the one call through which the protocol sends a field list to an address.
#ifndef VQSCWLIB_TRANSPORT_SEND_MSG_H_
#define VQSCWLIB_TRANSPORT_SEND_MSG_H_

#include "vqscwlib/message/field_list.h"
#include "vqscwlib/transport/message_endpoint.h"
#include "vqscwlib/transport/net_address.h"

// Copies `list` (null: an empty message) into a message and sends it through `endpoint` to
// `destination`: unacknowledged to 239.0.0.0 and above, acknowledged below. With `trace` nonzero
// first prints "<time> advertise to: a.b.c.d:port" and, when cfg_msgdump is set and msgdump
// points at a buffer, the message's dump. Returns 0 when sent (and accepted), or -1 after printing
// "SendMsg() to a.b.c.d:port failed errno=N" to standard error. Blocks for an acknowledged send
// (see CMessageEndpoint::SendMessage); call from the endpoint's thread.
int SendMsg(const CFieldList* list, CMessageEndpoint* endpoint, const NetAddress& destination,
            int trace);

#endif  // VQSCWLIB_TRANSPORT_SEND_MSG_H_
