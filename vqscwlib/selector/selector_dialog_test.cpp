// The selector dialog, off-screen: options and caption, the two modes and closing, the spy's
// lifetime, the channel list with its filter, sorting and in-place editing, the card menu, the
// hand-over of reported sources, layout and painting.
#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_spy.h"
#include "tests/support/qtest_main.h"
#include "vqscwlib/selector/artwork.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/message_box.h"
#include "vqscwlib/selector/selector_dialog.h"
#include "vqscwlib/selector/selector_run.h"
#include "vqscwlib/selector/settings.h"

using namespace vqscw;
using namespace vqscw::testing;

namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a | (b << 8) | (c << 16) | (d << 24);
}

CardList TestCards() {
  return {{"lo", "lo", {{Ip(127, 0, 0, 1), Ip(255, 0, 0, 0)}}},
          {"eth0", "Studio network", {{Ip(10, 1, 2, 3), Ip(255, 255, 255, 0)}}},
          {"eth1", "eth1", {{Ip(192, 168, 5, 9), Ip(255, 255, 255, 0)}}}};
}

std::vector<std::string> ColumnOf(const ChannelList* list, int column) {
  std::vector<std::string> cells;
  for (int row = 0; row < list->rowCount(); ++row) cells.push_back(list->cellText(row, column));
  return cells;
}

std::vector<int32_t> ChannelsOf(const ChannelList* list) {
  std::vector<int32_t> channels;
  for (int row = 0; row < list->rowCount(); ++row) channels.push_back(list->channelAt(row));
  return channels;
}

QStringList EntriesOf(const QComboBox* combo) {
  QStringList entries;
  for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
  return entries;
}

void ClickCell(ChannelList* list, int row, int column) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->cellRect(row, column, list->viewport()).center());
}

// Chooses `text` in a combo box's drop-down list, as a user would: open it, move to the entry,
// press Enter.
void ChooseInPopup(QComboBox* combo, const QString& text) {
  combo->showPopup();
  QAbstractItemView* view = combo->view();
  view->setCurrentIndex(combo->model()->index(combo->findText(text, Qt::MatchExactly), 0));
  QTest::keyClick(view, Qt::Key_Return);
}

// Runs `on_menu` with the next popup menu once it is open.
void WhenMenuOpens(std::function<void(QMenu*)> on_menu) {
  QTimer::singleShot(0, [on_menu] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    on_menu(menu);
    if (menu->isVisible()) menu->close();
  });
}

// A dialog the test builds on a state of its own and shows without a modal loop.
class Harness {
 public:
  explicit Harness(bool selection_mode, uint32_t local_address = 0) {
    state.selection = selection_mode ? &selection : nullptr;
    state.local_address = local_address;
  }

  SelectorEnvironment Environment() {
    return {&spy, [this] { return std::optional<CardList>(cards); }};
  }

  void Open() {
    SourceSpy* handle = nullptr;
    spy.Open(&handle, state.local_address, kTerminalPort);
    state.spy = handle;
    dialog = std::make_unique<SelectorDialog>(&state, Environment());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
  }

  template <typename T>
  T* Control(int id) {
    return dialog->findChild<T*>(QString::number(id));
  }
  ChannelList* List() { return Control<ChannelList>(kIdList); }
  QComboBox* Filter() { return Control<QComboBox>(kIdFilter); }
  QComboBox* Editor() { return Control<QComboBox>(kIdEditor); }

  void ChooseFilter(const QString& text) {
    ChooseInPopup(Filter(), text);
    QTRY_COMPARE(QString::fromStdString(state.filter), text);
  }

  // Clicks the cell, types `text` into the editor and presses Enter.
  void EditCell(int32_t channel, int column, const QString& text) {
    const int row = List()->findRow(channel);
    QVERIFY(row >= 0);
    ClickCell(List(), row, column);
    QVERIFY(Editor()->isVisible());
    Editor()->lineEdit()->selectAll();
    QTest::keyClick(Editor()->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(Editor()->lineEdit(), text);
    QTest::keyClick(Editor()->lineEdit(), Qt::Key_Return);
    QVERIFY(!Editor()->isVisible());
  }

  FakeSpy spy;
  CardList cards = TestCards();
  SelectorSelection selection{};
  SelectorState state;
  std::unique_ptr<SelectorDialog> dialog;
};

// Runs the selector modally with a fake spy; `body` acts on the dialog while it runs. A body that
// fails halfway leaves the dialog open: it is then ended with a value that counts as failure.
struct ModalRun {
  FakeSpy spy;
  CardList cards = TestCards();
  bool shown = false;

  int Run(SelectorSelection* selection, const SelectorOption* options,
          const std::function<void(SelectorDialog&)>& body = {}) {
    SelectorEnvironment environment{&spy, [this] { return std::optional<CardList>(cards); }};
    return RunSelector(nullptr, selection, options, environment, [&](SelectorDialog& dialog) {
      shown = true;
      if (body) body(dialog);
      if (dialog.isVisible()) dialog.done(-1);
    });
  }
};

std::vector<std::pair<std::string, std::string>> CaptureBoxes(const std::function<void()>& action) {
  std::vector<std::pair<std::string, std::string>> boxes;
  ScopedMessageBoxRedirect redirect([&](const std::string& caption, const std::string& text) {
    boxes.emplace_back(caption, text);
  });
  action();
  return boxes;
}

}  // namespace

class SelectorDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init();

  // Options and caption.
  void captionAndFrame_data();
  void captionAndFrame();
  void iconOwnHostOrNone();

  // Modes and closing.
  void modeShowsTakeOrPresets_data();
  void modeShowsTakeOrPresets();
  void okInSelectionModeNeedsARowAndCopiesTheName();
  void cancelEndsWith2001_data();
  void cancelEndsWith2001();
  void enterEndsTheStandalonePlayerWithOk();
  void cancelDuringAnEditAbandonsItFirst();
  void doubleClickTakesInSelectionModeOnly();

  // The spy's lifetime.
  void lentSpyIsNeverClosed();
  void ownSpyListensOnTheStoredCardAndIsClosed();
  void spyThatCannotOpen_data();
  void spyThatCannotOpen();
  void accessListFailureShowsTheBoxAndNoDialog();

  // The channel list.
  void reportedSourcesBecomeRowsOnce();
  void filterEntriesFollowThePrefixRule();
  void filterSelectsRows_data();
  void filterSelectsRows();
  void rowThatStopsMatchingStaysUntilRefill();
  void sourceOutsideTheFilterIsNotAdded();
  void sortByNameIsByBytes();
  void categoryEditStoresAndFeedsTheFilter();
  void presetEdit_data();
  void presetEdit();
  void presetMovesFromOneChannelToAnother();

  // The network card.
  void cardMenuListsAddressesAndReopensTheSpy();
  void loopbackOnlyMachineHasNoMenu();
  void accessListFailureAfterCardChangeKeepsTheDialog();
  void lentSpyIsDetachedNotClosedWhenTheCardChanges();

  // Hand-over from the spy's thread.
  void refreshWhileTheSpyFloodsNeverBlocks();

  // Layout, painting and resources.
  void controlsSitWhereTheTemplatePlacesThem();
  void backgroundRepeatsTheHeaderEdgeAndFillsBelow();
  void ownerDrawnButtonShowsItsCellTransparently();
  void artworkHasItsSizes();
  void statusLineCountsTheChannels();
  void screenshotOfTheStandaloneDialog();

 private:
  QTemporaryDir temp_;
  int registry_serial_ = 0;
};

void SelectorDialogTest::init() {
  // Every test starts with an empty registry of its own.
  const QString file = temp_.filePath(QString("registry-%1.db").arg(++registry_serial_));
  qputenv("VQSCW_REGISTRY", file.toUtf8());
}

// ---------------------------------------------------------------------------------------------
// Options and caption.

void SelectorDialogTest::captionAndFrame_data() {
  QTest::addColumn<bool>("hasList");
  QTest::addColumn<QByteArray>("title");    // null: no title entry
  QTest::addColumn<QByteArray>("version");  // null: no version entry
  QTest::addColumn<int>("frame");           // -1: no frame entry
  QTest::addColumn<QString>("caption");
  QTest::addColumn<bool>("minimize");
  QTest::addColumn<bool>("maximize");

  QTest::newRow("no list") << false << QByteArray() << QByteArray() << -1 << "Corrivo Selector"
                           << false << false;
  QTest::newRow("only the end") << true << QByteArray() << QByteArray() << -1 << "Corrivo Selector"
                                << false << false;
  QTest::newRow("version alone") << true << QByteArray() << QByteArray("2.1") << -1
                                 << " - Version 2.1" << false << false;
  QTest::newRow("title and version") << true << QByteArray("Desk") << QByteArray("2.1") << -1
                                     << "Desk - Version 2.1" << false << false;
  QTest::newRow("empty version") << true << QByteArray("Desk") << QByteArray("") << -1 << "Desk"
                                 << false << false;
  QTest::newRow("both boxes") << true << QByteArray() << QByteArray() << 3 << "Corrivo Selector"
                              << true << true;
  QTest::newRow("minimize box") << true << QByteArray() << QByteArray() << 1 << "Corrivo Selector"
                                << true << false;
  QTest::newRow("no boxes") << true << QByteArray() << QByteArray() << 0 << "Corrivo Selector"
                            << false << false;
}

void SelectorDialogTest::captionAndFrame() {
  QFETCH(bool, hasList);
  QFETCH(QByteArray, title);
  QFETCH(QByteArray, version);
  QFETCH(int, frame);
  QFETCH(QString, caption);
  QFETCH(bool, minimize);
  QFETCH(bool, maximize);

  std::vector<SelectorOption> options;
  if (!title.isNull())
    options.push_back({SELECTOR_OPT_TITLE, reinterpret_cast<uintptr_t>(title.constData())});
  if (!version.isNull()) {
    options.push_back({SELECTOR_OPT_VERSION, reinterpret_cast<uintptr_t>(version.constData())});
  }
  if (frame >= 0) options.push_back({SELECTOR_OPT_FRAME, static_cast<uintptr_t>(frame)});
  options.push_back({0, 0});

  ModalRun run;
  QString shown_caption;
  Qt::WindowFlags flags;
  const int result =
      run.Run(nullptr, hasList ? options.data() : nullptr, [&](SelectorDialog& dialog) {
        shown_caption = dialog.windowTitle();
        flags = dialog.windowFlags();
        dialog.reject();
      });
  QCOMPARE(result, SELECTOR_CANCELLED);
  QCOMPARE(shown_caption, caption);
  QCOMPARE(flags.testFlag(Qt::WindowMinimizeButtonHint), minimize);
  QCOMPARE(flags.testFlag(Qt::WindowMaximizeButtonHint), maximize);
  // No access list was given, so none is applied.
  QCOMPARE(run.spy.CountCalls("acl"), 0);
}

