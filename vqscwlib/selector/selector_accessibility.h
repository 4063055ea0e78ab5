// What a screen reader finds in the dialog's own widgets, where the standard views do not fit:
//   - the level meter: a read-only level indicator (a progress bar role) whose value is the
//     number of segments lit in its louder column, 0 to 10, and whose value text says both
//     columns, or that nothing plays;
//   - the network card label: a button that opens a menu (its press and show-menu actions open
//     the card menu), whose value is the address shown;
//   - the status line: a status bar whose value is the text shown.
// Names, descriptions and tooltips are the widgets' own (see control_help.h).
#ifndef VQSCWLIB_SELECTOR_SELECTOR_ACCESSIBILITY_H_
#define VQSCWLIB_SELECTOR_SELECTOR_ACCESSIBILITY_H_

namespace vqscw {

// Registers the views with Qt's accessibility once per process; later calls do nothing. Call
// on the thread of the QApplication.
void InstallSelectorAccessibility();

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SELECTOR_ACCESSIBILITY_H_
