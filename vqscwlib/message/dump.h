// Text dump of messages and the time stamp of debug lines: Message2String, dbg_time, cfg_msgdump
// and msgdump are public; these are the library's own helpers.
#ifndef VQSCWLIB_MESSAGE_DUMP_H_
#define VQSCWLIB_MESSAGE_DUMP_H_

#include <cstddef>
#include <cstdint>

#include "vqscw/message.h"

// An upper bound of the bytes Message2String writes for `list` (NUL included) with any flags:
// a buffer of this size always suffices.
uint32_t MessageDumpSize(const CFieldList& list);

// Formats `seconds` since the epoch as dbg_time does, into `buffer` of `size` bytes.
void FormatDebugTime(int64_t seconds, char* buffer, size_t size);

#endif  // VQSCWLIB_MESSAGE_DUMP_H_
