// The selector dialog as a person uses it, off-screen, at the scale the test runs at (CTest runs it
// at 1 and at 2 device pixels per point): names, tooltips and roles for screen readers, keyboard
// focus that can be seen on every control, the card label worked from the keyboard, a warning for
// a card the machine does not have, type-ahead in the channel list, the volume trackbar and the
// level meter within their places, and the artwork drawn for the screen's scale.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fake_preview.h"
#include "tests/support/fake_spy.h"
#include "tests/support/qtest_main.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/selector/artwork.h"
#include "vqscwlib/selector/card_label.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/compact_slider.h"
#include "vqscwlib/selector/control_help.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/preview_panel.h"
#include "vqscwlib/selector/selector_dialog.h"
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

const char* const kNames[] = {"Newsroom 1", "Lounge music", "Studio B talk", "Traffic desk",
                              "Sports live"};

// A dialog on a state of its own, fed by a fake spy with channels 101 to 105 (or none) and
// previewing through a fake preview, shown and active without a modal loop.
class Harness {
 public:
  explicit Harness(bool selection_mode = false, uint32_t local_address = Ip(10, 1, 2, 3),
                   bool channels = true) {
    state.selection = selection_mode ? &selection : nullptr;
    state.local_address = local_address;
    if (channels) {
      for (int i = 0; i < 5; ++i) spy.Hear(101 + i, kNames[i]);
    }
  }

  // `spy_opens`: whether the dialog gets a spy (a spy that could not be opened leaves none).
  void Open(bool spy_opens = true) {
    if (spy_opens) {
      SourceSpy* handle = nullptr;
      spy.Open(&handle, state.local_address, kTerminalPort);
      state.spy = handle;
    }
    dialog = std::make_unique<SelectorDialog>(
        &state,
        SelectorEnvironment{&spy, [this] { return std::optional<CardList>(cards); }, &preview});
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
  }

  template <typename T = QWidget>
  T* Control(int id) {
    return dialog->findChild<T*>(QString::number(id));
  }
  ChannelList* List() { return Control<ChannelList>(kIdList); }
  CardLabel* Card() { return Control<CardLabel>(kIdCardLabel); }
  CompactSlider* Volume() { return Control<CompactSlider>(kIdVolume); }
  QRect InDialog(const QWidget* widget, const QRect& rect) const {
    return QRect(widget->mapTo(dialog.get(), rect.topLeft()), rect.size());
  }

  FakeSpy spy;
  FakePreview preview;
  CardList cards = TestCards();
  SelectorSelection selection{};
  SelectorState state;
  std::unique_ptr<SelectorDialog> dialog;
};

QAccessibleInterface* ViewOf(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget);
}

// Presses Tab on the focused widget; gives the widget that has the focus then.
QWidget* Tab() {
  QWidget* from = QApplication::focusWidget();
  if (from == nullptr) return nullptr;
  QTest::keyClick(from, Qt::Key_Tab);
  return QApplication::focusWidget();
}

// Runs `on_menu` with the next popup menu once it is open, then closes the menu if it is still
// open.
void WhenMenuOpens(std::function<void(QMenu*)> on_menu) {
  QTimer::singleShot(0, [on_menu] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    on_menu(menu);
    if (menu->isVisible()) menu->close();
  });
}

// The colour of logical pixel `point` in `shot`, a grab at any scale: that of the first device
// pixel it covers.
QColor LogicalPixel(const QImage& shot, QPoint point) {
  const int ratio = qRound(shot.devicePixelRatio());
  return shot.pixelColor(point * ratio);
}

// Whether one of the device pixels that logical pixel `point` covers in `shot` has `colour`
// (lines one device pixel wide cover only part of a point at scales above 1).
bool Shows(const QImage& shot, QPoint point, const QColor& colour) {
  const int ratio = qRound(shot.devicePixelRatio());
  for (int dy = 0; dy < ratio; ++dy) {
    for (int dx = 0; dx < ratio; ++dx) {
      if (shot.pixel(point.x() * ratio + dx, point.y() * ratio + dy) == colour.rgb()) return true;
    }
  }
  return false;
}

