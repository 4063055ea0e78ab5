// The library's message boxes: a caption, a text and an OK button, without owner.
//
// Every message box of the selector goes through ShowMessageBox, so tests can see what would be
// shown instead of a modal box that nobody closes.
#ifndef VQSCWLIB_SELECTOR_MESSAGE_BOX_H_
#define VQSCWLIB_SELECTOR_MESSAGE_BOX_H_

#include <functional>
#include <string>

namespace vqscw {

// Caption of a box given none, as the window system titles it.
constexpr char kDefaultMessageBoxCaption[] = "Error";

// Shows the box modally and returns when it is closed. Creates a QApplication for the box when
// the process has none; where no window can be shown at all, the caption and text go to standard
// error instead.
void ShowMessageBox(const std::string& caption, const std::string& text);

using MessageBoxHandler = std::function<void(const std::string& caption, const std::string& text)>;

// While one of these lives, ShowMessageBox hands every box to `handler` instead of showing it.
// Only one may exist at a time; create and destroy it on the thread that shows the boxes.
class ScopedMessageBoxRedirect {
 public:
  explicit ScopedMessageBoxRedirect(MessageBoxHandler handler);
  ~ScopedMessageBoxRedirect();
  ScopedMessageBoxRedirect(const ScopedMessageBoxRedirect&) = delete;
  ScopedMessageBoxRedirect& operator=(const ScopedMessageBoxRedirect&) = delete;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_MESSAGE_BOX_H_
