// The preview panel with the library's own preview, fed by the test sender's faulty stream on
// loopback: the counts of the stream's health reach the status line's tooltip and accessible
// description exactly. Runs in a network namespace of its own (the preview's port 5004).
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <memory>
#include <optional>

#include "tests/support/fake_spy.h"
#include "tests/support/impaired_rtp_sender.h"
#include "tests/support/qtest_main.h"
#include "vqscwlib/preview/preview.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/preview_panel.h"
#include "vqscwlib/selector/selector_dialog.h"

using namespace vqscw;
using namespace vqscw::testing;

namespace {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1, first octet in the lowest byte
constexpr int32_t kChannel = 120;
constexpr int kPackets = 3000;
constexpr int kWaitMs = 5000;

}  // namespace

class PreviewPanelNetworkTest : public QObject {
  Q_OBJECT

 private slots:
  void faultyStreamsCountsReachTheStatusTooltip();
};

void PreviewPanelNetworkTest::faultyStreamsCountsReachTheStatusTooltip() {
  FakeSpy spy;
  spy.Hear(kChannel, "Faulty");
  SelectorState state;
  state.local_address = kLoopback;
  SourceSpy* handle = nullptr;
  spy.Open(&handle, state.local_address, kTerminalPort);
  state.spy = handle;
  // No preview given: the dialog previews with the library's own.
  auto dialog = std::make_unique<SelectorDialog>(
      &state,
      SelectorEnvironment{&spy, [] { return std::optional<CardList>(CardList{}); }, nullptr});
  dialog->show();
  auto* list = dialog->findChild<ChannelList*>(QString::number(kIdList));
  auto* preview = dialog->findChild<QPushButton*>(QString::number(kIdPreview));
  auto* status = dialog->findChild<QLabel*>(QString::number(kIdStatus));
  QVERIFY(list != nullptr && preview != nullptr && status != nullptr);
  const QString idle_description = status->accessibleDescription();
  list->selectRow(list->findRow(kChannel));
  QTest::mouseClick(preview, Qt::LeftButton);
  QCOMPARE(preview->text(), QString("Stop"));

  testing::ImpairedRtpSender sender(PreviewGroup(kChannel), kStreamPort);
  QCOMPARE(sender.Send(kPackets, testing::SpreadImpairments(kPackets, 30, 20, 10)), 2990);
  ReceiverHealth health{};
  QTRY_VERIFY_WITH_TIMEOUT(PreviewGetHealth(&health) == S_OK && health.packets >= 2990, kWaitMs);
  QCOMPARE(health.packets, uint64_t{2990});

  dialog->previewPanel().updateStatus();
  static const QRegularExpression playing(
      R"(^ Playing channel #120 \.\.\. 00:00:0\d \(rate: \d+ packets/s\)$)");
  QVERIFY2(playing.match(status->text()).hasMatch(), qPrintable(status->text()));
  static const QRegularExpression described(
      R"(^Since the preview started: 30 lost, 20 duplicated, 10 reordered, jitter \d+\.\d\d ms$)");
  QVERIFY2(described.match(status->toolTip()).hasMatch(), qPrintable(status->toolTip()));
  QCOMPARE(status->accessibleDescription(), status->toolTip());

  QTest::mouseClick(preview, Qt::LeftButton);  // stops
  dialog->previewPanel().updateStatus();
  QVERIFY(!status->toolTip().startsWith("Since the preview started"));
  QCOMPARE(status->accessibleDescription(), idle_description);
}

VQSCW_QTEST_MAIN(PreviewPanelNetworkTest)
#include "preview_panel_network_test.moc"
