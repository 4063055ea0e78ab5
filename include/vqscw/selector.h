// The selector dialog's entry points, the records a host hands them and their results.
//
// A host calls vqscwSelectorOpen2 on its GUI thread (or on any thread when it has no
// QApplication: one is created for the call). The call shows the modal selector dialog and
// returns when it has ended. Everything the host passes stays the host's: the option list and its
// texts, the SelectorSelection and its name buffer, a lent spy and an icon.
#ifndef VQSCW_SELECTOR_H_
#define VQSCW_SELECTOR_H_

#include <cstdint>

#include "vqscw/export.h"

class QWidget;
struct SourceSpy;

// The host's record in selection mode. The dialog reads it at opening and writes `channel` and
// `name` only when a row is taken.
struct SelectorSelection {
  int32_t channel;   // out: the channel number of the taken row
  char* name;        // in, optional: receives the taken row's name, cut to fit with a zero
  int32_t nameSize;  // in: capacity of `name` in bytes, terminating zero included
  SourceSpy* spy;    // in, optional: an open spy the dialog uses and never closes
};

// One entry of the option list: a tag and an integer or pointer value. The list ends at the first
// entry whose tag is 0; entries with unknown tags are skipped; a later entry replaces an earlier
// one with the same tag.
struct SelectorOption {
  uint32_t tag;
  uintptr_t value;
};

// Option tags.
constexpr uint32_t SELECTOR_OPT_TITLE = 1;        // const char*: the caption (256 characters)
constexpr uint32_t SELECTOR_OPT_ICON = 4;         // QIcon* (the host's), or SELECTOR_ICON_OWN
constexpr uint32_t SELECTOR_OPT_FRAME = 5;        // bit 0: minimize box; bit 1: maximize box
constexpr uint32_t SELECTOR_OPT_VERSION = 6;      // const char*: " - Version " suffix text
constexpr uint32_t SELECTOR_OPT_ACCESS_LIST = 7;  // const char*: the spy's access list

// SELECTOR_OPT_ICON value that asks for the library's own icon.
constexpr uintptr_t SELECTOR_ICON_OWN = 0xF0000001u;

// SELECTOR_OPT_FRAME bits.
constexpr uint32_t SELECTOR_FRAME_MINIMIZE = 1;
constexpr uint32_t SELECTOR_FRAME_MAXIMIZE = 2;

// Results besides 0 (the dialog ended with OK) and the spy's codes 1001 to 1006.
constexpr int SELECTOR_CANCELLED = 2001;
constexpr int SELECTOR_FAILED = 2002;

extern "C" {

// Shows the selector dialog modally, owned by `parent` (may be null). A null `selection` gives
// the standalone player; a non-null one the chooser. `options` may be null. Returns 0 when the
// dialog ended with OK, SELECTOR_CANCELLED, SELECTOR_FAILED (also when the dialog could not be
// created), or the spy's code when the spy could not be opened or the access list not applied.
VQSCW_EXPORT int vqscwSelectorOpen2(QWidget* parent, SelectorSelection* selection,
                                    const SelectorOption* options);

// vqscwSelectorOpen2 with no options.
VQSCW_EXPORT int vqscwSelectorOpen(QWidget* parent, SelectorSelection* selection);

}  // extern "C"

#endif  // VQSCW_SELECTOR_H_
