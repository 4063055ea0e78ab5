// tunely-snapshot: tunely for machines without a display. It runs the launcher exactly as tunely
// does, on the off-screen platform unless told otherwise; once the selector has listed channels
// and shown its status (or after a time-out) it saves a picture of the dialog as PNG, says where,
// and closes the dialog. Given a channel, it first selects that channel's row and presses Preview,
// and takes the picture once the status line shows the channel playing at a packet rate.
//
// Usage: tunely-snapshot OUTPUT.png [SECONDS [CHANNEL]] (tunely-snapshot --help)
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/common/command_line.h"
#include "tunely/launcher.h"

namespace {

constexpr int kPollMs = 100;
constexpr int kSettleMs = 600;  // rows unchanged this long: the list is complete
constexpr char kReadyPrefix[] = " Ready";
constexpr char kPlayingPrefix[] = " Playing";
constexpr char kNoRate[] = "(rate: 0 ";
constexpr uint32_t kDefaultSeconds = 10;
constexpr uint32_t kMaxSeconds = 24 * 3600;
constexpr uint32_t kMaxChannel = 65535;
constexpr int kExitNotSaved = 1;

constexpr char kDescription[] =
    "tunely-snapshot: runs tunely's launcher off-screen (QT_QPA_PLATFORM=offscreen unless set) "
    "and saves a picture of the selector dialog as PNG once it has listed the channels and shown "
    "its status, or when SECONDS have passed; then closes the dialog.";

constexpr char kFooter[] =
    "Given CHANNEL, it first selects that channel's row and presses Preview, and takes the "
    "picture once the status line shows the channel playing at a packet rate. The preview plays "
    "into $VQSCW_AUDIO_SINK (e.g. \"wavenc ! filesink location=preview.wav\"). Exit status: 0 "
    "when the picture is saved, 1 when the launcher ends without a dialog or the picture cannot "
    "be written, 2 for bad arguments.";

struct SnapshotOptions {
  std::string output;
  uint32_t seconds = kDefaultSeconds;
  uint32_t channel = 0;  // 0: none
};

// Refuses an output that cannot be written: in a folder that does not exist or that this user
// cannot write, a folder itself, or a file this user cannot write.
bool CheckOutput(const std::string& output, std::string* message) {
  namespace fs = std::filesystem;
  std::error_code failure;
  const fs::path path(output);
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  if (fs::is_directory(path, failure)) {
    *message = "OUTPUT: " + output + " is a folder";
  } else if (!fs::is_directory(folder, failure)) {
    *message = "OUTPUT: the folder " + folder.string() + " does not exist";
  } else if (fs::exists(path, failure) ? access(output.c_str(), W_OK) != 0
                                       : access(folder.c_str(), W_OK) != 0) {
    *message = "OUTPUT: " + output + " cannot be written";
  } else {
    return true;
  }
  return false;
}

vqscw::tools::CommandLineOutcome ParseSnapshotOptions(const std::vector<std::string>& args,
                                                      SnapshotOptions* options,
                                                      std::string* message) {
  using vqscw::tools::CommandLineOutcome;
  CLI::App app(kDescription, "tunely-snapshot");
  vqscw::tools::AddVersionFlag(app);
  app.footer(kFooter);
  app.add_option("OUTPUT", options->output, "the PNG file to write")
      ->required()
      ->check(vqscw::tools::kNotEmpty);
  app.add_option("SECONDS", options->seconds, "the longest wait, 0 to 86400 (default: 10)")
      ->check(vqscw::tools::kWholeNumber)
      ->check(CLI::Range(uint32_t{0}, kMaxSeconds));
  app.add_option("CHANNEL", options->channel,
                 "the channel to preview first, 1 to 65535 (default: none)")
      ->check(vqscw::tools::kWholeNumber)
      ->check(CLI::Range(uint32_t{1}, kMaxChannel));
  const CommandLineOutcome outcome = vqscw::tools::ParseCommandLine(app, args, message);
  if (outcome == CommandLineOutcome::kRun && !CheckOutput(options->output, message)) {
    return CommandLineOutcome::kBadArguments;
  }
  return outcome;
}

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
  SnapshotOptions options;
  std::string message;
  const int status = vqscw::tools::ReportCommandLine(
      "tunely-snapshot",
      ParseSnapshotOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &message),
      message);
  if (status >= 0) return status;
  const QString output = QString::fromLocal8Bit(options.output.c_str());
  const qint64 limit_ms = qint64{options.seconds} * 1000;
  const int channel = static_cast<int>(options.channel);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qt_argc = 1;
  QApplication application(qt_argc, argv);

  QElapsedTimer clock;
  clock.start();
  int last_rows = -1;
  qint64 rows_since = 0;
  bool previewing = false;
  bool grabbed = false;
  bool written = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || grabbed) return;
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
    grabbed = true;
    written = dialog->grab().save(output, "PNG");
    if (written) {
      std::printf("Screenshot of the selector (%d channels; status \"%s\"): %s\n", rows,
                  qPrintable(text), qPrintable(output));
    } else {
      std::fprintf(stderr, "tunely-snapshot: could not write %s\n", qPrintable(output));
    }
    std::fflush(stdout);
    dialog->close();
  });
  poll.start(kPollMs);

  tunely::RunLauncher(tunely::SystemLauncherPlatform(), stdout);
  std::fflush(stdout);
  std::fflush(stderr);
  return written ? 0 : kExitNotSaved;
}
