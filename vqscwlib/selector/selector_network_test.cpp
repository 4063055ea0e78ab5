// The selector with the library's own spy and preview on loopback, fed by a software terminal and
// by a host advertising many terminals at once. Runs in a network namespace of its own, so the
// fixed advertisement and stream ports are the test's alone.
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/qtest_main.h"
#include "tests/support/wav_audio.h"
#include "vqscwlib/host.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/preview_api.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/selector_dialog.h"
#include "vqscwlib/selector/spy_api.h"

using namespace vqscw;

namespace {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1, first octet in the lowest byte

// A standalone dialog listening with the library's spy on loopback.
struct LiveDialog {
  SelectorState state;
  std::unique_ptr<SelectorDialog> dialog;

  bool Open() {
    state.local_address = kLoopback;
    SourceSpy* spy = nullptr;
    if (LibrarySpyApi().Open(&spy, kLoopback, kTerminalPort) != SPY_OK) return false;
    state.spy = spy;
    dialog = std::make_unique<SelectorDialog>(&state, SelectorEnvironment{});
    dialog->show();
    return true;
  }
  ChannelList* List() { return dialog->findChild<ChannelList*>(QString::number(kIdList)); }
  QPushButton* Refresh() { return dialog->findChild<QPushButton*>(QString::number(kIdRefresh)); }
  QPushButton* Preview() { return dialog->findChild<QPushButton*>(QString::number(kIdPreview)); }
  LevelMeter* Meter() { return dialog->findChild<LevelMeter*>(QString::number(kIdMeter)); }
  QLabel* Status() { return dialog->findChild<QLabel*>(QString::number(kIdStatus)); }
};

// The packet rate the status line shows for `channel`, or -1 while it shows something else.
int ShownRate(const QString& status, int channel) {
  static const QRegularExpression playing(
      R"(^ Playing channel #(\d+) \.\.\. \d\d:\d\d:\d\d \(rate: (\d+) packets/s\)$)");
  const QRegularExpressionMatch match = playing.match(status);
  if (!match.hasMatch() || match.captured(1).toInt() != channel) return -1;
  return match.captured(2).toInt();
}

// Whether every segment of both columns of the meter is lit in its colour.
bool MeterFullyLit(LevelMeter* meter) {
  const QImage shot = meter->grab().toImage();
  for (MeterColumn column : {kMeterLeft, kMeterRight}) {
    for (int segment = 0; segment < kMeterSegments; ++segment) {
      const MeterRect r = SegmentRect({0, 0, shot.width(), shot.height()}, column, segment);
      const Rgb want = SegmentColour(segment);
      if (shot.pixelColor((r.left + r.right) / 2, (r.top + r.bottom) / 2) !=
          QColor(want.red, want.green, want.blue)) {
        return false;
      }
    }
  }
  return true;
}

std::vector<std::string> TerminalArgs(const char* advv, const char* first_source) {
  return {"--card", "127.0.0.1",   "--name",   "Desk",       "--hwid",   "7",        "--advv",
          advv,     "--no-stream", "--source", first_source, "--source", "202:Bravo"};
}

LocalTerminal FloodTerminal(uint16_t hwid) {
  LocalTerminal terminal{};
  terminal.inip = kLoopback;
  terminal.hwid = hwid;
  terminal.advv = 1;
  std::snprintf(terminal.name, sizeof terminal.name, "Flood %u", hwid);
  for (int slot = 0; slot < kLocalSourceSlots; ++slot) {
    LocalSource& source = terminal.sources[slot];
    source.psid = static_cast<uint32_t>((hwid - 1) * kLocalSourceSlots + slot + 1);
    source.fsid = source.psid;
    source.fast = 2;
    std::snprintf(source.name, sizeof source.name, "Source %u", source.psid);
  }
  return terminal;
}

}  // namespace

class SelectorNetworkTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void terminalChannelsAreListedAndUpdatedInPlace();
  void refreshWhileTheNetworkFloodsNeverBlocks();
  void previewOfAStreamingChannelShowsItsRateLightsTheMeterAndPlaysItsTone();

 private:
  QTemporaryDir temp_;
  int serial_ = 0;
};

void SelectorNetworkTest::init() {
  qputenv("VQSCW_REGISTRY", temp_.filePath(QString("registry-%1.db").arg(++serial_)).toUtf8());
}

void SelectorNetworkTest::terminalChannelsAreListedAndUpdatedInPlace() {
  testing::ChildProcess terminal;
  QVERIFY(terminal.Start(VQSCW_TERMINAL_PATH, TerminalArgs("1", "201:Alpha")));
  QVERIFY(terminal.WaitForOutput("S002", std::chrono::seconds(5)));

  // The terminal is already running: the spy learns it from its next short advertisement.
  QElapsedTimer clock;
  clock.start();
  LiveDialog live;
  QVERIFY(live.Open());
  QTRY_COMPARE_WITH_TIMEOUT(live.List()->rowCount(), 2, 2000);
  std::printf("listed 2 channels after %lld ms\n", static_cast<long long>(clock.elapsed()));
  QCOMPARE(live.List()->cellText(live.List()->findRow(201), kColumnName), std::string("Alpha"));

  // The terminal comes back with a new advertisement version and a renamed source: the spy
  // reports the channel again and its row is updated, not doubled.
  terminal.Signal(SIGTERM);
  QCOMPARE(terminal.Wait(std::chrono::seconds(5)), 0);
  testing::ChildProcess renamed;
  QVERIFY(renamed.Start(VQSCW_TERMINAL_PATH, TerminalArgs("2", "201:Alpha renamed")));
  QTRY_COMPARE_WITH_TIMEOUT(live.List()->cellText(live.List()->findRow(201), kColumnName),
                            std::string("Alpha renamed"), 5000);
  QCOMPARE(live.List()->rowCount(), 2);
}

