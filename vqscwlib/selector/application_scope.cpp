#include "vqscwlib/selector/application_scope.h"

#include <QApplication>
#include <QThread>

namespace vqscw {
namespace {

bool WindowSystemReachable() {
  return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
         !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// QApplication keeps references to its argument count and vector for its whole life.
int g_argc = 1;
char g_program_name[] = "vqscwlib";
char* g_argv[] = {g_program_name, nullptr};

}  // namespace

ApplicationScope::ApplicationScope() {
  if (QCoreApplication::instance() == nullptr && WindowSystemReachable()) {
    g_argc = 1;
    own_ = std::make_unique<QApplication>(g_argc, g_argv);
  }
}

ApplicationScope::~ApplicationScope() = default;

bool ApplicationScope::usable() const {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace vqscw