QString SaveScreenshot(QWidget& widget, const QString& name) {
  const QPixmap shot = widget.grab();
  const QString dir = QStringLiteral(VQSCW_SCREENSHOT_DIR);
  if (!QDir().mkpath(dir)) return {};
  const qreal ratio = shot.devicePixelRatio();
  const QString suffix = ratio > 1 ? QString("@%1x").arg(ratio) : QString();
  const QString path = dir + "/" + name + suffix + ".png";
  if (!shot.save(path, "PNG")) return {};
  std::printf("screenshot: %s\n", qPrintable(path));
  return path;
}

}  // namespace

class SelectorUsabilityTest : public QObject {
  Q_OBJECT

 private slots:
  void init();

  // Screen readers.
  void everyControlHasANameAndATooltip_data();
  void everyControlHasANameAndATooltip();
  void meterAndSliderAreToldApart();
  void cardLabelAndStatusLineSayWhatTheyShow();
  void presetAndPreviewNamesFollowWhatTheButtonsDo();

  // The keyboard.
  void keyboardFocusIsVisibleOnEveryControl_data();
  void keyboardFocusIsVisibleOnEveryControl();
  void presetOneWearsNoFrameOfItsOwn();
  void cardLabelTakesFocusByTabAndOpensItsMenuByKey_data();
  void cardLabelTakesFocusByTabAndOpensItsMenuByKey();
  void typeAheadSelectsARow();

  // The card that is not there.
  void cardLabelWarnsWhenNoChannelCanBeHeard_data();
  void cardLabelWarnsWhenNoChannelCanBeHeard();

  // Places and painting.
  void sliderAndItsHandleLieInsideTheDialog();
  void sliderHandleFollowsThePointer();
  void meterKeepsTheTemplatesGapToThePreviewButton();
  void vectorArtworkDrawsTheBitmapsPictures();
  void buttonsAndHeaderAreDrawnForTheScreensScale();
  void screenshots();

 private:
  QTemporaryDir temp_;
  int registry_serial_ = 0;
};

void SelectorUsabilityTest::init() {
  // Every test starts with an empty registry of its own.
  const QString file = temp_.filePath(QString("registry-%1.db").arg(++registry_serial_));
  qputenv("VQSCW_REGISTRY", file.toUtf8());
}

// ---------------------------------------------------------------------------------------------
// Screen readers.

void SelectorUsabilityTest::everyControlHasANameAndATooltip_data() {
  QTest::addColumn<bool>("selectionMode");
  QTest::newRow("standalone") << false;
  QTest::newRow("selection") << true;
}

void SelectorUsabilityTest::everyControlHasANameAndATooltip() {
  QFETCH(bool, selectionMode);
  Harness h(selectionMode);
  h.Open();
  std::set<QString> names;
  for (const ControlTemplate& control : DialogControls()) {
    const QString id = QString::number(control.id);
    QWidget* widget = h.Control(control.id);
    QVERIFY2(widget != nullptr, qPrintable(id));
    QAccessibleInterface* view = ViewOf(widget);
    QVERIFY2(view != nullptr, qPrintable(id));
    const QString name = view->text(QAccessible::Name);
    QVERIFY2(!name.isEmpty(), qPrintable(id));
    QVERIFY2(!widget->toolTip().isEmpty(), qPrintable(id));
    // A screen reader tells each control by its name.
    QVERIFY2(names.insert(name).second, qPrintable(id + ": " + name));
    // A description says more than the name, from the tooltip where there is no other.
    QVERIFY2(!view->text(QAccessible::Description).isEmpty(), qPrintable(id));
  }
  // The labels lead to the controls they name.
  QCOMPARE(h.Control<QLabel>(kIdFilterLabel)->buddy(), h.Control(kIdFilter));
  QCOMPARE(h.Control<QLabel>(kIdCardTitle)->buddy(), h.Control(kIdCardLabel));
}

