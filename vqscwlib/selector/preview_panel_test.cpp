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
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/qtest_main.h"
#include "vqscwlib/platform/registry.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/fake_preview.h"
#include "vqscwlib/selector/fake_spy.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/preset_drag.h"
#include "vqscwlib/selector/preset_transfer.h"
#include "vqscwlib/selector/preview_panel.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/selector_dialog.h"
#include "vqscwlib/selector/settings.h"

using namespace vqscw;

namespace {

constexpr uint32_t kCard = 0x0302010A;  // 10.1.2.3
constexpr int kTickWaitMs = 3000;       // longer than a status timer period, with room

// A dialog on a state of its own, fed by a fake spy and previewing through a fake preview.
class Harness {
 public:
  explicit Harness(bool selection_mode = false) {
    state.selection = selection_mode ? &selection : nullptr;
    state.local_address = kCard;
  }

  void Open() {
    SourceSpy* handle = nullptr;
    spy.Open(&handle, state.local_address, kSelectorSpyPort);
    state.spy = handle;
    dialog = std::make_unique<SelectorDialog>(
        &state,
        SelectorEnvironment{&spy, [] { return std::optional<CardList>(CardList{}); }, &preview});
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
  }

  template <typename T>
  T* Control(int id) {
    return dialog->findChild<T*>(QString::number(id));
  }
  ChannelList* List() { return Control<ChannelList>(kIdList); }
  QPushButton* PreviewButton() { return Control<QPushButton>(kIdPreview); }
  QPushButton* Preset(int n) { return Control<QPushButton>(kIdPreset1 + n - 1); }
  LevelMeter* Meter() { return Control<LevelMeter>(kIdMeter); }
  QSlider* Volume() { return Control<QSlider>(kIdVolume); }
  QString Status() { return Control<QLabel>(kIdStatus)->text(); }
  PreviewPanel& Panel() { return dialog->previewPanel(); }

  void SelectChannel(int32_t channel) { List()->selectRow(List()->findRow(channel)); }

