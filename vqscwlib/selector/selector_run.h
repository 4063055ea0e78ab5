// vqscwSelectorOpen2 with its surroundings made explicit, so tests can stand fakes in for the
// spy and the network cards and act on the dialog while it runs.
#ifndef VQSCWLIB_SELECTOR_SELECTOR_RUN_H_
#define VQSCWLIB_SELECTOR_SELECTOR_RUN_H_

#include <functional>

#include "vqscwlib/selector/selector.h"
#include "vqscwlib/selector/selector_dialog.h"

namespace vqscw {

// Runs the selector as vqscwSelectorOpen2 does. `on_shown`, when set, is called with the dialog
// from within its modal loop, once, right after the dialog has been shown.
int RunSelector(QWidget* parent, SelectorSelection* selection, const SelectorOption* options,
                const SelectorEnvironment& environment,
                const std::function<void(SelectorDialog&)>& on_shown = {});

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SELECTOR_RUN_H_