void SelectorUsabilityTest::meterAndSliderAreToldApart() {
  Harness h;
  h.Open();
  QAccessibleInterface* meter = ViewOf(h.Control(kIdMeter));
  QAccessibleInterface* volume = ViewOf(h.Volume());
  QCOMPARE(meter->role(), QAccessible::ProgressBar);
  QCOMPARE(volume->role(), QAccessible::Slider);
  QVERIFY(meter->text(QAccessible::Name) != volume->text(QAccessible::Name));
  QVERIFY(meter->text(QAccessible::Description) != volume->text(QAccessible::Description));
  // The meter only shows; the slider is worked.
  QVERIFY(meter->state().readOnly);
  QVERIFY(!meter->state().disabled);
  QVERIFY(meter->state().focusable == false);
  QVERIFY(volume->state().focusable);

  QAccessibleValueInterface* level = meter->valueInterface();
  QVERIFY(level != nullptr);
  QCOMPARE(level->minimumValue().toInt(), 0);
  QCOMPARE(level->maximumValue().toInt(), 10);
  QCOMPARE(level->currentValue().toInt(), 0);
  QCOMPARE(meter->text(QAccessible::Value), QString("Nothing playing"));

  // While a channel plays, the value is what the meter shows: -139 lights all ten segments,
  // -330 lights four.
  h.preview.left = -139;
  h.preview.right = -330;
  h.List()->selectRow(0);
  QTest::mouseClick(h.Control<QPushButton>(kIdPreview), Qt::LeftButton);
  h.Control(kIdMeter)->repaint();
  QCOMPARE(level->currentValue().toInt(), 10);
  QCOMPARE(meter->text(QAccessible::Value), QString("Left 10 of 10, right 4 of 10"));
  const int queries = h.preview.level_queries;
  (void)meter->text(QAccessible::Value);
  QCOMPARE(h.preview.level_queries, queries);  // reading the value leaves the peaks alone

  QAccessibleValueInterface* loudness = volume->valueInterface();
  QVERIFY(loudness != nullptr);
  h.Volume()->setValue(40);
  QCOMPARE(loudness->currentValue().toInt(), 40);
  QCOMPARE(loudness->maximumValue().toInt(), 100);
}

void SelectorUsabilityTest::cardLabelAndStatusLineSayWhatTheyShow() {
  Harness h;
  h.Open();
  QAccessibleInterface* card = ViewOf(h.Card());
  QCOMPARE(card->role(), QAccessible::ButtonMenu);
  QCOMPARE(card->text(QAccessible::Name), QString("Network card address"));
  QCOMPARE(card->text(QAccessible::Value), QString("10.1.2.3"));
  QAccessibleActionInterface* actions = card->actionInterface();
  QVERIFY(actions != nullptr);
  QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
  bool opened = false;
  WhenMenuOpens([&](QMenu*) { opened = true; });
  actions->doAction(QAccessibleActionInterface::showMenuAction());
  QVERIFY(opened);

  QLabel* status = h.Control<QLabel>(kIdStatus);
  QAccessibleInterface* line = ViewOf(status);
  QCOMPARE(line->role(), QAccessible::StatusBar);
  QCOMPARE(line->text(QAccessible::Name), QString("Status"));
  QTRY_COMPARE_WITH_TIMEOUT(line->text(QAccessible::Value), QString("Ready... channels found: 5"),
                            3000);
  // The idle tooltip stands until something else sets one, which the line then shows.
  const QString idle = status->toolTip();
  QVERIFY(!idle.isEmpty());
  QCOMPARE(line->text(QAccessible::Description), idle);
  status->setToolTip("Stream details");
  QCOMPARE(line->text(QAccessible::Description), QString("Stream details"));
}

void SelectorUsabilityTest::presetAndPreviewNamesFollowWhatTheButtonsDo() {
  StorePreset(0, 102);  // preset 1 holds "Lounge music"
  Harness h;
  h.Open();
  QCOMPARE(ViewOf(h.Control(kIdPreset1))->text(QAccessible::Name),
           QString("Preset 1, Lounge music"));
  QCOMPARE(ViewOf(h.Control(kIdPreset1 + 1))->text(QAccessible::Name), QString("Preset 2"));

  QAccessibleInterface* preview = ViewOf(h.Control(kIdPreview));
  QCOMPARE(preview->text(QAccessible::Name), QString("Preview"));
  QTest::mouseClick(h.Control<QPushButton>(kIdPreset1), Qt::LeftButton);
  QCOMPARE(h.Control<QPushButton>(kIdPreview)->text(), QString("Stop"));
  QCOMPARE(preview->text(QAccessible::Name), QString("Stop preview"));
  QTest::mouseClick(h.Control<QPushButton>(kIdPreview), Qt::LeftButton);
  QCOMPARE(preview->text(QAccessible::Name), QString("Preview"));

  // A start that stops short shows a step on the button; pressing it still stops.
  h.preview.last_step = 2;
  QTest::mouseClick(h.Control<QPushButton>(kIdPreset1), Qt::LeftButton);
  QCOMPARE(h.Control<QPushButton>(kIdPreview)->text(), QString("_>__"));
  QCOMPARE(preview->text(QAccessible::Name), QString("Stop preview"));
}