  FakeSpy spy;
  FakePreview preview;
  SelectorSelection selection{};
  SelectorState state;
  std::unique_ptr<SelectorDialog> dialog;
};

// Sends a drag over `target` and, when it is taken, the drop, as the window system delivers
// them. Returns whether the drop was taken; *entered says whether the drag was.
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

Presets StoredPresets() {
  Presets presets = kDefaultPresets;
  ReadPresets(presets);
  return presets;
}

bool PresetValueStored(int preset) {
  RegistryKey key;
  if (Registry().OpenKey(kPresetsKey, &key) != RegStatus::kOk) return false;
  RegValue value;
  return key.Query(std::to_string(preset), 64, &value) == RegStatus::kOk;
}

QColor ColourOf(const Rgb& rgb) { return QColor(rgb.red, rgb.green, rgb.blue); }

// The colour in the middle of segment `segment` of `column` in a picture of the meter.
QColor SegmentPixel(const QImage& meter, MeterColumn column, int segment) {
  const MeterRect r = SegmentRect({0, 0, meter.width(), meter.height()}, column, segment);
  return meter.pixelColor((r.left + r.right) / 2, (r.top + r.bottom) / 2);
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

  // The meter and the status line.
  void meterShowsEachChannelsLevelWhilePreviewing();
  void statusShowsThePlayingChannelThenTheRowCount();
  void rateOfANewPreviewIsNotReckonedFromTheLastOnesCount();

  // The volume trackbar.
  void storedVolumePlacesTheTrackbar_data();
  void storedVolumePlacesTheTrackbar();
  void dragOfTheTrackbarIsHeardLiveAndStoredWhenItEnds();

  // Closing.
  void closingStopsThePreviewTheTimersAndTheDropTargets();
  void dialogDestroyedWhilePreviewingStopsThePreview();

  // Drag and drop.
  void dropOnPreset3AssignsTheChannel();
  void dataOfOtherFormatsIsRefused_data();
  void dataOfOtherFormatsIsRefused();
  void blockWithoutChannelNumberTextChangesNothing();
  void blockWithoutDigitsAssignsChannelZero();
  void selectionModeHasNoDropTargets();
  void dragFromARowOffersItsChannelInThePresetFormatOnly();

  void screenshotWhilePreviewing();

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
  Harness h;
  h.spy.Hear(5, "Five");
  h.Open();
  QCOMPARE(h.List()->selectedRow(), -1);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QVERIFY(h.preview.calls.empty());
  QCOMPARE(h.state.previewing, 0);
  QCOMPARE(h.PreviewButton()->text(), QString("Preview"));
  QVERIFY(!h.Panel().meterRunning());
}

void PreviewPanelTest::previewWalksTheStepsToStopAndBack() {
  Harness h;
  h.state.preview_volume = -2500;
  h.spy.Hear(5, "Five");
  h.Open();
  QStringList texts;
  h.preview.after_step = [&](int) { texts << h.PreviewButton()->text(); };

  h.SelectChannel(5);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QCOMPARE(texts, (QStringList{">___", "_>__", "__>_", "___>", "Stop"}));
  // The stored volume is applied once the output is connected, and the card is the interface.
  QCOMPARE(h.preview.calls, (std::vector<std::string>{"start 5 10.1.2.3", "volume -2500"}));
  QCOMPARE(h.state.previewing, 5);
  QVERIFY(h.Panel().meterRunning());

  texts.clear();
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QCOMPARE(texts, QStringList{"Preview"});
  QCOMPARE(h.preview.calls.back(), std::string("stop+callback"));
  QCOMPARE(h.state.previewing, 0);
  QVERIFY(!h.Panel().meterRunning());
}

void PreviewPanelTest::failedStartKeepsTheLastStepUntilStopped() {
  Harness h;
  h.spy.Hear(9, "Nine");
  h.Open();
  const QColor idle = h.Meter()->grab().toImage().pixelColor(h.Meter()->rect().center());
  h.preview.last_step = 3;
  h.preview.elapsed_ms = 5000;  // a failed start has no statistics to give
  h.preview.packets = 5000;
  h.preview.left = h.preview.right = 0;  // nor levels
  h.SelectChannel(9);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QCOMPARE(h.PreviewButton()->text(), QString("__>_"));
  QCOMPARE(h.state.previewing, 9);  // counts as previewing all the same
  QVERIFY(h.Panel().meterRunning());
  h.Panel().updateStatus();
  QCOMPARE(h.Status(), QString(" Playing channel #9 ... 00:00:00 (rate: 0 packets/s)"));
  QCOMPARE(h.Meter()->grab().toImage().pixelColor(h.Meter()->rect().center()), idle);

  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);  // stops
  QCOMPARE(h.PreviewButton()->text(), QString("Preview"));
  QCOMPARE(h.preview.calls.back(), std::string("stop+callback"));
  QCOMPARE(h.state.previewing, 0);
}

void PreviewPanelTest::presetReplacesTheRunningPreview() {
  StorePreset(1, 7);  // preset 2 holds channel 7
  Harness h;
  h.spy.Hear(5, "Five");
  h.spy.Hear(7, "Seven");
  h.Open();
  h.SelectChannel(5);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QCOMPARE(h.Preset(2)->text(), QString("Seven"));

  h.preview.calls.clear();
  QStringList texts;
  h.preview.after_step = [&](int) { texts << h.PreviewButton()->text(); };
  QTest::mouseClick(h.Preset(2), Qt::LeftButton);
  // Replaced, not stopped: the button never reads "Preview" on the way.
  QCOMPARE(h.preview.calls.front(), std::string("start 7 10.1.2.3"));
  QCOMPARE(texts, (QStringList{">___", "_>__", "__>_", "___>", "Stop"}));
  QCOMPARE(h.state.previewing, 7);
  QVERIFY(h.Panel().meterRunning());
}

// ---------------------------------------------------------------------------------------------
// The meter and the status line.