void SelectorDialogTest::iconOwnHostOrNone() {
  auto icon_of = [](const SelectorOption* options) {
    ModalRun run;
    QIcon icon;
    run.Run(nullptr, options, [&](SelectorDialog& dialog) {
      icon = dialog.windowIcon();
      dialog.reject();
    });
    return icon;
  };
  const SelectorOption own[] = {{SELECTOR_OPT_ICON, SELECTOR_ICON_OWN}, {0, 0}};
  const QList<QSize> sizes = icon_of(own).availableSizes();
  QVERIFY(sizes.contains(QSize(16, 16)));
  QVERIFY(sizes.contains(QSize(32, 32)));
  QVERIFY(sizes.contains(QSize(48, 48)));

  QPixmap red(20, 20);
  red.fill(Qt::red);
  const QIcon host_icon(red);
  const SelectorOption host[] = {{SELECTOR_OPT_ICON, reinterpret_cast<uintptr_t>(&host_icon)},
                                 {0, 0}};
  QCOMPARE(icon_of(host).pixmap(20).toImage().pixelColor(10, 10), QColor(Qt::red));

  QCOMPARE(icon_of(nullptr).cacheKey(), QApplication::windowIcon().cacheKey());
}

// ---------------------------------------------------------------------------------------------
// Modes and closing.

void SelectorDialogTest::modeShowsTakeOrPresets_data() {
  QTest::addColumn<bool>("selectionMode");
  QTest::newRow("standalone") << false;
  QTest::newRow("selection") << true;
}

void SelectorDialogTest::modeShowsTakeOrPresets() {
  QFETCH(bool, selectionMode);
  Harness h(selectionMode);
  h.Open();
  QCOMPARE(h.Control<QPushButton>(kIdTake)->isVisible(), selectionMode);
  for (int id = kIdPreset1; id <= kIdPreset8; ++id) {
    QCOMPARE(h.Control<QPushButton>(id)->isVisible(), !selectionMode);
  }
}

void SelectorDialogTest::okInSelectionModeNeedsARowAndCopiesTheName() {
  ModalRun run;
  run.spy.Hear(12, "Studio A");
  char name[4] = {'x', 'x', 'x', 'x'};
  SelectorSelection selection{-1, name, sizeof name, nullptr};
  bool open_after_first_ok = false;
  const int result = run.Run(&selection, nullptr, [&](SelectorDialog& dialog) {
    auto* take = dialog.findChild<QPushButton*>("1");
    auto* list = dialog.findChild<ChannelList*>("1000");
    QCOMPARE(list->rowCount(), 1);
    QTest::mouseClick(take, Qt::LeftButton);
    open_after_first_ok = dialog.isVisible();
    ClickCell(list, 0, kColumnName);
    QTest::mouseClick(take, Qt::LeftButton);
  });
  QVERIFY(open_after_first_ok);
  QCOMPARE(result, 0);
  QCOMPARE(selection.channel, 12);
  QCOMPARE(QByteArray(name, 4), QByteArray("Stu\0", 4));
}

void SelectorDialogTest::cancelEndsWith2001_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("escape") << "escape";
  QTest::newRow("close box") << "close";
}

void SelectorDialogTest::cancelEndsWith2001() {
  QFETCH(QString, how);
  ModalRun run;
  SelectorSelection selection{};
  const int result = run.Run(&selection, nullptr, [&](SelectorDialog& dialog) {
    if (how == "escape") {
      QTest::keyClick(dialog.findChild<ChannelList*>("1000"), Qt::Key_Escape);
    } else {
      dialog.close();
    }
  });
  QCOMPARE(result, SELECTOR_CANCELLED);
}

void SelectorDialogTest::enterEndsTheStandalonePlayerWithOk() {
  ModalRun run;
  run.spy.Hear(3, "Three");
  const int result = run.Run(nullptr, nullptr, [&](SelectorDialog& dialog) {
    QTest::keyClick(dialog.findChild<ChannelList*>("1000"), Qt::Key_Return);
  });
  QCOMPARE(result, 0);
}

void SelectorDialogTest::cancelDuringAnEditAbandonsItFirst() {
  StoreCategory(4, "Jazz");
  Harness h(true);
  h.spy.Hear(4, "Four");
  h.Open();
  ClickCell(h.List(), 0, kColumnCategory);
  QVERIFY(h.Editor()->isVisible());
  // The editor covers the cell, one pixel larger each way.
  const QRect cell = h.List()->cellRect(0, kColumnCategory, h.dialog.get());
  QCOMPARE(h.Editor()->geometry(), cell.adjusted(0, 0, 1, 1));
  QTest::keyClicks(h.Editor()->lineEdit(), "Rock");
  QTest::keyClick(h.Editor()->lineEdit(), Qt::Key_Escape);

  QVERIFY(h.dialog->isVisible());
  QVERIFY(!h.Editor()->isVisible());
  QCOMPARE(h.state.edit_row, -1);
  QCOMPARE(h.List()->cellText(0, kColumnCategory), std::string("Jazz"));
  std::string stored;
  QVERIFY(ReadCategory(4, &stored));
  QCOMPARE(stored, std::string("Jazz"));

  QTest::keyClick(h.List(), Qt::Key_Escape);
  QVERIFY(!h.dialog->isVisible());
  QCOMPARE(h.dialog->result(), int(SelectorDialog::kEndCancel));
}

