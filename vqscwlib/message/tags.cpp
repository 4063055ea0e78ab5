#include "vqscwlib/message/tags.h"

uint32_t TextToTag(const char* text) {
  if (text == nullptr) return 0;
  uint32_t tag = 0;
  // Each character counts only while no NUL came before it, so nothing past the text is read.
  for (int i = 0; i < 4 && text[i] != '\0'; ++i) {
    tag |= static_cast<uint32_t>(static_cast<uint8_t>(text[i])) << (24 - 8 * i);
  }
  return tag;
}

char* TagToText(uint32_t tag, char* buffer) {
  buffer[0] = static_cast<char>(tag >> 24);
  buffer[1] = static_cast<char>(tag >> 16);
  buffer[2] = static_cast<char>(tag >> 8);
  buffer[3] = static_cast<char>(tag);
  buffer[4] = '\0';
  return buffer;
}
