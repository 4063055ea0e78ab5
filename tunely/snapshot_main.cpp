// tunely-snapshot: tunely for machines without a display. It runs the launcher exactly as tunely
// does, on the off-screen platform unless told otherwise; once the selector has listed channels
// and shown its status (or after a time-out) it saves a picture of the dialog as PNG, says where,
// and closes the dialog.
//
// Usage: tunely-snapshot OUTPUT.png [SECONDS]   (SECONDS: the longest wait, default 10)
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tunely/launcher.h"

namespace {

constexpr int kPollMs = 100;
constexpr int kSettleMs = 600;  // rows unchanged this long: the list is complete
constexpr char kReadyPrefix[] = " Ready";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [SECONDS]\n", argv[0]);
    return 2;
  }
  const QString output = QString::fromLocal8Bit(argv[1]);
  const int limit_ms = argc > 2 ? std::atoi(argv[2]) * 1000 : 10000;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qt_argc = 1;
  QApplication application(qt_argc, argv);

  QElapsedTimer clock;
  clock.start();
  int last_rows = -1;
  qint64 rows_since = 0;
  bool saved = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || saved) return;
    const auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("1000"));
    const auto* status = dialog->findChild<QLabel*>(QStringLiteral("1021"));
    const int rows = list ? list->topLevelItemCount() : 0;
    if (rows != last_rows) {
      last_rows = rows;
      rows_since = clock.elapsed();
    }
    const bool settled = rows > 0 && clock.elapsed() - rows_since >= kSettleMs && status &&
                         status->text().startsWith(QLatin1String(kReadyPrefix));
    if (!settled && clock.elapsed() < limit_ms) return;
    saved = true;
    if (dialog->grab().save(output, "PNG")) {
      std::printf("Screenshot of the selector (%d channels): %s\n", rows, qPrintable(output));
    } else {
      std::fprintf(stderr, "could not write %s\n", qPrintable(output));
    }
    std::fflush(stdout);
    dialog->close();
  });
  poll.start(kPollMs);

  tunely::RunLauncher(tunely::SystemLauncherPlatform(), stdout);
  std::fflush(stdout);
  std::fflush(stderr);
  return saved ? 0 : 1;
}