void SelectorDialogTest::doubleClickTakesInSelectionModeOnly() {
  for (bool selection_mode : {false, true}) {
    Harness h(selection_mode);
    h.spy.Hear(8, "Eight");
    h.Open();
    const QPoint cell = h.List()->cellRect(0, kColumnName, h.List()->viewport()).center();
    // A double click arrives as a click followed by a double-click event.
    QTest::mouseClick(h.List()->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(h.List()->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(h.dialog->isVisible(), !selection_mode);
    if (selection_mode) QCOMPARE(h.selection.channel, 8);
  }
}

// ---------------------------------------------------------------------------------------------
// The spy's lifetime.

void SelectorDialogTest::lentSpyIsNeverClosed() {
  ModalRun run;
  SourceSpy* lent = run.spy.OpenForHost(Ip(10, 1, 2, 3));
  SelectorSelection selection{0, nullptr, 0, lent};
  const char access_list[] = "1-5";
  const SelectorOption options[] = {
      {SELECTOR_OPT_ACCESS_LIST, reinterpret_cast<uintptr_t>(access_list)}, {0, 0}};
  QString label;
  run.Run(&selection, options, [&](SelectorDialog& dialog) {
    label = dialog.findChild<QLabel*>("1020")->text();
    run.spy.Hear(2, "Two");
    QTRY_COMPARE(dialog.findChild<ChannelList*>("1000")->rowCount(), 1);
    dialog.reject();
  });
  QCOMPARE(label, QString("10.1.2.3"));  // the address the lent spy listens on
  QVERIFY(run.spy.IsOpen(lent));
  QCOMPARE(run.spy.CountCalls("close"), 0);
  QCOMPARE(run.spy.CountCalls("open"), 0);
  QCOMPARE(run.spy.CountCalls("acl"), 0);  // no access list for a lent spy
  // The lent spy no longer reports to the dialog that has gone.
  QVERIFY(run.spy.KeptCallback(lent) != &SourceMailbox::Callback);
  run.spy.Hear(3, "Three");
}

void SelectorDialogTest::ownSpyListensOnTheStoredCardAndIsClosed() {
  // A stored address no card has any more, with the name of a card that has another address now.
  StoreCard(Ip(10, 9, 9, 9), "eth1");
  ModalRun run;
  const char access_list[] = "10-20";
  const SelectorOption options[] = {
      {SELECTOR_OPT_ACCESS_LIST, reinterpret_cast<uintptr_t>(access_list)}, {0, 0}};
  run.Run(nullptr, options, [](SelectorDialog& dialog) { dialog.reject(); });
  const std::vector<FakeSpy::Call> calls = run.spy.Calls();
  QVERIFY(calls.size() >= 3);
  QCOMPARE(calls[0].what, std::string("open"));
  QCOMPARE(calls[0].address, Ip(192, 168, 5, 9));
  QCOMPARE(run.spy.PortOf(calls[0].handle), uint16_t{4001});
  QCOMPARE(calls[1].what, std::string("acl"));
  QCOMPARE(calls[1].text, std::string("10-20"));
  QCOMPARE(calls.back().what, std::string("close"));
  QVERIFY(!run.spy.IsOpen(calls[0].handle));
}

void SelectorDialogTest::spyThatCannotOpen_data() {
  QTest::addColumn<bool>("selectionMode");
  QTest::addColumn<bool>("pressOk");
  QTest::addColumn<bool>("shown");
  QTest::addColumn<int>("result");
  QTest::newRow("selection mode: no dialog") << true << false << false << 1003;
  QTest::newRow("standalone, OK: the code") << false << true << true << 1003;
  QTest::newRow("standalone, Cancel") << false << false << true << SELECTOR_CANCELLED;
}

void SelectorDialogTest::spyThatCannotOpen() {
  QFETCH(bool, selectionMode);
  QFETCH(bool, pressOk);
  QFETCH(bool, shown);
  QFETCH(int, result);
  ModalRun run;
  run.spy.open_result = SPY_E_ENDPOINT;
  SelectorSelection selection{};
  int rows = -1;
  const int got =
      run.Run(selectionMode ? &selection : nullptr, nullptr, [&](SelectorDialog& dialog) {
        rows = dialog.findChild<ChannelList*>("1000")->rowCount();
        if (pressOk) {
          QTest::keyClick(dialog.findChild<ChannelList*>("1000"), Qt::Key_Return);
        } else {
          dialog.reject();
        }
      });
  QCOMPARE(run.shown, shown);
  QCOMPARE(got, result);
  if (shown) QCOMPARE(rows, 0);
  QCOMPARE(run.spy.CountCalls("close"), 0);
}

void SelectorDialogTest::accessListFailureShowsTheBoxAndNoDialog() {
  ModalRun run;
  run.spy.access_list_result = SPY_E_ACCESS_FILE;
  const char access_list[] = "file:///missing/acl.txt";
  const SelectorOption options[] = {
      {SELECTOR_OPT_ACCESS_LIST, reinterpret_cast<uintptr_t>(access_list)}, {0, 0}};
  int result = 0;
  const auto boxes = CaptureBoxes([&] { result = run.Run(nullptr, options); });
  QCOMPARE(result, 1006);
  QVERIFY(!run.shown);
  QCOMPARE(boxes.size(), size_t{1});
  QCOMPARE(boxes[0].first, std::string("Access list load failed"));
  QCOMPARE(boxes[0].second, std::string("File:\tfile:///missing/acl.txt\nError:\t1006\n\n"
                                        "Please contact network administrator."));
  QCOMPARE(run.spy.CountCalls("close"), 1);
}

// ---------------------------------------------------------------------------------------------
// The channel list.

void SelectorDialogTest::reportedSourcesBecomeRowsOnce() {
  Harness h(false);
  h.spy.Hear(20, "Twenty");
  h.Open();
  QCOMPARE(ChannelsOf(h.List()), std::vector<int32_t>{20});

  // Heard later, on another thread: appended, not sorted in.
  std::thread listener([&] {
    h.spy.Hear(5, "Five");
    h.spy.Hear(20, "Twenty renamed");
  });
  listener.join();
  QTRY_COMPARE(h.List()->rowCount(), 2);
  QCOMPARE(ChannelsOf(h.List()), (std::vector<int32_t>{20, 5}));
  QCOMPARE(ColumnOf(h.List(), kColumnChannel), (std::vector<std::string>{"   20", "    5"}));
  QCOMPARE(ColumnOf(h.List(), kColumnName), (std::vector<std::string>{"Twenty renamed", "Five"}));
  // Preset 5 holds channel 5 by default: its button shows the name.
  QCOMPARE(ColumnOf(h.List(), kColumnPreset), (std::vector<std::string>{"", "5 "}));
  QCOMPARE(h.Control<QPushButton>(1005)->text(), QString("Five"));

  // A refill sorts by the sort column.
  QTest::mouseClick(h.Control<QPushButton>(kIdRefresh), Qt::LeftButton);
  QCOMPARE(ChannelsOf(h.List()), (std::vector<int32_t>{5, 20}));
}

void SelectorDialogTest::filterEntriesFollowThePrefixRule() {
  StoreCategory(1, "Newsroom");
  StoreCategory(2, "News");
  StoreCategory(3, "music");
  Harness h(false);
  h.Open();
  QCOMPARE(EntriesOf(h.Filter()), (QStringList{"(All)", "(Unasigned)", "music", "Newsroom"}));
  QCOMPARE(h.Filter()->currentText(), QString("(All)"));
}

void SelectorDialogTest::filterSelectsRows_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<std::vector<int32_t>>("channels");
  QTest::newRow("all") << "(All)" << std::vector<int32_t>{1, 2, 3, 4, 5};
  QTest::newRow("unassigned") << "(Unasigned)" << std::vector<int32_t>{2};
  QTest::newRow("case does not count") << "News" << std::vector<int32_t>{1, 5};
  QTest::newRow("one category") << "Newsroom" << std::vector<int32_t>{4};
}

void SelectorDialogTest::filterSelectsRows() {
  QFETCH(QString, filter);
  QFETCH(std::vector<int32_t>, channels);
  StoreCategory(1, "News");
  StoreCategory(3, "Music");
  StoreCategory(4, "Newsroom");
  StoreCategory(5, "news");
  Harness h(false);
  for (int channel = 1; channel <= 5; ++channel) h.spy.Hear(channel, "Channel");
  h.Open();
  h.ChooseFilter(filter);
  QCOMPARE(ChannelsOf(h.List()), channels);
}

void SelectorDialogTest::rowThatStopsMatchingStaysUntilRefill() {
  StoreCategory(3, "Music");
  Harness h(false);
  h.spy.Hear(3, "Three");
  h.Open();
  h.ChooseFilter("Music");
  h.EditCell(3, kColumnCategory, "Talk");
  QCOMPARE(ChannelsOf(h.List()), std::vector<int32_t>{3});
  QCOMPARE(h.List()->cellText(0, kColumnCategory), std::string("Talk"));
  QTest::mouseClick(h.Control<QPushButton>(kIdRefresh), Qt::LeftButton);
  QCOMPARE(h.List()->rowCount(), 0);
}

void SelectorDialogTest::sourceOutsideTheFilterIsNotAdded() {
  StoreCategory(9, "Music");
  StoreCategory(10, "Talk");
  Harness h(false);
  h.Open();
  h.ChooseFilter("Talk");
  h.spy.Hear(9, "Nine");
  h.spy.Hear(10, "Ten");
  QTRY_COMPARE(h.List()->rowCount(), 1);
  QCOMPARE(ChannelsOf(h.List()), std::vector<int32_t>{10});
}

void SelectorDialogTest::sortByNameIsByBytes() {
  Harness h(false);
  h.spy.Hear(1, "B");
  h.spy.Hear(2, "a");
  h.spy.Hear(3, "C");
  h.Open();
  ChannelList* list = h.List();
  list->selectRow(list->findRow(2));
  auto click_heading = [list](int column) {
    QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {},
                      QPoint(list->header()->sectionViewportPosition(column) + 5, 5));
  };
  click_heading(kColumnName);
  QCOMPARE(ColumnOf(list, kColumnName), (std::vector<std::string>{"B", "C", "a"}));
  QCOMPARE(list->channelAt(list->selectedRow()), 2);  // the selection stays with its row
  QTest::mouseClick(h.Control<QPushButton>(kIdRefresh), Qt::LeftButton);
  QCOMPARE(ColumnOf(list, kColumnName), (std::vector<std::string>{"B", "C", "a"}));
  click_heading(kColumnChannel);
  QCOMPARE(ChannelsOf(list), (std::vector<int32_t>{1, 2, 3}));
}

