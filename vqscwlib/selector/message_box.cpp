#include "vqscwlib/selector/message_box.h"

#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <utility>

#include "vqscwlib/selector/application_scope.h"

namespace vqscw {
namespace {

MessageBoxHandler* g_redirect = nullptr;

}  // namespace

void ShowMessageBox(const std::string& caption, const std::string& text) {
  if (g_redirect != nullptr) {
    (*g_redirect)(caption, text);
    return;
  }
  ApplicationScope application;
  if (!application.usable()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

ScopedMessageBoxRedirect::ScopedMessageBoxRedirect(MessageBoxHandler handler) {
  g_redirect = new MessageBoxHandler(std::move(handler));
}

ScopedMessageBoxRedirect::~ScopedMessageBoxRedirect() {
  delete g_redirect;
  g_redirect = nullptr;
}

}  // namespace vqscw
