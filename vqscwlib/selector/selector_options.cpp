#include "vqscwlib/selector/selector_options.h"

#include <cstring>
#include <string_view>

#include "vqscwlib/selector/text_util.h"

namespace vqscw {
namespace {

// The text an option value points to, read no further than `limit` bytes.
std::string OptionText(uintptr_t value, size_t limit) {
  const char* text = reinterpret_cast<const char*>(value);
  if (text == nullptr) return {};
  return CutText(std::string_view(text, strnlen(text, limit + 1)), limit);
}

}  // namespace

SelectorOptions ParseSelectorOptions(const SelectorOption* options) {
  SelectorOptions result;
  std::string version;
  for (const SelectorOption* option = options; option != nullptr && option->tag != 0; ++option) {
    switch (option->tag) {
      case SELECTOR_OPT_TITLE:
        result.caption = OptionText(option->value, kTitleLimit);
        break;
      case SELECTOR_OPT_ICON:
        if (option->value == SELECTOR_ICON_OWN) {
          result.icon = IconChoice::kOwn;
          result.host_icon = nullptr;
        } else {
          result.host_icon = reinterpret_cast<const QIcon*>(option->value);
          result.icon = result.host_icon != nullptr ? IconChoice::kHost : IconChoice::kClass;
        }
        break;
      case SELECTOR_OPT_FRAME:
        result.frame_flags = static_cast<uint32_t>(option->value) &
                             (SELECTOR_FRAME_MINIMIZE | SELECTOR_FRAME_MAXIMIZE);
        break;
      case SELECTOR_OPT_VERSION:
        version = OptionText(option->value, kCaptionLimit);
        break;
      case SELECTOR_OPT_ACCESS_LIST:
        result.access_list = OptionText(option->value, kAccessListLimit);
        break;
      default:
        break;
    }
  }
  if (!version.empty()) {
    result.caption = CutText(result.caption + kVersionSuffix + version, kCaptionLimit);
  }
  return result;
}

}  // namespace vqscw