void PreviewPanelTest::meterShowsEachChannelsLevelWhilePreviewing() {
  Harness h;
  h.spy.Hear(5, "Five");
  h.Open();
  const QColor idle = h.Meter()->grab().toImage().pixelColor(h.Meter()->rect().center());
  QVERIFY(idle != QColor(Qt::black));

  h.preview.left = -139;   // all ten
  h.preview.right = -140;  // nine
  h.SelectChannel(5);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  // The 50 ms timer keeps asking for levels while the preview plays.
  const int asked = h.preview.level_queries;
  QTRY_VERIFY_WITH_TIMEOUT(h.preview.level_queries >= asked + 3, 1000);

  const QImage shot = h.Meter()->grab().toImage();
  for (int segment = 0; segment < kMeterSegments; ++segment) {
    QCOMPARE(SegmentPixel(shot, kMeterLeft, segment), ColourOf(SegmentColour(segment)));
  }
  QCOMPARE(SegmentPixel(shot, kMeterRight, 8), ColourOf(kMeterRed));
  QCOMPARE(SegmentPixel(shot, kMeterRight, 9), QColor(Qt::black));
  QCOMPARE(shot.pixelColor(0, 0), QColor(Qt::black));  // around the segments

  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QVERIFY(!h.Panel().meterRunning());
  const int after_stop = h.preview.level_queries;
  QTest::qWait(200);
  QVERIFY(h.preview.level_queries <= after_stop + 1);  // at most an expose
  QCOMPARE(h.Meter()->grab().toImage().pixelColor(h.Meter()->rect().center()), idle);
}

void PreviewPanelTest::statusShowsThePlayingChannelThenTheRowCount() {
  Harness h;
  h.spy.Hear(0x8005, "High");
  h.spy.Hear(6, "Six");
  h.Open();
  QTRY_COMPARE_WITH_TIMEOUT(h.Status(), QString(" Ready... channels found: 2"), kTickWaitMs);
  h.preview.elapsed_ms = 61000;
  h.preview.packets = 4000;
  h.SelectChannel(0x8005);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
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
  Harness h;
  h.spy.Hear(5, "Five");
  h.spy.Hear(6, "Six");
  h.Open();
  h.SelectChannel(5);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  h.preview.elapsed_ms = 300000;
  h.preview.packets = 300000;
  h.Panel().updateStatus();

  QTest::mouseClick(h.Preset(1), Qt::LeftButton);  // a new preview, counting from 0
  h.preview.elapsed_ms = 1000;
  h.preview.packets = 1000;
  h.Panel().updateStatus();
  QCOMPARE(h.Status(), QString(" Playing channel #6 ... 00:00:01 (rate: 1000 packets/s)"));
}

// ---------------------------------------------------------------------------------------------
// The volume trackbar.

void PreviewPanelTest::storedVolumePlacesTheTrackbar_data() {
  QTest::addColumn<int>("stored");  // 1: nothing stored
  QTest::addColumn<int>("position");
  QTest::newRow("none") << 1 << 100;
  QTest::newRow("-2500") << -2500 << 50;
  QTest::newRow("-4340") << -4340 << 24;
}

void PreviewPanelTest::storedVolumePlacesTheTrackbar() {
  QFETCH(int, stored);
  QFETCH(int, position);
  if (stored != 1) StoreVolume(stored);
  Harness h;
  h.state.preview_volume = ReadSettings().preview_volume;
  h.Open();
  QCOMPARE(h.Volume()->value(), position);
  QVERIFY(h.preview.calls.empty());  // placing it is no change by the user
}

void PreviewPanelTest::dragOfTheTrackbarIsHeardLiveAndStoredWhenItEnds() {
  StoreVolume(-2500);
  Harness h;
  h.state.preview_volume = -2500;
  h.Open();
  QSlider* slider = h.Volume();
  QCOMPARE(slider->value(), 50);

  // A drag of the handle, as the slider's mouse handling drives it.
  slider->setSliderDown(true);
  slider->setSliderPosition(60);
  slider->setSliderPosition(80);
  QCOMPARE(h.preview.calls, (std::vector<std::string>{"volume -2000", "volume -1000"}));
  QCOMPARE(ReadSettings().preview_volume, -2500);
  QCOMPARE(h.state.preview_volume, -2500);
  slider->setSliderDown(false);
  QCOMPARE(ReadSettings().preview_volume, -1000);
  QCOMPARE(h.state.preview_volume, -1000);

  // A key press is a change complete in itself.
  slider->setFocus();
  QTest::keyClick(slider, Qt::Key_Left);
  QCOMPARE(h.preview.calls.back(), std::string("volume -1050"));
  QCOMPARE(ReadSettings().preview_volume, -1050);

  // The volume set last is the one a new preview starts with.
  h.spy.Hear(3, "Three");
  h.SelectChannel(3);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QCOMPARE(h.preview.calls.back(), std::string("volume -1050"));
}