void SelectorDialogTest::categoryEditStoresAndFeedsTheFilter() {
  StoreCategory(1, "Rock");
  Harness h(false);
  h.spy.Hear(1, "One");
  h.spy.Hear(2, "Two");
  h.Open();

  // The editor offers the categories shown.
  ClickCell(h.List(), h.List()->findRow(2), kColumnCategory);
  QCOMPARE(EntriesOf(h.Editor()), QStringList{"Rock"});
  QTest::keyClicks(h.Editor()->lineEdit(), "Jazz");
  QTest::keyClick(h.Editor()->lineEdit(), Qt::Key_Return);
  QVERIFY(h.dialog->isVisible());  // Enter ended the edit, not the dialog
  QCOMPARE(h.List()->cellText(h.List()->findRow(2), kColumnCategory), std::string("Jazz"));
  std::string stored;
  QVERIFY(ReadCategory(2, &stored));
  QCOMPARE(stored, std::string("Jazz"));
  QVERIFY(EntriesOf(h.Filter()).contains("Jazz"));

  // Choosing an entry from the editor's list, then clearing the category.
  ClickCell(h.List(), h.List()->findRow(2), kColumnCategory);
  ChooseInPopup(h.Editor(), "Rock");
  QTRY_VERIFY(!h.Editor()->isVisible());
  QVERIFY(ReadCategory(2, &stored));
  QCOMPARE(stored, std::string("Rock"));
  h.EditCell(1, kColumnCategory, "");
  QVERIFY(!ReadCategory(1, &stored));
  QCOMPARE(h.List()->cellText(h.List()->findRow(1), kColumnCategory), std::string(""));
}

