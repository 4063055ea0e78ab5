// The dialog's lower band off-screen, with a recording stand-in for the preview: the Preview and
// preset buttons, the level meter, the status line and the volume trackbar; and the drag of
// channels out of the list and their drop on the preset buttons.
#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_preview.h"
#include "tests/support/fake_spy.h"
#include "tests/support/qtest_main.h"
#include "vqscwlib/platform/registry.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/control_help.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/preset_drag.h"
#include "vqscwlib/selector/preset_transfer.h"
#include "vqscwlib/selector/preview_panel.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/selector_dialog.h"
#include "vqscwlib/selector/settings.h"

using namespace vqscw;
using namespace vqscw::testing;

namespace {

constexpr uint32_t kCard = 0x0302010A;  // 10.1.2.3
constexpr int kTickWaitMs = 3000;       // longer than a status timer period, with room
const QStringList kStartTexts = {">___", "_>__", "__>_", "___>", "Stop"};

// A standalone dialog (or one in selection mode) listing `channels` as "Channel N", fed by a fake
// spy and previewing through a fake preview, with the volume read from the settings store.
class Harness {
 public:
  explicit Harness(std::vector<int> channels = {}, bool selection_mode = false) {
    state.selection = selection_mode ? &selection : nullptr;
    state.local_address = kCard;
    state.preview_volume = ReadSettings().preview_volume;
    for (int channel : channels) spy.Hear(channel, "Channel " + std::to_string(channel));
    SourceSpy* handle = nullptr;
    spy.Open(&handle, state.local_address, kTerminalPort);
    state.spy = handle;
    dialog = std::make_unique<SelectorDialog>(
        &state,
        SelectorEnvironment{&spy, [] { return std::optional<CardList>(CardList{}); }, &preview});
    dialog->show();
    preview.after_step = [this](int) { texts << PreviewButton()->text(); };
  }

  template <typename T>
  T* Control(int id) {
    return dialog->findChild<T*>(QString::number(id));
  }
  ChannelList* List() { return Control<ChannelList>(kIdList); }
  QPushButton* PreviewButton() { return Control<QPushButton>(kIdPreview); }
  QPushButton* Preset(int n) { return Control<QPushButton>(kIdPreset1 + n - 1); }
  QImage Meter() { return Control<LevelMeter>(kIdMeter)->grab().toImage(); }
  QString Status() { return Control<QLabel>(kIdStatus)->text(); }
  PreviewPanel& Panel() { return dialog->previewPanel(); }

  // Selects the channel's row and presses Preview.
  void Preview(int32_t channel) {
    List()->selectRow(List()->findRow(channel));
    QTest::mouseClick(PreviewButton(), Qt::LeftButton);
  }

