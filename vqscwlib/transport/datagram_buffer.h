// CDatagramBuffer, the storage of one datagram, is in view of a host: endpoints classify frames
// through it.
#ifndef VQSCWLIB_TRANSPORT_DATAGRAM_BUFFER_H_
#define VQSCWLIB_TRANSPORT_DATAGRAM_BUFFER_H_

#include "vqscw/endpoint.h"

#endif  // VQSCWLIB_TRANSPORT_DATAGRAM_BUFFER_H_