// ---------------------------------------------------------------------------------------------
// The keyboard.

void SelectorUsabilityTest::keyboardFocusIsVisibleOnEveryControl_data() {
  QTest::addColumn<bool>("selectionMode");
  QTest::addColumn<bool>("channels");
  QTest::addColumn<QList<int>>("order");
  const QList<int> standalone = {kIdFilter, kIdCardLabel, kIdRefresh, kIdList,  1001,
                                 1002,      1003,         1004,       1005,     1006,
                                 1007,      1008,         kIdPreview, kIdVolume};
  QTest::newRow("standalone") << false << true << standalone;
  QTest::newRow("standalone, no channels") << false << false << standalone;
  QTest::newRow("selection") << true << true
                             << QList<int>{kIdFilter,  kIdCardLabel, kIdRefresh, kIdList,
                                           kIdPreview, kIdTake,      kIdVolume};
}

// Tabs round the dialog twice: each control's look with the focus must differ from its look
// without it.
void SelectorUsabilityTest::keyboardFocusIsVisibleOnEveryControl() {
  QFETCH(bool, selectionMode);
  QFETCH(bool, channels);
  QFETCH(QList<int>, order);
  Harness h(selectionMode, Ip(10, 1, 2, 3), channels);
  h.Open();
  if (channels) h.List()->selectRow(1);  // a selected row is no focus mark
  h.Control(kIdFilter)->setFocus(Qt::OtherFocusReason);
  std::map<int, QImage> focused;
  std::map<int, QImage> unfocused;
  QList<int> visited;
  QWidget* previous = h.Control(kIdFilter);
  for (int step = 0; step < 2 * order.size(); ++step) {
    QWidget* now = Tab();
    QVERIFY(now != nullptr && now != previous);
    const int id = now->objectName().toInt();
    if (step >= order.size()) visited << id;  // the second round starts on the first control
    unfocused[previous->objectName().toInt()] = previous->grab().toImage();
    focused[id] = now->grab().toImage();
    previous = now;
  }
  // The first Tab left the filter: the round is the order shifted by one.
  QList<int> expected = order.mid(1) + order.mid(0, 1);
  QCOMPARE(visited, expected);
  for (int id : order) {
    QVERIFY2(focused.count(id) && unfocused.count(id), qPrintable(QString::number(id)));
    QVERIFY2(focused[id] != unfocused[id], qPrintable(QString::number(id)));
  }
}

void SelectorUsabilityTest::presetOneWearsNoFrameOfItsOwn() {
  Harness h;
  h.Open();
  h.List()->setFocus(Qt::OtherFocusReason);
  // Presets 1 and 2 are alike but for their text: their edges look the same.
  QPushButton* one = h.Control<QPushButton>(kIdPreset1);
  QPushButton* two = h.Control<QPushButton>(kIdPreset1 + 1);
  QCOMPARE(one->size(), two->size());
  QVERIFY(!one->isDefault());
  const QImage a = one->grab().toImage();
  const QImage b = two->grab().toImage();
  for (int x = 0; x < a.width(); ++x) QCOMPARE(a.pixel(x, 0), b.pixel(x, 0));
  for (int y = 0; y < a.height(); ++y) QCOMPARE(a.pixel(0, y), b.pixel(0, y));
  QVERIFY(h.Control<QPushButton>(kIdTake)->isDefault());
}

void SelectorUsabilityTest::cardLabelTakesFocusByTabAndOpensItsMenuByKey_data() {
  QTest::addColumn<int>("key");
  QTest::newRow("space") << int(Qt::Key_Space);
  QTest::newRow("return") << int(Qt::Key_Return);
  QTest::newRow("enter") << int(Qt::Key_Enter);
}