// ---------------------------------------------------------------------------------------------
// Closing.

void PreviewPanelTest::closingStopsThePreviewTheTimersAndTheDropTargets() {
  Harness h;
  h.spy.Hear(5, "Five");
  h.Open();
  h.SelectChannel(5);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QVERIFY(h.Preset(3)->acceptDrops());
  QVERIFY(h.Panel().statusRunning());

  QTest::keyClick(h.List(), Qt::Key_Escape);
  QVERIFY(!h.dialog->isVisible());
  QCOMPARE(h.preview.calls.back(), std::string("stop"));  // without a callback
  QVERIFY(!h.preview.exists());
  QVERIFY(!h.Panel().meterRunning());
  QVERIFY(!h.Panel().statusRunning());
  for (int n = 1; n <= kPresetCount; ++n) QVERIFY(!h.Preset(n)->acceptDrops());
  const std::unique_ptr<QMimeData> data = DataOf(kPresetFormat, "ChannelNumber=42\n");
  QVERIFY(!DropOn(h.Preset(3), data.get()));
  QCOMPARE(StoredPresets(), kDefaultPresets);
}

void PreviewPanelTest::dialogDestroyedWhilePreviewingStopsThePreview() {
  Harness h;
  h.spy.Hear(5, "Five");
  h.Open();
  h.SelectChannel(5);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  QVERIFY(h.preview.running());
  h.dialog.reset();
  QVERIFY(!h.preview.exists());
  QCOMPARE(h.preview.calls.back(), std::string("stop"));
}

// ---------------------------------------------------------------------------------------------
// Drag and drop.

void PreviewPanelTest::dropOnPreset3AssignsTheChannel() {
  Harness h;
  h.spy.Hear(42, "Forty-two");
  h.spy.Hear(3, "Three");
  h.Open();
  QCOMPARE(h.List()->cellText(h.List()->findRow(3), kColumnPreset), std::string("3 "));
  const std::unique_ptr<QMimeData> data(NewChannelMimeData(42));
  bool entered = false;
  QVERIFY(DropOn(h.Preset(3), data.get(), &entered));
  QVERIFY(entered);
  QCOMPARE(h.state.presets[2], 42);
  QCOMPARE(StoredPresets()[2], 42);
  QCOMPARE(h.List()->cellText(h.List()->findRow(42), kColumnPreset), std::string("3 "));
  QCOMPARE(h.List()->cellText(h.List()->findRow(3), kColumnPreset), std::string());
  QCOMPARE(h.Preset(3)->text(), QString("Forty-two"));

  // The preset now previews the dropped channel.
  QTest::mouseClick(h.Preset(3), Qt::LeftButton);
  QCOMPARE(h.preview.calls.front(), std::string("start 42 10.1.2.3"));
}

void PreviewPanelTest::dataOfOtherFormatsIsRefused_data() {
  QTest::addColumn<QString>("format");
  QTest::newRow("plain text") << "text/plain";
  QTest::newRow("longer name") << "PelmarSelectorPresets";
  QTest::newRow("other case") << "pelmarselectorpreset";
}

void PreviewPanelTest::dataOfOtherFormatsIsRefused() {
  QFETCH(QString, format);
  Harness h;
  h.spy.Hear(42, "Forty-two");
  h.Open();
  const std::unique_ptr<QMimeData> data = DataOf(format, "ChannelNumber=42\n");
  bool entered = true;
  QVERIFY(!DropOn(h.Preset(3), data.get(), &entered));
  QVERIFY(!entered);
  QCOMPARE(h.state.presets, kDefaultPresets);
  QVERIFY(!PresetValueStored(3));
}

void PreviewPanelTest::blockWithoutChannelNumberTextChangesNothing() {
  Harness h;
  h.Open();
  const std::unique_ptr<QMimeData> data = DataOf(kPresetFormat, QByteArray("Channel=42\n", 12));
  bool entered = false;
  DropOn(h.Preset(3), data.get(), &entered);
  QVERIFY(entered);  // the format is right; the text is not
  QCOMPARE(h.state.presets, kDefaultPresets);
  QVERIFY(!PresetValueStored(3));
}