  FakeSpy spy;
  FakePreview preview;
  QStringList texts;  // the Preview button's text after each step reported
  SelectorSelection selection{};
  SelectorState state;
  std::unique_ptr<SelectorDialog> dialog;
};

// Sends a drag over `target` and then the drop, as the window system delivers them. Returns
// whether the drop was taken; *entered says whether the drag was.
bool DropOn(QWidget* target, const QMimeData* data, bool* entered = nullptr) {
  const QPoint point = target->rect().center();
  QDragEnterEvent enter(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (entered != nullptr) *entered = enter.isAccepted();
  QDropEvent drop(QPointF(point), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

std::unique_ptr<QMimeData> DataOf(const QString& format, const QByteArray& bytes) {
  auto data = std::make_unique<QMimeData>();
  data->setData(format, bytes);
  return data;
}

bool PresetValueStored(int preset) {
  RegistryKey key;
  RegValue value;
  return Registry().OpenKey(kPresetsKey, &key) == RegStatus::kOk &&
         key.Query(std::to_string(preset), 64, &value) == RegStatus::kOk;
}

// The colour in the middle of segment `segment` of `column` in a picture of the meter.
QColor SegmentPixel(const QImage& meter, MeterColumn column, int segment) {
  const MeterRect r = SegmentRect({0, 0, meter.width(), meter.height()}, column, segment);
  return meter.pixelColor((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

QColor Centre(const QImage& image) {
  return image.pixelColor(image.width() / 2, image.height() / 2);
}

}  // namespace

class PreviewPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void init();

  // The Preview and preset buttons.
  void previewWithoutARowDoesNothing();
  void previewWalksTheStepsToStopAndBack();
  void failedStartKeepsTheLastStepUntilStopped();
  void presetReplacesTheRunningPreview();

  // The meter, the status line and the trackbar.
  void meterShowsEachChannelsLevelWhilePreviewing();
  void statusShowsThePlayingChannelThenTheRowCount();
  void rateOfANewPreviewIsNotReckonedFromTheLastOnesCount();
  void statusTooltipTellsTheStreamsHealthWhilePreviewing();
  void dragOfTheTrackbarIsHeardLiveAndStoredWhenItEnds();

  // Closing.
  void closingStopsThePreviewTheTimersAndTheDropTargets();
  void dialogDestroyedWhilePreviewingStopsThePreview();

  // Drag and drop.
  void dropOnPreset3AssignsTheChannel();
  void dataOfOtherFormatsIsRefused_data();
  void dataOfOtherFormatsIsRefused();
  void droppedTextDecidesWhatIsAssigned();
  void selectionModeHasNoDropTargets();
  void dragFromARowOffersItsChannelInThePresetFormatOnly();

 private:
  QTemporaryDir temp_;
  int registry_serial_ = 0;
};

void PreviewPanelTest::init() {
  const QString file = temp_.filePath(QString("registry-%1.db").arg(++registry_serial_));
  qputenv("VQSCW_REGISTRY", file.toUtf8());
}

// ---------------------------------------------------------------------------------------------
// The Preview and preset buttons.

void PreviewPanelTest::previewWithoutARowDoesNothing() {
  Harness h({5});
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QVERIFY(h.preview.calls.empty());
  QCOMPARE(h.state.previewing, 0);
  QCOMPARE(h.PreviewButton()->text(), QString("Preview"));
  QVERIFY(!h.Panel().meterRunning());
}

void PreviewPanelTest::previewWalksTheStepsToStopAndBack() {
  StoreVolume(-2500);
  Harness h({5});
  h.Preview(5);
  QCOMPARE(h.texts, kStartTexts);
  // The saved volume is applied once the output is connected; the card is the interface.
  QCOMPARE(h.preview.calls, (std::vector<std::string>{"start 5 10.1.2.3", "volume -2500"}));
  QCOMPARE(h.state.previewing, 5);
  QVERIFY(h.Panel().meterRunning());

  h.texts.clear();
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QCOMPARE(h.texts, QStringList{"Preview"});
  QCOMPARE(h.preview.calls.back(), std::string("stop+callback"));
  QCOMPARE(h.state.previewing, 0);
  QVERIFY(!h.Panel().meterRunning());
}

void PreviewPanelTest::failedStartKeepsTheLastStepUntilStopped() {
  Harness h({9});
  const QColor idle = Centre(h.Meter());
  h.preview.last_step = 3;
  h.preview.packets = 5000;  // a failed start has no statistics to give, nor levels
  h.preview.left = h.preview.right = 0;
  h.Preview(9);
  QCOMPARE(h.PreviewButton()->text(), QString("__>_"));
  QCOMPARE(h.state.previewing, 9);  // counts as previewing all the same
  h.Panel().updateStatus();
  QCOMPARE(h.Status(), QString(" Playing channel #9 ... 00:00:00 (rate: 0 packets/s)"));
  QCOMPARE(Centre(h.Meter()), idle);

  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);  // stops
  QCOMPARE(h.PreviewButton()->text(), QString("Preview"));
  QCOMPARE(h.state.previewing, 0);
}

void PreviewPanelTest::presetReplacesTheRunningPreview() {
  StorePreset(1, 7);  // preset 2 holds channel 7
  Harness h({5, 7});
  QCOMPARE(h.Preset(2)->text(), QString("Channel 7"));
  h.Preview(5);
  h.preview.calls.clear();
  h.texts.clear();
  QTest::mouseClick(h.Preset(2), Qt::LeftButton);
  // Replaced, not stopped: the button never reads "Preview" on the way.
  QCOMPARE(h.preview.calls.front(), std::string("start 7 10.1.2.3"));
  QCOMPARE(h.texts, kStartTexts);
  QCOMPARE(h.state.previewing, 7);
  QVERIFY(h.Panel().meterRunning());
}

// ---------------------------------------------------------------------------------------------
// The meter, the status line and the trackbar.

void PreviewPanelTest::meterShowsEachChannelsLevelWhilePreviewing() {
  Harness h({5});
  const QColor idle = Centre(h.Meter());
  QVERIFY(idle != QColor(Qt::black));
  h.preview.left = -139;   // all ten
  h.preview.right = -140;  // nine
  h.Preview(5);
  // The 50 ms timer keeps asking for levels while the preview plays.
  const int asked = h.preview.level_queries;
  QTRY_VERIFY_WITH_TIMEOUT(h.preview.level_queries >= asked + 3, 1000);

  const QImage shot = h.Meter();
  QCOMPARE(SegmentPixel(shot, kMeterLeft, 0), QColor(48, 192, 48));
  QCOMPARE(SegmentPixel(shot, kMeterLeft, 2), QColor(224, 224, 0));
  QCOMPARE(SegmentPixel(shot, kMeterLeft, 9), QColor(224, 0, 0));
  QCOMPARE(SegmentPixel(shot, kMeterRight, 8), QColor(224, 0, 0));
  QCOMPARE(SegmentPixel(shot, kMeterRight, 9), QColor(Qt::black));
  QCOMPARE(shot.pixelColor(0, 0), QColor(Qt::black));  // around the segments

  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  const int after_stop = h.preview.level_queries;
  QTest::qWait(200);
  QVERIFY(h.preview.level_queries <= after_stop + 1);  // at most an expose
  QCOMPARE(Centre(h.Meter()), idle);
}

void PreviewPanelTest::statusShowsThePlayingChannelThenTheRowCount() {
  Harness h({0x8005, 6});
  QTRY_COMPARE_WITH_TIMEOUT(h.Status(), QString(" Ready... channels found: 2"), kTickWaitMs);
  h.preview.elapsed_ms = 61000;
  h.preview.packets = 4000;
  h.Preview(0x8005);
  QTRY_COMPARE_WITH_TIMEOUT(
      h.Status(), QString(" Playing channel #5 ... 00:01:01 (rate: 4000 packets/s)"), kTickWaitMs);
  h.preview.elapsed_ms = 62000;
  h.preview.packets = 5000;
  QTRY_COMPARE_WITH_TIMEOUT(
      h.Status(), QString(" Playing channel #5 ... 00:01:02 (rate: 1000 packets/s)"), kTickWaitMs);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(h.Status(), QString(" Ready... channels found: 2"), kTickWaitMs);
}

void PreviewPanelTest::rateOfANewPreviewIsNotReckonedFromTheLastOnesCount() {
  StorePreset(0, 6);
  Harness h({5, 6});
  h.Preview(5);
  h.preview.elapsed_ms = h.preview.packets = 300000;
  h.Panel().updateStatus();
  QTest::mouseClick(h.Preset(1), Qt::LeftButton);  // a new preview, counting from 0
  h.preview.elapsed_ms = h.preview.packets = 1000;
  h.Panel().updateStatus();
  QCOMPARE(h.Status(), QString(" Playing channel #6 ... 00:00:01 (rate: 1000 packets/s)"));
}

void PreviewPanelTest::statusTooltipTellsTheStreamsHealthWhilePreviewing() {
  Harness h({5});
  auto* status = h.Control<QLabel>(kIdStatus);
  status->setAccessibleDescription("The preview's state");
  h.preview.elapsed_ms = 61000;
  h.preview.packets = 4000;
  h.preview.health.lost = 30;
  h.preview.health.duplicated = 20;
  h.preview.health.reordered = 10;
  h.preview.health.jitterMs = 0.25;
  h.Preview(5);
  QTRY_COMPARE_WITH_TIMEOUT(
      status->toolTip(),
      QString("Since the preview started: 30 lost, 20 duplicated, 10 reordered, jitter 0.25 ms"),
      kTickWaitMs);
  QCOMPARE(status->accessibleDescription(), status->toolTip());
  // The status line itself reads as it always did.
  QCOMPARE(h.Status(), QString(" Playing channel #5 ... 00:01:01 (rate: 4000 packets/s)"));

  // Refreshed with the status.
  h.preview.health.lost = 31;
  h.Panel().updateStatus();
  QVERIFY(status->toolTip().startsWith("Since the preview started: 31 lost"));

  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  h.Panel().updateStatus();
  // Idle again: the line's own tooltip and description.
  QCOMPARE(status->toolTip(), QString::fromUtf8(HelpOf(kIdStatus)->tooltip));
  QCOMPARE(status->accessibleDescription(), QString("The preview's state"));
}

void PreviewPanelTest::dragOfTheTrackbarIsHeardLiveAndStoredWhenItEnds() {
  StoreVolume(-2500);
  Harness h({3});
  auto* slider = h.Control<QSlider>(kIdVolume);
  QCOMPARE(slider->value(), 50);
  QVERIFY(h.preview.calls.empty());  // placing it is no change by the user

  // A drag of the handle, as the slider's mouse handling drives it.
  slider->setSliderDown(true);
  slider->setSliderPosition(60);
  slider->setSliderPosition(80);
  QCOMPARE(h.preview.calls, (std::vector<std::string>{"volume -2000", "volume -1000"}));
  QCOMPARE(ReadSettings().preview_volume, -2500);
  slider->setSliderDown(false);
  QCOMPARE(ReadSettings().preview_volume, -1000);
  QCOMPARE(h.state.preview_volume, -1000);

  // A key press is a change complete in itself.
  QTest::keyClick(slider, Qt::Key_Left);
  QCOMPARE(h.preview.calls.back(), std::string("volume -1050"));
  QCOMPARE(ReadSettings().preview_volume, -1050);
  h.Preview(3);  // a new preview starts at the volume set last
  QCOMPARE(h.preview.calls.back(), std::string("volume -1050"));
}

// ---------------------------------------------------------------------------------------------
// Closing.

void PreviewPanelTest::closingStopsThePreviewTheTimersAndTheDropTargets() {
  Harness h({5});
  h.Preview(5);
  QVERIFY(h.Preset(3)->acceptDrops());
  QVERIFY(h.Panel().statusRunning());

  QTest::keyClick(h.List(), Qt::Key_Escape);
  QVERIFY(!h.dialog->isVisible());
  QCOMPARE(h.preview.calls.back(), std::string("stop"));  // without a callback
  QVERIFY(!h.preview.exists());
  QVERIFY(!h.Panel().meterRunning());
  QVERIFY(!h.Panel().statusRunning());
  for (int n = 1; n <= kPresetCount; ++n) QVERIFY(!h.Preset(n)->acceptDrops());
  const std::unique_ptr<QMimeData> data(NewChannelMimeData(42));
  QVERIFY(!DropOn(h.Preset(3), data.get()));
  QVERIFY(!PresetValueStored(3));
}

void PreviewPanelTest::dialogDestroyedWhilePreviewingStopsThePreview() {
  Harness h({5});
  h.Preview(5);
  QVERIFY(h.preview.running());
  h.dialog.reset();
  QVERIFY(!h.preview.exists());
}

// ---------------------------------------------------------------------------------------------
// Drag and drop.

void PreviewPanelTest::dropOnPreset3AssignsTheChannel() {
  Harness h({3, 42});
  QCOMPARE(h.List()->cellText(h.List()->findRow(3), kColumnPreset), std::string("3 "));
  const std::unique_ptr<QMimeData> data(NewChannelMimeData(42));
  bool entered = false;
  QVERIFY(DropOn(h.Preset(3), data.get(), &entered));
  QVERIFY(entered);
  QCOMPARE(h.state.presets[2], 42);
  Presets stored = kDefaultPresets;
  ReadPresets(stored);
  QCOMPARE(stored[2], 42);
  QCOMPARE(h.List()->cellText(h.List()->findRow(42), kColumnPreset), std::string("3 "));
  QCOMPARE(h.List()->cellText(h.List()->findRow(3), kColumnPreset), std::string());
  QCOMPARE(h.Preset(3)->text(), QString("Channel 42"));

  QTest::mouseClick(h.Preset(3), Qt::LeftButton);
  QCOMPARE(h.preview.calls.front(), std::string("start 42 10.1.2.3"));

  // Only the eight presets take drops.
  h.dialog->presetDropped(8, 5);
  h.dialog->presetDropped(-1, 5);
  QCOMPARE(h.state.presets, (Presets{1, 2, 42, 4, 5, 6, 7, 8}));
}

void PreviewPanelTest::dataOfOtherFormatsIsRefused_data() {
  QTest::addColumn<QString>("format");
  QTest::newRow("plain text") << "text/plain";
  QTest::newRow("longer name") << "PelmarSelectorPresets";
  QTest::newRow("other case") << "pelmarselectorpreset";
}

void PreviewPanelTest::dataOfOtherFormatsIsRefused() {
  QFETCH(QString, format);
  Harness h({42});
  const std::unique_ptr<QMimeData> data = DataOf(format, "ChannelNumber=42\n");
  bool entered = true;
  QVERIFY(!DropOn(h.Preset(3), data.get(), &entered));
  QVERIFY(!entered);
  QCOMPARE(h.state.presets, kDefaultPresets);
  QVERIFY(!PresetValueStored(3));
}

void PreviewPanelTest::droppedTextDecidesWhatIsAssigned() {
  StorePreset(2, 77);
  Harness h;
  // The format is right but the text names no channel: nothing changes.
  bool entered = false;
  DropOn(h.Preset(3), DataOf(kPresetFormat, QByteArray("Channel=42\n", 12)).get(), &entered);
  QVERIFY(entered);
  QCOMPARE(h.state.presets[2], 77);
  QVERIFY(PresetValueStored(3));

  // No digits: channel 0, which deletes the stored value and previews nothing.
  QVERIFY(DropOn(h.Preset(3), DataOf(kPresetFormat, "ChannelNumber=\n").get()));
  QCOMPARE(h.state.presets[2], 0);
  QVERIFY(!PresetValueStored(3));
  QTest::mouseClick(h.Preset(3), Qt::LeftButton);
  QVERIFY(h.preview.calls.empty());
}

void PreviewPanelTest::selectionModeHasNoDropTargets() {
  Harness h({42}, true);
  const std::unique_ptr<QMimeData> data(NewChannelMimeData(42));
  for (int n = 1; n <= kPresetCount; ++n) {
    bool entered = true;
    QVERIFY(!DropOn(h.Preset(n), data.get(), &entered));
    QVERIFY(!entered);
  }
  QCOMPARE(h.state.presets, kDefaultPresets);
}

// Off-screen the window system runs no drag of its own, so the drag's data is taken where the
// dialog hands it over and dropped on a preset button as the window system would deliver it.
void PreviewPanelTest::dragFromARowOffersItsChannelInThePresetFormatOnly() {
  Harness h({7, 42});
  QStringList formats;
  QByteArray block;
  {
    ScopedDragRedirect redirect([&](const QMimeData& data) {
      formats = data.formats();
      block = data.data(kPresetFormat);
      DropOn(h.Preset(3), &data);
    });
    QWidget* viewport = h.List()->viewport();
    const QPoint from = h.List()->cellRect(h.List()->findRow(42), kColumnName, viewport).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, from + QPoint(2, 0));
    QTest::mouseMove(viewport, from + QPoint(QApplication::startDragDistance() + 10, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, from);
  }
  QCOMPARE(formats, QStringList{kPresetFormat});
  QCOMPARE(block, QByteArray("ChannelNumber=42\n\0\0\0\0\0\0\0\0\0\0\0\0\0", 30));
  QCOMPARE(h.state.presets[2], 42);
  // The list itself does not change, and no in-place edit began.
  QCOMPARE(h.List()->rowCount(), 2);
  QCOMPARE(h.state.edit_row, -1);
}

VQSCW_QTEST_MAIN(PreviewPanelTest)
#include "preview_panel_test.moc"
