// The interface a host program uses, as the library's own tree includes it: the public headers.
#ifndef VQSCWLIB_HOST_H_
#define VQSCWLIB_HOST_H_

#include "vqscw/endpoint.h"
#include "vqscw/host.h"
#include "vqscw/message.h"

#endif  // VQSCWLIB_HOST_H_