void PreviewPanelTest::blockWithoutDigitsAssignsChannelZero() {
  StorePreset(2, 77);
  Harness h;
  h.Open();
  QCOMPARE(h.state.presets[2], 77);
  const std::unique_ptr<QMimeData> data = DataOf(kPresetFormat, "ChannelNumber=\n");
  QVERIFY(DropOn(h.Preset(3), data.get()));
  QCOMPARE(h.state.presets[2], 0);
  QVERIFY(!PresetValueStored(3));  // channel 0 deletes the value
  QTest::mouseClick(h.Preset(3), Qt::LeftButton);
  QVERIFY(h.preview.calls.empty());  // a preset of channel 0 previews nothing
}

void PreviewPanelTest::selectionModeHasNoDropTargets() {
  Harness h(true);
  h.spy.Hear(42, "Forty-two");
  h.Open();
  const std::unique_ptr<QMimeData> data(NewChannelMimeData(42));
  for (int n = 1; n <= kPresetCount; ++n) {
    QVERIFY(!h.Preset(n)->acceptDrops());
    bool entered = true;
    QVERIFY(!DropOn(h.Preset(n), data.get(), &entered));
    QVERIFY(!entered);
  }
  QCOMPARE(h.state.presets, kDefaultPresets);
}

// Off-screen the window system runs no drag of its own, so the drag's data is taken where the
// dialog hands it over and dropped on a preset button as the window system would deliver it.
void PreviewPanelTest::dragFromARowOffersItsChannelInThePresetFormatOnly() {
  Harness h;
  h.spy.Hear(7, "Seven");
  h.spy.Hear(42, "Forty-two");
  h.Open();
  std::vector<std::pair<QStringList, QByteArray>> drags;
  std::optional<int32_t> dropped;
  {
    ScopedDragRedirect redirect([&](const QMimeData& data) {
      drags.emplace_back(data.formats(), data.data(kPresetFormat));
      // Dropped while the drag runs, as the window system does.
      dropped = h.state.presets[2];
      DropOn(h.Preset(3), &data);
      dropped = h.state.presets[2];
    });
    QWidget* viewport = h.List()->viewport();
    const QPoint from = h.List()->cellRect(h.List()->findRow(42), kColumnName, viewport).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, from + QPoint(2, 0));
    QTest::mouseMove(viewport, from + QPoint(QApplication::startDragDistance() + 10, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, from);
  }
  QCOMPARE(drags.size(), size_t{1});
  QCOMPARE(drags[0].first, QStringList{kPresetFormat});
  QCOMPARE(drags[0].second, QByteArray("ChannelNumber=42\n\0\0\0\0\0\0\0\0\0\0\0\0\0", 30));
  QCOMPARE(dropped, std::optional<int32_t>(42));
  QCOMPARE(StoredPresets()[2], 42);
  // The list itself does not change, and no in-place edit began.
  QCOMPARE(h.List()->rowCount(), 2);
  QCOMPARE(h.state.edit_row, -1);
}

void PreviewPanelTest::screenshotWhilePreviewing() {
  StorePreset(0, 102);
  StorePreset(1, 101);
  Harness h;
  const char* names[] = {"Newsroom 1", "Lounge music", "Studio B talk", "Traffic desk"};
  for (int i = 0; i < 4; ++i) h.spy.Hear(101 + i, names[i]);
  h.Open();
  h.preview.left = -160;
  h.preview.right = -230;
  h.preview.elapsed_ms = 83000;
  h.preview.packets = 83000;
  h.SelectChannel(102);
  QTest::mouseClick(h.PreviewButton(), Qt::LeftButton);
  h.state.last_packet_count = 82000;
  h.Panel().updateStatus();
  QCOMPARE(h.Status(), QString(" Playing channel #102 ... 00:01:23 (rate: 1000 packets/s)"));
  const QPixmap shot = h.dialog->grab();
  const QString dir = QStringLiteral(VQSCW_SCREENSHOT_DIR);
  QVERIFY(QDir().mkpath(dir));
  const QString path = dir + "/selector-previewing.png";
  QVERIFY(shot.save(path, "PNG"));
  std::printf("screenshot: %s\n", qPrintable(path));
}

VQSCW_QTEST_MAIN(PreviewPanelTest)
#include "preview_panel_test.moc"
