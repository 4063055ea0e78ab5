// tunely-snapshot: tunely for machines without a display. It runs the launcher exactly as tunely
// does, on the off-screen platform unless told otherwise; once the selector has listed channels
// and shown its status (or after a time-out) it saves a picture of the dialog as PNG, says where,
// and closes the dialog. Given a channel, it first selects that channel's row and presses Preview,
// and takes the picture once the status line shows the channel playing at a packet rate.
//
// Usage: tunely-snapshot OUTPUT.png [SECONDS [CHANNEL]]
//   SECONDS: the longest wait, default 10; CHANNEL: the channel to preview, none by default
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
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
constexpr char kPlayingPrefix[] = " Playing";
constexpr char kNoRate[] = "(rate: 0 ";

// Selects the row of `channel` (its Channel cell) and presses Preview. False when no row has it.
bool PreviewChannel(QWidget* dialog, QTreeWidget* list, int channel) {
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item->text(0).trimmed() != QString::number(channel)) continue;
    list->setCurrentItem(item);
    item->setSelected(true);
    auto* preview = dialog->findChild<QPushButton*>(QStringLiteral("1010"));
    if (preview == nullptr) return false;
    preview->click();
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [SECONDS [CHANNEL]]\n", argv[0]);
    return 2;
  }
  const QString output = QString::fromLocal8Bit(argv[1]);
  const int limit_ms = argc > 2 ? std::atoi(argv[2]) * 1000 : 10000;
  const int channel = argc > 3 ? std::atoi(argv[3]) : 0;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qt_argc = 1;
  QApplication application(qt_argc, argv);

  QElapsedTimer clock;
  clock.start();
  int last_rows = -1;
  qint64 rows_since = 0;
  bool previewing = false;
  bool saved = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || saved) return;
    auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("1000"));
    const auto* status = dialog->findChild<QLabel*>(QStringLiteral("1021"));
    const int rows = list ? list->topLevelItemCount() : 0;
    if (rows != last_rows) {
      last_rows = rows;
      rows_since = clock.elapsed();
    }
    const QString text = status ? status->text() : QString();
    const bool settled = rows > 0 && clock.elapsed() - rows_since >= kSettleMs &&
                         text.startsWith(QLatin1String(kReadyPrefix));
    bool ready = settled;
    if (channel != 0) {
      if (settled && !previewing) previewing = PreviewChannel(dialog, list, channel);
      ready = previewing && text.startsWith(QLatin1String(kPlayingPrefix)) &&
              !text.contains(QLatin1String(kNoRate));
    }
    if (!ready && clock.elapsed() < limit_ms) return;
    saved = true;
    if (dialog->grab().save(output, "PNG")) {
      std::printf("Screenshot of the selector (%d channels; status \"%s\"): %s\n", rows,
                  qPrintable(text), qPrintable(output));
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