void SelectorDialogTest::presetEdit_data() {
  QTest::addColumn<QString>("typed");  // null: the empty entry is chosen from the list
  QTest::addColumn<int>("preset");     // the preset that takes the channel, 0 for none
  QTest::newRow("3x") << "3x" << 3;
  QTest::newRow("8") << "8" << 8;
  QTest::newRow("9") << "9" << 0;
  QTest::newRow("0") << "0" << 0;
  QTest::newRow("empty entry") << QString() << 0;
}

void SelectorDialogTest::presetEdit() {
  QFETCH(QString, typed);
  QFETCH(int, preset);
  Harness h(false);
  h.spy.Hear(40, "Forty");
  h.Open();
  if (typed.isNull()) {
    ClickCell(h.List(), 0, kColumnPreset);
    QCOMPARE(EntriesOf(h.Editor()), (QStringList{"", "1", "2", "3", "4", "5", "6", "7", "8"}));
    ChooseInPopup(h.Editor(), "");
    QTRY_VERIFY(!h.Editor()->isVisible());
  } else {
    h.EditCell(40, kColumnPreset, typed);
  }
  Presets expected = kDefaultPresets;
  if (preset != 0) expected[preset - 1] = 40;
  QCOMPARE(h.state.presets, expected);
  Presets stored = kDefaultPresets;
  ReadPresets(stored);
  QCOMPARE(stored, expected);
  QCOMPARE(h.List()->cellText(0, kColumnPreset),
           preset != 0 ? std::to_string(preset) + " " : std::string());
}

void SelectorDialogTest::presetMovesFromOneChannelToAnother() {
  StorePreset(1, 17);  // preset 2 holds channel 17
  Harness h(false);
  h.spy.Hear(17, "Seventeen");
  h.spy.Hear(20, "A name of sixteen");
  h.Open();
  QCOMPARE(ColumnOf(h.List(), kColumnPreset), (std::vector<std::string>{"2 ", ""}));
  QCOMPARE(h.Control<QPushButton>(1002)->text(), QString("Seventeen"));

  h.EditCell(20, kColumnPreset, "2");
  QCOMPARE(ColumnOf(h.List(), kColumnPreset), (std::vector<std::string>{"", "2 "}));
  Presets stored = kDefaultPresets;
  ReadPresets(stored);
  QCOMPARE(stored[1], 20);
  // Recomputed captions are cut to 15 characters.
  QCOMPARE(h.Control<QPushButton>(1002)->text(), QString("A name of sixte"));
}

// ---------------------------------------------------------------------------------------------
// The network card.

void SelectorDialogTest::cardMenuListsAddressesAndReopensTheSpy() {
  Harness h(false, Ip(10, 1, 2, 3));
  h.spy.Hear(6, "Six");
  h.Open();
  QLabel* label = h.Control<QLabel>(kIdCardLabel);
  QCOMPARE(label->text(), QString("10.1.2.3"));
  SourceSpy* first = h.state.spy;

  QStringList texts;
  QList<bool> checked;
  WhenMenuOpens([&](QMenu* menu) {
    for (QAction* action : menu->actions()) {
      texts << action->text();
      checked << action->isChecked();
    }
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[1]).center());
  });
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));

  QCOMPARE(texts, (QStringList{"10.1.2.3\tStudio network", "192.168.5.9\teth1"}));
  QCOMPARE(checked, (QList<bool>{true, false}));
  QVERIFY(!h.spy.IsOpen(first));
  QVERIFY(h.spy.IsOpen(h.state.spy));
  uint32_t address = 0;
  QCOMPARE(h.spy.GetInterface(h.state.spy, &address), SPY_OK);
  QCOMPARE(address, Ip(192, 168, 5, 9));
  QCOMPARE(h.spy.PortOf(h.state.spy), uint16_t{4001});
  const SelectorSettings settings = ReadSettings();
  QCOMPARE(settings.local_address, Ip(192, 168, 5, 9));
  QCOMPARE(settings.card_name, std::string("eth1"));
  QCOMPARE(label->text(), QString("192.168.5.9"));
  QCOMPARE(ChannelsOf(h.List()), std::vector<int32_t>{6});  // refilled from the new spy

  // Choosing the current card again reopens the spy all the same.
  SourceSpy* second = h.state.spy;
  WhenMenuOpens([](QMenu* menu) {
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[1]).center());
  });
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
  QVERIFY(!h.spy.IsOpen(second));
  QVERIFY(h.spy.IsOpen(h.state.spy));
  QCOMPARE(h.spy.CountCalls("open"), 3);
}

