// LocalTerminal and LocalSource, a host program's description of its own terminal, are public.
#ifndef VQSCWLIB_PROTOCOL_LOCAL_TERMINAL_H_
#define VQSCWLIB_PROTOCOL_LOCAL_TERMINAL_H_

#include "vqscw/host.h"

#endif  // VQSCWLIB_PROTOCOL_LOCAL_TERMINAL_H_
