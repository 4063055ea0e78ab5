// Feeds arbitrary text to the access-list parser, inline (first byte even) or as the contents of
// an access-list file (first byte odd). Aborts when an entry is not a valid range or the list
// disagrees with the ranges it holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vqscwlib/spy/access_list.h"

namespace {

void Check(const vqscw::AccessList& list) {
  size_t count = 0;
  for (const AccessRange* range = list.first(); range != nullptr; range = range->next) {
    if (range->low < vqscw::kFirstChannel || range->high > vqscw::kLastChannel ||
        range->low > range->high) {
      abort();
    }
    ++count;
  }
  // Contains walks the list, so asking it about every range of a list as long as the largest
  // inputs make (tens of thousands of entries) would take seconds: ask about at most 512 of them,
  // spread over the list, the first and last among them.
  const size_t stride = count / 512 + 1;
  size_t index = 0;
  for (const AccessRange* range = list.first(); range != nullptr; range = range->next, ++index) {
    if (index % stride != 0 && range->next != nullptr) continue;
    if (!list.Contains(range->low) || !list.Contains(range->high)) abort();
  }
  if (list.Contains(0) || list.Contains(vqscw::kLastChannel + 1)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool file_form = (data[0] & 1) != 0;
  // An exactly sized copy, so a read past the text is caught.
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  vqscw::AccessList list;
  if (!file_form) {
    if (vqscw::ParseAccessText(text.c_str(), &list) != vqscw::kAccessListParsed) abort();
  } else if (!text.empty()) {
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (file == nullptr) return 0;
    if (vqscw::ParseAccessFile(file, &list) != vqscw::kAccessListParsed) abort();
    std::fclose(file);
  }
  Check(list);
  return 0;
}
