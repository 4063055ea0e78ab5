// The interface a host program uses to take part in the network as a terminal of its own or as
// a listener: protocol messages and their dump, message endpoints, advertising, allocation
// control and, with a source table of its own, SDP files. Everything declared here is exported
// from libvqscwlib.so; a host links that library and nothing else of this project.
#ifndef VQSCWLIB_HOST_H_
#define VQSCWLIB_HOST_H_

#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/protocol/advertise.h"
#include "vqscwlib/protocol/allocation.h"
#include "vqscwlib/protocol/local_terminal.h"
#include "vqscwlib/protocol/sdp_writer.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/transport/message_endpoint.h"

// The advertisement group and port every terminal sends to, and the port requests reach a
// terminal at. Host order (first octet in the most significant byte).
constexpr uint32_t kAdvertisementGroup = 0xEFC0FF03;  // 239.192.255.3
constexpr uint16_t kTerminalPort = 4001;

#endif  // VQSCWLIB_HOST_H_