void SelectorUsabilityTest::cardLabelTakesFocusByTabAndOpensItsMenuByKey() {
  QFETCH(int, key);
  Harness h;
  h.Open();
  h.Control(kIdFilter)->setFocus(Qt::OtherFocusReason);
  QCOMPARE(Tab(), static_cast<QWidget*>(h.Card()));

  QString active;
  QStringList texts;
  WhenMenuOpens([&](QMenu* menu) {
    for (QAction* action : menu->actions()) texts << action->text();
    if (menu->activeAction() != nullptr) active = menu->activeAction()->text();
    // The arrows move from the current card; Return takes the one reached.
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QTest::keyClick(h.Card(), static_cast<Qt::Key>(key),
                  key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
  QCOMPARE(texts, (QStringList{"10.1.2.3\tStudio network", "192.168.5.9\teth1"}));
  QCOMPARE(active, QString("10.1.2.3\tStudio network"));
  QCOMPARE(h.Card()->text(), QString("192.168.5.9"));
  QCOMPARE(ReadSettings().card_name, std::string("eth1"));
  QVERIFY(h.dialog->isVisible());  // Return in the menu is no OK for the dialog
  QCOMPARE(h.dialog->focusWidget(), static_cast<QWidget*>(h.Card()));
}

void SelectorUsabilityTest::typeAheadSelectsARow() {
  FakeClock clock;
  const uint32_t apart = static_cast<uint32_t>(QApplication::keyboardInputInterval()) + 1;
  Harness h;
  h.spy.Hear(10, "Talkback");
  h.Open();
  ChannelList* list = h.List();
  list->setFocus(Qt::OtherFocusReason);
  auto selected = [list] { return list->channelAt(list->selectedRow()); };
  // Sorted by channel: 10, 101 Newsroom 1, 102 Lounge music, 103 Studio B talk, 104 Traffic
  // desk, 105 Sports live.
  QTest::keyClicks(list, "104");
  QCOMPARE(selected(), 104);
  QCOMPARE(list->selectedItems().size(), 1);

  clock.Advance(apart);
  // A new search: on from 104 the next channel beginning with 1 is 105, which begins with 10 too.
  QTest::keyClicks(list, "10");
  QCOMPARE(selected(), 105);
  clock.Advance(apart);
  QTest::keyClick(list, Qt::Key_1);
  QTest::keyClick(list, Qt::Key_0);
  QTest::keyClick(list, Qt::Key_Space);  // no name begins with "10 ": the selection stays
  QCOMPARE(selected(), 10);

  clock.Advance(apart);
  QTest::keyClicks(list, "s");
  QCOMPARE(selected(), 103);
  QTest::keyClicks(list, "s");  // the same letter again: the next name with it
  QCOMPARE(selected(), 105);
  clock.Advance(apart);
  QTest::keyClicks(list, "STUDIO B");  // case does not count, a space belongs to the name
  QCOMPARE(selected(), 103);
  clock.Advance(apart);
  QTest::keyClicks(list, "x");  // nothing begins with x: the selection stays
  QCOMPARE(selected(), 103);
  clock.Advance(apart);
  QTest::keyClicks(list, "t");
  QCOMPARE(selected(), 104);
  clock.Advance(apart);
  QTest::keyClicks(list, "t");  // a slow second t is a new search: on from 104, round to 10
  QCOMPARE(selected(), 10);
  QVERIFY(h.dialog->isVisible());
}

// ---------------------------------------------------------------------------------------------
// The card that is not there.

void SelectorUsabilityTest::cardLabelWarnsWhenNoChannelCanBeHeard_data() {
  QTest::addColumn<uint32_t>("address");
  QTest::addColumn<bool>("spyOpens");
  QTest::addColumn<QString>("warning");  // the start of the tooltip; empty: no warning
  QTest::newRow("card present") << Ip(10, 1, 2, 3) << true << QString();
  QTest::newRow("no card chosen") << 0u << true << QString();
  QTest::newRow("card gone") << Ip(10, 9, 9, 9) << false
                             << "No network card of this machine has the address 10.9.9.9";
  QTest::newRow("spy failed") << Ip(10, 1, 2, 3) << false
                              << "The selector could not listen on 10.1.2.3";
}

void SelectorUsabilityTest::cardLabelWarnsWhenNoChannelCanBeHeard() {
  QFETCH(uint32_t, address);
  QFETCH(bool, spyOpens);
  QFETCH(QString, warning);
  Harness h(false, address);
  h.Open(spyOpens);
  CardLabel* card = h.Card();
  const QRect placed = card->geometry();
  QCOMPARE(card->warningShown(), !warning.isEmpty());
  QAccessibleInterface* view = ViewOf(card);
  if (warning.isEmpty()) {
    QCOMPARE(card->toolTip(), QString::fromUtf8(HelpOf(kIdCardLabel)->tooltip));
    QCOMPARE(view->text(QAccessible::Description), card->toolTip());
    return;
  }
  QVERIFY2(card->toolTip().startsWith(warning), qPrintable(card->toolTip()));
  QCOMPARE(view->text(QAccessible::Description), card->toolTip());
  // The mark sits inside the label, after the address, and is drawn.
  const QRect mark = card->warningMarkRect();
  QVERIFY(card->rect().contains(mark));
  QVERIFY(mark.left() > card->fontMetrics().horizontalAdvance(card->text()));
  const QImage shot = card->grab().toImage();
  int marked = 0;
  for (int y = mark.top(); y <= mark.bottom(); ++y) {
    for (int x = mark.left(); x <= mark.right(); ++x) {
      const QColor c = LogicalPixel(shot, QPoint(x, y));
      if (c.red() > 200 && c.green() > 130 && c.green() < 210 && c.blue() < 80) ++marked;
    }
  }
  QVERIFY2(marked >= mark.width() * mark.height() / 6, qPrintable(QString::number(marked)));

  // Choosing a card of the machine takes the warning away; nothing has moved.
  WhenMenuOpens([](QMenu* menu) {
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[0]).center());
  });
  QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(2, 2));
  QCOMPARE(card->text(), QString("10.1.2.3"));
  QVERIFY(!card->warningShown());
  QCOMPARE(card->toolTip(), QString::fromUtf8(HelpOf(kIdCardLabel)->tooltip));
  QVERIFY(view->text(QAccessible::Description) == card->toolTip());
  QCOMPARE(card->geometry(), placed);
}

