#include "vqscwlib/selector/selector_run.h"

#include <QTimer>
#include <cstdio>
#include <memory>

#include "vqscwlib/selector/application_scope.h"
#include "vqscwlib/selector/card_selection.h"
#include "vqscwlib/selector/message_box.h"
#include "vqscwlib/selector/selector_options.h"
#include "vqscwlib/selector/selector_state.h"
#include "vqscwlib/selector/settings.h"
#include "vqscwlib/selector/spy_api.h"

namespace vqscw {

int RunSelector(QWidget* parent, SelectorSelection* selection, const SelectorOption* options,
                const SelectorEnvironment& environment,
                const std::function<void(SelectorDialog&)>& on_shown) {
  ApplicationScope application;
  if (!application.usable()) {
    std::fputs("vqscwSelectorOpen2: no window system to show the selector on\n", stderr);
    return SELECTOR_FAILED;
  }
  SpyApi& spy_api = environment.spy_api ? *environment.spy_api : LibrarySpyApi();

  SelectorState state;
  state.selection = selection;
  state.options = ParseSelectorOptions(options);

  const SelectorSettings settings = ReadSettings();
  state.local_address = settings.local_address;
  state.card_name = settings.card_name;
  state.preview_volume = settings.preview_volume;

  int result = 0;
  if (selection != nullptr && selection->spy != nullptr) {
    state.spy = selection->spy;
    state.spy_lent = true;
    uint32_t address = 0;
    if (spy_api.GetInterface(state.spy, &address) == SPY_OK) state.local_address = address;
  } else {
    const CardSource cards = environment.cards ? environment.cards : CardSource(&MachineCards);
    const CardResolution card = ResolveCard(cards(), state.local_address, state.card_name);
    std::fputs(card.lines.c_str(), stdout);
    state.local_address = card.address;

    SourceSpy* spy = nullptr;
    const uint32_t code = spy_api.Open(&spy, state.local_address, kTerminalPort);
    if (code != SPY_OK) {
      std::fprintf(stderr, "vqscwSourceSpyOpen failed (err=%lu)\n",
                   static_cast<unsigned long>(code));
      if (selection != nullptr) return static_cast<int>(code);
      result = static_cast<int>(code);
    } else {
      state.spy = spy;
      if (!state.options.access_list.empty()) {
        const uint32_t list_code = spy_api.SetAccessList(spy, state.options.access_list.c_str());
        if (list_code != SPY_OK) {
          ShowMessageBox(kAccessListFailedCaption,
                         AccessListFailureText(state.options.access_list, list_code));
          spy_api.Close(spy);
          return static_cast<int>(list_code);
        }
      }
    }
  }

  int end = 0;
  {
    SelectorDialog dialog(&state, environment, parent);
    if (on_shown) {
      QTimer::singleShot(0, &dialog, [&dialog, &on_shown] { on_shown(dialog); });
    }
    end = dialog.exec();
    dialog.releaseSpy();
  }
  if (end == SelectorDialog::kEndCancel) return SELECTOR_CANCELLED;
  if (end != SelectorDialog::kEndOk) return SELECTOR_FAILED;
  return result;
}

}  // namespace vqscw

extern "C" {

int vqscwSelectorOpen2(QWidget* parent, SelectorSelection* selection,
                       const SelectorOption* options) {
  try {
    return vqscw::RunSelector(parent, selection, options, vqscw::SelectorEnvironment{});
  } catch (...) {
    return SELECTOR_FAILED;
  }
}

int vqscwSelectorOpen(QWidget* parent, SelectorSelection* selection) {
  return vqscwSelectorOpen2(parent, selection, nullptr);
}

}  // extern "C"