void SelectorDialogTest::loopbackOnlyMachineHasNoMenu() {
  Harness h(false);
  h.cards = {{"lo", "lo", {{Ip(127, 0, 0, 1), Ip(255, 0, 0, 0)}}}};
  h.Open();
  bool menu_opened = false;
  WhenMenuOpens([&](QMenu*) { menu_opened = true; });
  QTest::mouseClick(h.Control<QLabel>(kIdCardLabel), Qt::LeftButton, {}, QPoint(2, 2));
  QTest::qWait(20);
  QVERIFY(!menu_opened);
  QCOMPARE(h.spy.CountCalls("open"), 1);
  QCOMPARE(h.Control<QLabel>(kIdCardLabel)->text(), QString("0.0.0.0"));
}

void SelectorDialogTest::accessListFailureAfterCardChangeKeepsTheDialog() {
  Harness h(false);
  h.state.options.access_list = "file:///missing";
  h.Open();
  h.spy.access_list_result = SPY_E_ACCESS_FILE;
  const auto boxes = CaptureBoxes([&] {
    WhenMenuOpens([](QMenu* menu) {
      QTest::mouseClick(menu, Qt::LeftButton, {},
                        menu->actionGeometry(menu->actions()[0]).center());
    });
    QTest::mouseClick(h.Control<QLabel>(kIdCardLabel), Qt::LeftButton, {}, QPoint(2, 2));
  });
  QCOMPARE(boxes.size(), size_t{1});
  QCOMPARE(boxes[0].first, std::string("Access list load failed"));
  QVERIFY(h.dialog->isVisible());
  QVERIFY(h.spy.IsOpen(h.state.spy));
  QCOMPARE(h.Control<QLabel>(kIdCardLabel)->text(), QString("10.1.2.3"));
}

void SelectorDialogTest::lentSpyIsDetachedNotClosedWhenTheCardChanges() {
  Harness h(true);
  SourceSpy* lent = h.spy.OpenForHost(Ip(10, 1, 2, 3));
  h.state.spy = lent;
  h.state.spy_lent = true;
  h.dialog = std::make_unique<SelectorDialog>(&h.state, h.Environment());
  h.dialog->show();
  QVERIFY(h.spy.KeptCallback(lent) == &SourceMailbox::Callback);

  WhenMenuOpens([](QMenu* menu) {
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[1]).center());
  });
  QTest::mouseClick(h.Control<QLabel>(kIdCardLabel), Qt::LeftButton, {}, QPoint(2, 2));
  QVERIFY(h.spy.IsOpen(lent));
  QVERIFY(h.spy.KeptCallback(lent) != &SourceMailbox::Callback);
  SourceSpy* own = h.state.spy;
  QVERIFY(own != lent);
  QVERIFY(!h.state.spy_lent);
  h.dialog.reset();
  QVERIFY(!h.spy.IsOpen(own));  // the dialog's own spy is closed with it
  QVERIFY(h.spy.IsOpen(lent));
}

// ---------------------------------------------------------------------------------------------
// Hand-over from the spy's thread.

// The spy reports while holding its lock, and a refill enumerates under the same lock. A
// hand-over in which the reporting thread waits for the dialog's thread would block both here.
void SelectorDialogTest::refreshWhileTheSpyFloodsNeverBlocks() {
  // Enough sources that a refill takes a while; few enough that the refills the test waits for
  // fit its time bound also in a sanitizer build on a loaded machine.
  constexpr int kSources = 500;
  constexpr int kMinRefreshes = 20;
  Harness h(false);
  h.Open();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::atomic<int> refreshes{0};
  std::atomic<bool> done{false};
  // The spy keeps reporting until every source was heard and the dialog has refilled a number of
  // times meanwhile, so the two always overlap.
  std::thread flood([&] {
    for (int i = 0;
         (i < kSources || refreshes < kMinRefreshes) && std::chrono::steady_clock::now() < deadline;
         ++i) {
      h.spy.Hear(i % kSources + 1, i < kSources ? "Flood" : "Flood again");
    }
    done = true;
  });
  while (!done) {
    QTest::mouseClick(h.Control<QPushButton>(kIdRefresh), Qt::LeftButton);
    QCoreApplication::processEvents();
    ++refreshes;
  }
  flood.join();
  QVERIFY(refreshes >= kMinRefreshes);
  QTRY_COMPARE(h.List()->rowCount(), kSources);
  QTest::mouseClick(h.Control<QPushButton>(kIdRefresh), Qt::LeftButton);
  QCOMPARE(h.List()->rowCount(), kSources);
}

// ---------------------------------------------------------------------------------------------
// Layout, painting and resources.