// ---------------------------------------------------------------------------------------------
// Places and painting.

void SelectorUsabilityTest::sliderAndItsHandleLieInsideTheDialog() {
  Harness h;
  h.Open();
  CompactSlider* volume = h.Volume();
  const QRect inside = h.dialog->rect();
  const QRect slider = h.InDialog(volume, volume->rect());
  std::printf("dialog %dx%d, slider %d,%d %dx%d\n", inside.width(), inside.height(), slider.x(),
              slider.y(), slider.width(), slider.height());
  QVERIFY2(inside.contains(slider), qPrintable(QString("%1,%2 %3x%4")
                                                   .arg(slider.x())
                                                   .arg(slider.y())
                                                   .arg(slider.width())
                                                   .arg(slider.height())));
  QVERIFY(slider.width() > 3 * CompactSlider::kHandleLength);
  // Within the trackbar's place in the template.
  const PixelRect place = ControlRect(*FindControl(kIdVolume), h.dialog->baseUnits());
  QVERIFY(QRect(place.x, place.y, place.width, place.height).contains(slider));

  const QColor shadow = volume->palette().color(QPalette::Shadow);
  for (int position : {0, 37, 100}) {
    volume->setValue(position);
    const QRect handle = h.InDialog(volume, volume->handleRect());
    QVERIFY2(slider.contains(handle), qPrintable(QString::number(position)));
    // The handle's dark bottom-right corner is painted where the dialog shows it.
    const QImage shot = h.dialog->grab().toImage();
    QVERIFY2(Shows(shot, handle.bottomRight(), shadow), qPrintable(QString::number(position)));
    std::printf("position %d: handle %d,%d %dx%d\n", position, handle.x(), handle.y(),
                handle.width(), handle.height());
  }
  // The ends of the travel are the ends of the slider, less its focus border.
  volume->setValue(0);
  QCOMPARE(volume->handleRect().left(), CompactSlider::kFocusBorder);
  volume->setValue(100);
  QCOMPARE(volume->handleRect().right(), volume->width() - 1 - CompactSlider::kFocusBorder);
}

