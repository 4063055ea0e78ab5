// The option list of vqscwSelectorOpen2, walked into the values the dialog uses.
#ifndef VQSCWLIB_SELECTOR_SELECTOR_OPTIONS_H_
#define VQSCWLIB_SELECTOR_SELECTOR_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "vqscwlib/selector/selector.h"

class QIcon;

namespace vqscw {

constexpr size_t kTitleLimit = 256;       // bytes of SELECTOR_OPT_TITLE taken
constexpr size_t kCaptionLimit = 301;     // bytes of title and version suffix together
constexpr size_t kAccessListLimit = 260;  // bytes of SELECTOR_OPT_ACCESS_LIST taken
constexpr char kVersionSuffix[] = " - Version ";

enum class IconChoice {
  kClass,  // no icon given: the window keeps the dialog's usual icon
  kOwn,    // the library's own icon
  kHost,   // the host's QIcon, `host_icon`
};

struct SelectorOptions {
  std::string caption;      // empty: the dialog's own caption
  std::string access_list;  // empty: no access list
  IconChoice icon = IconChoice::kClass;
  const QIcon* host_icon = nullptr;  // the host's; only read while the dialog opens
  uint32_t frame_flags = 0;          // SELECTOR_FRAME_* bits; other bits dropped
};

// Walks `options` (may be null) up to the first tag 0. A null text pointer counts as an empty
// text. The version suffix is appended after the walk, so the last title and the last version
// given are the ones that count.
SelectorOptions ParseSelectorOptions(const SelectorOption* options);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SELECTOR_OPTIONS_H_
