// One selector of the drag-and-drop test between processes (preset_drag_processes_test.py): a
// standalone dialog on the window system of the environment, listing the channels named on the
// command line (a stand-in spy reports them), placed at a given screen position.
//
// Usage: preset_drag_peer X Y [CHANNEL...]
// Once the dialog is on the screen at that position it prints, one per line and in screen
// coordinates:
//   window ID X Y       its X window and the window's top left corner
//   row CHANNEL X Y     the middle of the row's Name cell
//   preset N X Y        the middle of preset button N (1 to 8)
//   list X Y            a spot of the list below its rows
//   ready
// and then, as they happen:
//   presets C1 C2 ... C8   the presets changed
//   drag started           a drag out of this dialog runs
//   drag action A          the drop action the drag would end in changed (1: copy, 0: none)
//   drag ended             the drag is over
// It runs until it is killed.
#include <QApplication>
#include <QDrag>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/fake_spy.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/selector_dialog.h"

using namespace vqscw;
using namespace vqscw::testing;

namespace {

constexpr int kPollMs = 50;

void PrintPoint(const char* what, const QPoint& point) {
  std::printf("%s %d %d\n", what, point.x(), point.y());
}

void PrintPresets(const Presets& presets) {
  std::printf("presets");
  for (int32_t channel : presets) std::printf(" %d", channel);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s X Y [CHANNEL...]\n", argv[0]);
    return 2;
  }
  const QPoint position(std::atoi(argv[1]), std::atoi(argv[2]));
  int qt_argc = 1;
  QApplication application(qt_argc, argv);

  FakeSpy spy;
  for (int i = 3; i < argc; ++i) {
    spy.Hear(static_cast<uint32_t>(std::atoi(argv[i])), std::string("Channel ") + argv[i]);
  }
  SelectorState state;
  SourceSpy* handle = nullptr;
  spy.Open(&handle, 0, kTerminalPort);
  state.spy = handle;
  SelectorDialog dialog(
      &state, SelectorEnvironment{&spy, [] { return std::optional<CardList>(CardList{}); }});
  dialog.show();

  // The dialog centres itself when shown; it is moved once it is on the screen, and its points
  // are printed once it is exposed where it was moved to. (The test also asks the X server where
  // the window is before it sends any pointer event.)
  bool placed = false;
  auto print_points = [&] {
    PrintPoint(("window " + std::to_string(dialog.winId())).c_str(), dialog.mapToGlobal(QPoint()));
    auto* list = dialog.findChild<ChannelList*>(QString::number(kIdList));
    QWidget* viewport = list->viewport();
    for (int row = 0; row < list->rowCount(); ++row) {
      const std::string what = "row " + std::to_string(list->channelAt(row));
      PrintPoint(what.c_str(),
                 viewport->mapToGlobal(list->cellRect(row, kColumnName, viewport).center()));
    }
    for (int n = 1; n <= kPresetCount; ++n) {
      auto* button = dialog.findChild<QPushButton*>(QString::number(kIdPreset1 + n - 1));
      const std::string what = "preset " + std::to_string(n);
      PrintPoint(what.c_str(), button->mapToGlobal(button->rect().center()));
    }
    PrintPoint("list",
               viewport->mapToGlobal(QPoint(viewport->width() / 2, viewport->height() - 10)));
    std::printf("ready\n");
    std::fflush(stdout);
  };
  Presets shown = state.presets;
  QPointer<QDrag> drag;
  auto print_line = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  QTimer poll;  // it also runs in a drag's own event loop
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (QDrag* running = dialog.findChild<QDrag*>(); running != nullptr && running != drag) {
      drag = running;
      print_line("drag started");
      QObject::connect(running, &QDrag::actionChanged, [&](Qt::DropAction action) {
        print_line("drag action " + std::to_string(static_cast<int>(action)));
      });
      QObject::connect(running, &QObject::destroyed, [&] { print_line("drag ended"); });
    }
    if (!placed) {
      QWindow* window = dialog.windowHandle();
      if (window == nullptr || !window->isExposed()) return;
      if (dialog.pos() != position) {
        dialog.move(position);
        return;
      }
      placed = true;
      print_points();
    }
    if (state.presets == shown) return;
    shown = state.presets;
    PrintPresets(shown);
  });
  poll.start(kPollMs);
  return application.exec();
}
