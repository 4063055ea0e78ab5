// CMessage, one protocol message, is part of the public interface.
#ifndef VQSCWLIB_MESSAGE_MESSAGE_H_
#define VQSCWLIB_MESSAGE_MESSAGE_H_

#include "vqscw/message.h"
#include "vqscwlib/message/tags.h"

#endif  // VQSCWLIB_MESSAGE_MESSAGE_H_