// The spy reports new sources from its listening thread with its lock held while the dialog
// refills, which enumerates under the same lock. Bounded in terminals, rounds and time.
void SelectorNetworkTest::refreshWhileTheNetworkFloodsNeverBlocks() {
  constexpr int kTerminals = 40;
  constexpr int kMinRounds = 3;
  constexpr int kMinRefreshes = 20;
  LiveDialog live;
  QVERIFY(live.Open());

  CClientEndpoint sender;
  QVERIFY(sender.Open(false, "127.0.0.1", 0));
  std::vector<LocalTerminal> terminals;
  for (int hwid = 1; hwid <= kTerminals; ++hwid) terminals.push_back(FloodTerminal(hwid));

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::atomic<int> refreshes{0};
  std::atomic<bool> done{false};
  // Full advertisements of every terminal, round after round, until the dialog has refilled a
  // number of times meanwhile. Later rounds repeat what was sent; they make up for datagrams the
  // loopback may drop.
  std::thread flood([&] {
    for (int round = 0; (round < kMinRounds || refreshes < kMinRefreshes) &&
                        std::chrono::steady_clock::now() < deadline;
         ++round) {
      for (LocalTerminal& terminal : terminals) {
        adv_advertise(&sender, kAdvertisementGroup, kTerminalPort, &terminal, kAdvertisementFull);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    }
    done = true;
  });
  while (!done) {
    QTest::mouseClick(live.Refresh(), Qt::LeftButton);
    QCoreApplication::processEvents();
    ++refreshes;
  }
  flood.join();
  QVERIFY(refreshes >= kMinRefreshes);
  QTRY_COMPARE_WITH_TIMEOUT(live.List()->rowCount(), kTerminals * kLocalSourceSlots, 5000);
}

// The terminal streams each source's tone (slot N: N x 500 Hz, -12 dBFS) in 1 ms packets; the
// dialog previews the second slot's channel into a WAV file.
void SelectorNetworkTest::previewOfAStreamingChannelShowsItsRateLightsTheMeterAndPlaysItsTone() {
  constexpr int kChannel = 202;
  testing::ChildProcess terminal;
  QVERIFY(terminal.Start(VQSCW_TERMINAL_PATH,
                         {"--card", "127.0.0.1", "--name", "Desk", "--source", "201:Alpha",
                          "--source", "202:Bravo", "--seconds", "60"}));
  QVERIFY(terminal.WaitForOutput("S002", std::chrono::seconds(5)));
  LiveDialog live;
  QVERIFY(live.Open());
  QTRY_COMPARE_WITH_TIMEOUT(live.List()->rowCount(), 2, 3000);
  live.List()->selectRow(live.List()->findRow(kChannel));

  const QString wav = temp_.filePath("preview.wav");
  qputenv("VQSCW_AUDIO_SINK", ("wavenc ! filesink location=" + wav).toUtf8());
  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(live.Preview(), Qt::LeftButton);
  const qint64 started_ms = clock.elapsed();
  qputenv("VQSCW_AUDIO_SINK", "fakesink");
  QCOMPARE(live.Preview()->text(), QString("Stop"));

  qint64 first_packet_ms = -1;
  qint64 lit_ms = -1;
  qint64 rate_ms = -1;
  int rate = -1;
  // The status shows a rate from its first update after a whole second of audio has arrived:
  // within two seconds of the press on an idle machine, later when the start itself was slow.
  constexpr qint64 kShownWithinMs = 6000;
  while (clock.elapsed() < kShownWithinMs && (lit_ms < 0 || rate_ms < 0)) {
    QTest::qWait(5);
    uint32_t elapsed = 0, packets = 0;
    if (first_packet_ms < 0 && LibraryPreviewApi().GetStatistics(&elapsed, &packets) == S_OK &&
        packets > 0) {
      first_packet_ms = clock.elapsed();
    }
    if (lit_ms < 0 && MeterFullyLit(live.Meter())) lit_ms = clock.elapsed();
    const int shown = ShownRate(live.Status()->text(), kChannel);
    if (rate_ms < 0 && shown > 0) {
      rate = shown;
      rate_ms = clock.elapsed();
    }
  }
  std::printf(
      "Preview: button at Stop after %lld ms, first packet after %lld ms, meter lit after "
      "%lld ms, status \"%s\" after %lld ms\n",
      static_cast<long long>(started_ms), static_cast<long long>(first_packet_ms),
      static_cast<long long>(lit_ms), qPrintable(live.Status()->text()),
      static_cast<long long>(rate_ms));
  QVERIFY(first_packet_ms >= 0);
  QVERIFY(lit_ms >= 0);
  QVERIFY(rate_ms >= 0);
  QVERIFY2(rate >= 900 && rate <= 1100, qPrintable(QString::number(rate)));

  QTest::mouseClick(live.Preview(), Qt::LeftButton);  // stop: the WAV file is complete
  QCOMPARE(live.Preview()->text(), QString("Preview"));
  const std::optional<testing::WavAudio> audio = testing::ReadWav24(wav.toStdString());
  QVERIFY(audio.has_value());
  QVERIFY(audio->left.size() >= 48000);
  const double frequency = testing::ToneFrequency(audio->left, audio->rate);
  std::printf("tone in the WAV file: %.2f Hz over %zu frames\n", frequency, audio->left.size());
  QVERIFY2(std::abs(frequency - 1000) < 2, qPrintable(QString::number(frequency)));
}

VQSCW_QTEST_MAIN(SelectorNetworkTest)
#include "selector_network_test.moc"
