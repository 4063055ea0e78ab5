// CFieldList, the body of every protocol message, is part of the public interface.
#ifndef VQSCWLIB_MESSAGE_FIELD_LIST_H_
#define VQSCWLIB_MESSAGE_FIELD_LIST_H_

#include "vqscw/message.h"
#include "vqscwlib/message/tags.h"

#endif  // VQSCWLIB_MESSAGE_FIELD_LIST_H_
