// Text helpers shared by the selector's parts. Texts are UTF-8 bytes throughout; the limits the
// dialog applies (caption, categories, cells) count bytes, and a cut never splits a character.
#ifndef VQSCWLIB_SELECTOR_TEXT_UTIL_H_
#define VQSCWLIB_SELECTOR_TEXT_UTIL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vqscw {

// The longest prefix of `text` of at most `max_bytes` bytes that does not end inside a UTF-8
// sequence.
std::string CutText(std::string_view text, size_t max_bytes);

// The text of a zero-terminated buffer of `size` bytes that may lack its terminator.
std::string_view TextOfBuffer(const char* buffer, size_t size);

// Comparisons without regard to case (Unicode case folding).
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_TEXT_UTIL_H_
