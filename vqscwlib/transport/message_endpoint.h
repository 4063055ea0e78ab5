// CMessageEndpoint and the two endpoint classes are public; inside the library their socket and
// duplicate filter are complete types too.
#ifndef VQSCWLIB_TRANSPORT_MESSAGE_ENDPOINT_H_
#define VQSCWLIB_TRANSPORT_MESSAGE_ENDPOINT_H_

#include "vqscw/endpoint.h"
#include "vqscwlib/transport/duplicate_filter.h"
#include "vqscwlib/transport/udp_socket.h"

#endif  // VQSCWLIB_TRANSPORT_MESSAGE_ENDPOINT_H_
