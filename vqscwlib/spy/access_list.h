// The access list: the channel ranges a source spy reports, parsed from inline text such as
// "1-100;205;300 - 310" or from a file of "allow" lines named by "file://PATH".
//
// Numbers are read as an unsigned 32-bit text-to-number conversion with automatic base reads them
// (leading white space and a sign allowed; "0x" hexadecimal, a leading "0" octal) and are valid
// from 1 to 32767. Inline entries are separated by ";"; a file holds one entry per line after
// "allow" and white space. An entry is a single channel, ended by the end of the text or line, a
// carriage return or line feed (or ";" inline), with blanks allowed before that end; or a range:
// a number, optional white space, "-", a second number no smaller than the first. Malformed
// entries are skipped.
#ifndef VQSCWLIB_SPY_ACCESS_LIST_H_
#define VQSCWLIB_SPY_ACCESS_LIST_H_

#include <cstdint>
#include <cstdio>

// One entry of the list: channels low to high, both included.
struct AccessRange {
  uint32_t low;
  uint32_t high;
  AccessRange* next;
};

namespace vqscw {

constexpr uint32_t kFirstChannel = 1;
constexpr uint32_t kLastChannel = 32767;

// The text that makes the rest of an access-list text a file path.
constexpr char kAccessFilePrefix[] = "file://";
// Lines of an access-list file are read in pieces of at most this many characters.
constexpr int kAccessFileLineLength = 255;

// A singly linked list of ranges in the order they were appended. Belongs to one thread at a time
// (the spy guards its list with its lock).
class AccessList {
 public:
  AccessList() = default;
  ~AccessList() { Clear(); }
  AccessList(const AccessList&) = delete;
  AccessList& operator=(const AccessList&) = delete;

  void Clear();
  // Appends low..high; false when the entry cannot be allocated.
  bool Append(uint32_t low, uint32_t high);
  // Exchanges the contents of the two lists.
  void Swap(AccessList* other);

  bool empty() const { return first_ == nullptr; }
  const AccessRange* first() const { return first_; }
  // True when `channel` lies in one of the ranges; false for an empty list.
  bool Contains(uint32_t channel) const;

 private:
  AccessRange* first_ = nullptr;
  AccessRange* last_ = nullptr;
};

// Results of parsing; they are the spy's result codes.
constexpr uint32_t kAccessListParsed = 0;
constexpr uint32_t kAccessListNoMemory = 1004;
constexpr uint32_t kAccessListNoFile = 1006;

// Appends the entries of `text` (inline, or "file://" and a path; null reads as empty) to `list`.
// Returns kAccessListParsed, kAccessListNoMemory (the entries before the one that could not be
// allocated are appended) or kAccessListNoFile (nothing appended).
uint32_t ParseAccessList(const char* text, AccessList* list);

// The two forms on their own: inline text, and the lines of an open file.
uint32_t ParseAccessText(const char* text, AccessList* list);
uint32_t ParseAccessFile(std::FILE* file, AccessList* list);

}  // namespace vqscw

#endif  // VQSCWLIB_SPY_ACCESS_LIST_H_