void SelectorDialogTest::controlsSitWhereTheTemplatePlacesThem() {
  Harness h(false);
  h.Open();
  const DialogBaseUnits base = h.dialog->baseUnits();
  QVERIFY(base.x > 0 && base.y > 0);
  QCOMPARE(h.dialog->size(), QSize(DialogUnitsToPixelsX(kDialogWidthDu, base),
                                   DialogUnitsToPixelsY(kDialogHeightDu, base)));
  for (const ControlTemplate& control : DialogControls()) {
    QWidget* widget = h.Control<QWidget>(control.id);
    QVERIFY2(widget != nullptr, qPrintable(QString::number(control.id)));
    const PixelRect want = ControlRect(control, base);
    // The trackbar sits inside its sunken edge; combo boxes keep their own height.
    const QRect got = control.kind == ControlKind::kTrackbar ? widget->parentWidget()->geometry()
                                                             : widget->geometry();
    QCOMPARE(got.x(), want.x);
    QCOMPARE(got.y(), want.y);
    QCOMPARE(got.width(), want.width);
    if (control.kind != ControlKind::kDropList && control.kind != ControlKind::kDropDown) {
      QCOMPARE(got.height(), want.height);
    }
    if (*control.text != '\0' && control.kind != ControlKind::kList &&
        control.kind != ControlKind::kTrackbar && control.id != kIdCardLabel) {
      const QVariant text = widget->property("text");
      QCOMPARE(text.toString(), QString::fromUtf8(control.text));
    }
  }
}

void SelectorDialogTest::backgroundRepeatsTheHeaderEdgeAndFillsBelow() {
  Harness h(false);
  h.Open();
  const QImage shot = h.dialog->grab().toImage();
  const QImage header = HeaderImage().convertToFormat(QImage::Format_RGB32);
  QVERIFY(shot.width() > kHeaderWidth);
  constexpr int kRow = 2;  // above every control
  QCOMPARE(shot.pixel(0, kRow), header.pixel(0, kRow));
  for (int x = kHeaderWidth; x < shot.width(); ++x) {
    const int source = kHeaderWidth - 32 + (x - kHeaderWidth) % 32;
    QCOMPARE(shot.pixel(x, kRow), header.pixel(source, kRow));
  }
  // Left of the list, below the header: the header's bottom-left colour.
  QCOMPARE(shot.pixelColor(2, kHeaderHeight + 20), header.pixelColor(0, kHeaderHeight - 1));
}

void SelectorDialogTest::ownerDrawnButtonShowsItsCellTransparently() {
  Harness h(true);
  h.Open();
  QPushButton* take = h.Control<QPushButton>(kIdTake);
  const QImage shot = take->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage cell = ButtonStrip()
                          .convertToFormat(QImage::Format_RGB32)
                          .copy(kCellTake * kButtonCellSize, 0, kButtonCellSize, kButtonCellSize);
  const QRgb transparent = ButtonStrip().pixel(0, 0);
  int opaque = 0;
  for (int y = 0; y < kButtonCellSize; ++y) {
    for (int x = 0; x < kButtonCellSize; ++x) {
      // The cell sits 2 pixels inside the 2-pixel frame.
      const QRgb drawn = shot.pixel(4 + x, 4 + y);
      QVERIFY(drawn != transparent);
      if (cell.pixel(x, y) != transparent) {
        QCOMPARE(drawn, cell.pixel(x, y));
        ++opaque;
      }
    }
  }
  QVERIFY(opaque > 10);
}

void SelectorDialogTest::artworkHasItsSizes() {
  const QImage header = HeaderImage();
  QCOMPARE(header.size(), QSize(kHeaderWidth, kHeaderHeight));
  for (int x = 0; x < header.width(); ++x) {
    QCOMPARE(header.pixel(x, kHeaderHeight - 1), header.pixel(0, kHeaderHeight - 1));
  }
  const QImage strip = ButtonStrip();
  QCOMPARE(strip.size(), QSize(kButtonCellSize * kButtonCellCount, kButtonCellSize));
  QVERIFY(strip.colorCount() > 0 && strip.colorCount() <= 16);
  QCOMPARE(QColor(strip.pixel(0, 0)), QColor(Qt::cyan));
  QCOMPARE(ResourceString(kStringChannel), QString("Channel"));
  QCOMPARE(ResourceString(kStringPreset), QString("Preset"));
  QCOMPARE(ResourceString(99), QString());
}

void SelectorDialogTest::statusLineCountsTheChannels() {
  Harness h(false);
  h.spy.Hear(1, "One");
  h.spy.Hear(2, "Two");
  h.Open();
  QLabel* status = h.Control<QLabel>(kIdStatus);
  QCOMPARE(status->text(), QString(" Initializing..."));
  QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString(" Ready... channels found: 2"), 3000);
}

void SelectorDialogTest::screenshotOfTheStandaloneDialog() {
  StoreCategory(101, "News");
  StoreCategory(102, "Music");
  StoreCategory(104, "News");
  StorePreset(0, 102);
  Harness h(false, Ip(10, 1, 2, 3));
  const char* names[] = {"Newsroom 1", "Lounge music", "Studio B talk", "Traffic desk",
                         "Sports live"};
  for (int i = 0; i < 5; ++i) h.spy.Hear(101 + i, names[i]);
  h.Open();
  h.List()->selectRow(1);
  QTRY_COMPARE_WITH_TIMEOUT(h.Control<QLabel>(kIdStatus)->text(),
                            QString(" Ready... channels found: 5"), 3000);
  const QPixmap shot = h.dialog->grab();
  const QString dir = QStringLiteral(VQSCW_SCREENSHOT_DIR);
  QVERIFY(QDir().mkpath(dir));
  const QString path = dir + "/selector-standalone.png";
  QVERIFY(shot.save(path, "PNG"));
  QCOMPARE(QImage(path).size(), h.dialog->size());
  std::printf("screenshot: %s\n", qPrintable(path));
}

VQSCW_QTEST_MAIN(SelectorDialogTest)
#include "selector_dialog_test.moc"
