// Makes sure a QApplication exists for the length of a scope, so that library entry points can
// show widgets in hosts that have none.
#ifndef VQSCWLIB_SELECTOR_APPLICATION_SCOPE_H_
#define VQSCWLIB_SELECTOR_APPLICATION_SCOPE_H_

#include <memory>

class QApplication;

namespace vqscw {

class ApplicationScope {
 public:
  // Uses the host's QApplication when there is one. Otherwise creates one, unless no window
  // system can be reached: no QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY in the environment
  // (Qt would end the process instead of failing).
  ApplicationScope();
  // Destroys the QApplication this scope created, if any.
  ~ApplicationScope();
  ApplicationScope(const ApplicationScope&) = delete;
  ApplicationScope& operator=(const ApplicationScope&) = delete;

  // Whether widgets can be shown on the calling thread: a QApplication exists (not merely a
  // QCoreApplication) and this is its thread.
  bool usable() const;

 private:
  std::unique_ptr<QApplication> own_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_APPLICATION_SCOPE_H_
