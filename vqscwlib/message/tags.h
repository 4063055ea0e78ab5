// Four-letter tags (TAG_ID, TAG_REFI, Tag() and SourceSlotTag() are public) and the library's
// conversions between tags and text.
#ifndef VQSCWLIB_MESSAGE_TAGS_H_
#define VQSCWLIB_MESSAGE_TAGS_H_

#include <cstdint>

#include "vqscw/message.h"

// Builds a tag from up to four characters of `text`, never reading past its NUL; missing
// characters are zero bytes. A null or empty text gives 0; "AB" gives 0x41420000.
uint32_t TextToTag(const char* text);

// Writes the tag's four bytes, most significant first, and a NUL into `buffer` (at least five
// characters) and returns `buffer`.
char* TagToText(uint32_t tag, char* buffer);

#endif  // VQSCWLIB_MESSAGE_TAGS_H_
