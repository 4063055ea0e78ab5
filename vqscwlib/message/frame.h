// The frame that carries one message in one UDP datagram: its constants are public.
#ifndef VQSCWLIB_MESSAGE_FRAME_H_
#define VQSCWLIB_MESSAGE_FRAME_H_

#include "vqscw/message.h"

#endif  // VQSCWLIB_MESSAGE_FRAME_H_