void SelectorUsabilityTest::sliderHandleFollowsThePointer() {
  Harness h;
  h.Open();
  CompactSlider* volume = h.Volume();
  volume->setValue(100);
  const QPoint grip = volume->handleRect().center();
  QTest::mousePress(volume, Qt::LeftButton, {}, grip);
  QVERIFY(volume->isSliderDown());
  QMouseEvent move(QEvent::MouseMove, QPointF(0, grip.y()),
                   volume->mapToGlobal(QPointF(0, grip.y())), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(volume, &move);
  QTest::mouseRelease(volume, Qt::LeftButton, {}, QPoint(0, grip.y()));
  QCOMPARE(volume->value(), 0);
  // The release ended the drag: the volume of position 0 is stored.
  QCOMPARE(ReadSettings().preview_volume, -10000);
  QCOMPARE(h.state.preview_volume, -10000);
}

void SelectorUsabilityTest::meterKeepsTheTemplatesGapToThePreviewButton() {
  Harness h;
  h.Open();
  h.preview.left = h.preview.right = -139;  // every segment lit
  h.List()->selectRow(0);
  QTest::mouseClick(h.Control<QPushButton>(kIdPreview), Qt::LeftButton);
  LevelMeter* meter = h.Control<LevelMeter>(kIdMeter);
  QWidget* preview = h.Control(kIdPreview);
  const DialogBaseUnits base = h.dialog->baseUnits();
  const ControlTemplate* meter_place = FindControl(kIdMeter);
  const int gap_du = FindControl(kIdPreview)->x - (meter_place->x + meter_place->width);
  const int gap = DialogUnitsToPixelsX(gap_du, base);
  QVERIFY(gap > 0);
  // The meter widget keeps its template place.
  const PixelRect place = ControlRect(*meter_place, base);
  QCOMPARE(meter->geometry(), QRect(place.x, place.y, place.width, place.height));

  const QImage shot = h.dialog->grab().toImage();
  const int y = meter->y() + meter->height() / 2;
  // From the meter's left edge the black runs to the item's edge; then the background shows
  // until the button.
  int x = meter->x() + meter->itemRect().width() - 1;
  QCOMPARE(LogicalPixel(shot, QPoint(x, y)), QColor(Qt::black));
  const QColor background = LogicalPixel(shot, QPoint(meter->x() - 2, y));
  int free = 0;
  for (++x; x < preview->x(); ++x) {
    QCOMPARE(LogicalPixel(shot, QPoint(x, y)), background);
    ++free;
  }
  std::printf("meter %d..%d, gap to Preview %d px (template %d du = %d px)\n", meter->x(),
              meter->x() + meter->itemRect().width() - 1, free, gap_du, gap);
  QVERIFY(free >= gap);
  // The lit columns stay inside the black area.
  const QColor top_segment = LogicalPixel(
      shot, meter->mapTo(h.dialog.get(),
                         QPoint(meter->itemRect().width() - 3, meter->height() - 1 - 5 * 9 - 2)));
  QCOMPARE(top_segment, QColor(224, 0, 0));
}

void SelectorUsabilityTest::vectorArtworkDrawsTheBitmapsPictures() {
  // The header: at twice the pixels, each 2 x 2 block averages to about the bitmap's pixel.
  const QImage bitmap = HeaderImage().convertToFormat(QImage::Format_RGB32);
  const QImage header = HeaderImageAt(2).convertToFormat(QImage::Format_RGB32);
  QCOMPARE(header.size(), bitmap.size() * 2);
  QCOMPARE(header.devicePixelRatio(), 2.0);
  long long difference = 0;
  for (int y = 0; y < bitmap.height(); ++y) {
    for (int x = 0; x < bitmap.width(); ++x) {
      int sum[3] = {0, 0, 0};
      for (int d = 0; d < 4; ++d) {
        const QColor c = header.pixelColor(2 * x + d % 2, 2 * y + d / 2);
        sum[0] += c.red();
        sum[1] += c.green();
        sum[2] += c.blue();
      }
      const QColor b = bitmap.pixelColor(x, y);
      difference += std::abs(sum[0] / 4 - b.red()) + std::abs(sum[1] / 4 - b.green()) +
                    std::abs(sum[2] / 4 - b.blue());
    }
  }
  const double mean = double(difference) / (3.0 * bitmap.width() * bitmap.height());
  std::printf("header: mean difference %.2f of 255 per channel\n", mean);
  QVERIFY2(mean < 4, qPrintable(QString::number(mean)));
  // The bottom row is the background colour, so the fill below joins it without a seam.
  for (int x = 0; x < header.width(); x += 7) {
    QCOMPARE(header.pixelColor(x, header.height() - 1), BackgroundColourOf(HeaderImage()));
  }

  // The buttons' cells: covered where the bitmap is opaque, smooth at the edges.
  const QImage strip = ButtonStrip();
  for (int cell : {kCellPreview, kCellRefresh, kCellTake}) {
    const QImage vector = ButtonCellAt(cell, 2).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(vector.size(), QSize(2 * kButtonCellSize, 2 * kButtonCellSize));
    int agree = 0;
    int partial = 0;
    for (int y = 0; y < kButtonCellSize; ++y) {
      for (int x = 0; x < kButtonCellSize; ++x) {
        const bool opaque = strip.pixel(cell * kButtonCellSize + x, y) != strip.pixel(0, 0);
        int alpha = 0;
        for (int d = 0; d < 4; ++d) alpha += qAlpha(vector.pixel(2 * x + d % 2, 2 * y + d / 2));
        if ((alpha >= 2 * 255) == opaque) ++agree;
        for (int d = 0; d < 4; ++d) {
          const int a = qAlpha(vector.pixel(2 * x + d % 2, 2 * y + d / 2));
          if (a > 0 && a < 255) ++partial;
        }
      }
    }
    const int cells = kButtonCellSize * kButtonCellSize;
    std::printf("cell %d: %d of %d pixels agree, %d edge pixels\n", cell, agree, cells, partial);
    QVERIFY2(agree >= cells * 85 / 100, qPrintable(QString::number(cell)));
    QVERIFY2(partial > 0, qPrintable(QString::number(cell)));
  }
  QVERIFY(ButtonCellAt(kButtonCellCount, 2).isNull());

  // The icon: its own sizes, and larger ones drawn from the vector icon.
  const QIcon icon = OwnIcon();
  for (int size : {16, 32, 48, 64, 128, 256})
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
  const QImage large = icon.pixmap(QSize(32, 32), 2.0).toImage();
  QCOMPARE(large.size(), QSize(64, 64));
  QCOMPARE(QColor(large.pixel(11, 13)).name(), QColor(24, 64, 140).name());  // the square's blue
  // Not the 48-pixel image enlarged.
  const QIcon bitmaps(QStringLiteral(":/vqscw/selector/selector.ico"));
  QVERIFY(bitmaps.pixmap(QSize(32, 32), 2.0).toImage().convertToFormat(large.format()) != large);
}

void SelectorUsabilityTest::buttonsAndHeaderAreDrawnForTheScreensScale() {
  Harness h(true);
  h.Open();
  const qreal ratio = h.dialog->devicePixelRatioF();
  QPushButton* take = h.Control<QPushButton>(kIdTake);
  const QImage shot = take->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage cell =
      ButtonCellAt(kCellTake, ratio).toImage().convertToFormat(QImage::Format_ARGB32);
  QCOMPARE(cell.width(), qCeil(kButtonCellSize * ratio));
  // The cell sits 2 points inside the 2-point frame; wherever it is opaque the button shows it
  // pixel for pixel, at the screen's own resolution.
  const int origin = qRound(4 * ratio);
  int shown = 0;
  for (int y = 0; y < cell.height(); ++y) {
    for (int x = 0; x < cell.width(); ++x) {
      if (qAlpha(cell.pixel(x, y)) == 255) {
        QCOMPARE(shot.pixel(origin + x, origin + y), cell.pixel(x, y) | 0xFF000000u);
        ++shown;
      }
    }
  }
  QVERIFY(shown > 10);

  // The header at the top left is the header image for this scale.
  const QImage dialog = h.dialog->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage header = HeaderImageAt(ratio).convertToFormat(QImage::Format_RGB32);
  // Points the controls leave free.
  for (const QPoint point : {QPoint(20, 20), QPoint(40, 60), QPoint(100, 30), QPoint(318, 2)}) {
    const QPoint p = point * qRound(ratio);
    QCOMPARE(dialog.pixel(p), header.pixel(p));
  }
}

void SelectorUsabilityTest::screenshots() {
  StoreCategory(101, "News");
  StoreCategory(102, "Music");
  StoreCategory(104, "News");
  StorePreset(0, 102);
  {
    Harness h;
    h.Open();
    h.preview.left = -150;
    h.preview.right = -205;
    h.preview.elapsed_ms = 65000;
    h.preview.packets = 1000;
    h.List()->selectRow(1);
    QTest::mouseClick(h.Control<QPushButton>(kIdPreview), Qt::LeftButton);
    h.dialog->previewPanel().updateStatus();
    // The keyboard focus on the card label, reached by Tab.
    h.Control(kIdFilter)->setFocus(Qt::OtherFocusReason);
    QCOMPARE(Tab(), static_cast<QWidget*>(h.Card()));
    QVERIFY(!SaveScreenshot(*h.dialog, "selector-previewing").isEmpty());
  }
  {
    Harness h(false, Ip(10, 9, 9, 9));
    h.Open(false);
    QVERIFY(!SaveScreenshot(*h.dialog, "selector-missing-card").isEmpty());
  }
}

VQSCW_QTEST_MAIN(SelectorUsabilityTest)
#include "selector_usability_test.moc"
