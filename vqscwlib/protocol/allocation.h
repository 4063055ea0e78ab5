// Source allocation control, the host's side, is wholly public.
#ifndef VQSCWLIB_PROTOCOL_ALLOCATION_H_
#define VQSCWLIB_PROTOCOL_ALLOCATION_H_

#include "vqscw/host.h"

#endif  // VQSCWLIB_PROTOCOL_ALLOCATION_H_
