// Four-letter tags: a tag is a 32-bit number with its first letter in the most significant byte,
// so its four bytes on the (big-endian) wire read as its letters. "PSID" is 0x50534944.
#ifndef VQSCWLIB_MESSAGE_TAGS_H_
#define VQSCWLIB_MESSAGE_TAGS_H_

#include <cstdint>

// The two reserved tags of 64-bit identity fields.
constexpr uint32_t TAG_ID = 0xFFFFFFFFu;    // printed "*id*"
constexpr uint32_t TAG_REFI = 0xFFFFFFFEu;  // printed "refi"

// The tag spelled by a four-letter literal, at compile time: Tag("PSID") == 0x50534944.
constexpr uint32_t Tag(const char (&text)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

// Builds a tag from up to four characters of `text`, never reading past its NUL; missing
// characters are zero bytes. A null or empty text gives 0; "AB" gives 0x41420000.
uint32_t TextToTag(const char* text);

// Writes the tag's four bytes, most significant first, and a NUL into `buffer` (at least five
// characters) and returns `buffer`.
char* TagToText(uint32_t tag, char* buffer);

// The tag of the per-source list of source slot `slot` as "S%03d" spells it: "S001" to "S016"
// for the slots in use (any 0 to 999).
constexpr uint32_t SourceSlotTag(int slot) {
  return Tag("S000") |
         static_cast<uint32_t>((slot / 100 % 10) << 16 | (slot / 10 % 10) << 8 | slot % 10);
}

#endif  // VQSCWLIB_MESSAGE_TAGS_H_
