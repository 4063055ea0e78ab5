// Text dump of messages and the time stamp of debug lines.
#ifndef VQSCWLIB_MESSAGE_DUMP_H_
#define VQSCWLIB_MESSAGE_DUMP_H_

#include <cstddef>
#include <cstdint>

#include "vqscwlib/platform/export.h"

class CMessage;
class CFieldList;

// Message2String flags.
constexpr int kDumpTagHex = 1;   // each field's tag as eight hexadecimal digits
constexpr int kDumpTagText = 2;  // each field's tag as its four letters (what the library uses)

// Renders `message` as one line into `buffer` and returns `buffer`; null (writing nothing) for a
// null message or buffer. The caller provides a buffer large enough for the whole text:
// MessageDumpSize() bytes always suffice.
VQSCW_EXPORT const char* Message2String(CMessage* message, char* buffer, int flags);

// An upper bound of the bytes Message2String writes for `list` (NUL included) with any flags.
uint32_t MessageDumpSize(const CFieldList& list);

// The current UTC time as "%Y.%m.%d %H:%M:%S" in one static buffer that every call overwrites;
// two threads calling at once may each see the other's time.
VQSCW_EXPORT const char* dbg_time();

// Formats `seconds` since the epoch as dbg_time does, into `buffer` of `size` bytes.
void FormatDebugTime(int64_t seconds, char* buffer, size_t size);

// Set by a host program: when cfg_msgdump is nonzero, SendMsg renders each message it sends with
// trace on into msgdump and prints it. The library never sets them.
extern "C" VQSCW_EXPORT int32_t cfg_msgdump;
extern "C" VQSCW_EXPORT char* msgdump;

#endif  // VQSCWLIB_MESSAGE_DUMP_H_
