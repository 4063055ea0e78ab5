#include "vqscwlib/selector/preview_panel.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <string>

#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/control_help.h"
#include "vqscwlib/selector/dialog_template.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/preview_api.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/selector_state.h"
#include "vqscwlib/selector/settings.h"

namespace vqscw {

PreviewPanel::PreviewPanel(SelectorState* state, PreviewApi* preview, const Controls& controls)
    : state_(state), preview_(preview), controls_(controls) {
  controls_.meter->setLevelSource(preview_);
  connect(&meter_timer_, &QTimer::timeout, this, [this] { controls_.meter->repaint(); });
  connect(&status_timer_, &QTimer::timeout, this, &PreviewPanel::updateStatus);
  connect(controls_.volume, &QSlider::valueChanged, this, &PreviewPanel::onVolumeChanged);
  connect(controls_.volume, &QSlider::sliderReleased, this, &PreviewPanel::endVolumeTrack);
}

PreviewPanel::~PreviewPanel() {
  if (state_->previewing != 0) preview_->Stop(nullptr, nullptr);
  state_->previewing = 0;
}

void PreviewPanel::initialise() {
  {
    // Placing the trackbar is no change of volume by the user.
    const QSignalBlocker quiet(controls_.volume);
    controls_.volume->setValue(PositionOfVolume(state_->preview_volume));
  }
  status_timer_.start(kStatusIntervalMs);
}

void PreviewPanel::previewPressed() {
  if (state_->previewing != 0) {
    stopPreview();
    return;
  }
  const int row = controls_.list->selectedRow();
  if (row < 0) return;
  startPreview(controls_.list->channelAt(row));
}

void PreviewPanel::presetPressed(int preset) {
  if (preset < 1 || preset > kPresetCount) return;
  const int32_t channel = state_->presets[preset - 1];
  if (channel != 0) startPreview(channel);
}

void PreviewPanel::startPreview(int32_t channel) {
  // The packet count of an earlier preview says nothing about this one: without the reset the
  // first rate shown would be the difference between two unrelated counts.
  state_->last_packet_count = 0;
  // The result is not examined: the button shows how far the start came.
  preview_->Start(static_cast<uint32_t>(channel), &PreviewPanel::OnProgress, this,
                  state_->local_address);
  state_->previewing = channel;
  if (!meter_timer_.isActive()) meter_timer_.start(kMeterIntervalMs);
}

void PreviewPanel::stopPreview() {
  if (state_->previewing == 0) return;
  preview_->Stop(&PreviewPanel::OnProgress, this);
  state_->previewing = 0;
  if (meter_timer_.isActive()) {
    meter_timer_.stop();
    controls_.meter->repaint();
  }
}

void PreviewPanel::close() {
  meter_timer_.stop();
  status_timer_.stop();
  preview_->Stop(nullptr, nullptr);
  state_->previewing = 0;
}

void PreviewPanel::updateStatus() {
  std::string text;
  QLabel* status = controls_.status;
  if (state_->previewing != 0) {
    uint32_t elapsed_ms = 0;
    uint32_t packets = 0;
    if (preview_->GetStatistics(&elapsed_ms, &packets) != S_OK) elapsed_ms = packets = 0;
    text = PlayingStatus(state_->previewing, elapsed_ms, packets, &state_->last_packet_count);
    // The stream's health since the preview started, in the status line's tooltip and its
    // accessible description; once the preview ends the description it held before comes back.
    ReceiverHealth health{};
    if (preview_->GetHealth(&health) == S_OK) {
      if (!showing_health_) {
        idle_description_ = status->accessibleDescription();
        showing_health_ = true;
      }
      const QString description = QString::fromUtf8(HealthDescription(health));
      status->setToolTip(description);
      status->setAccessibleDescription(description);
    }
  } else {
    text = ReadyStatus(controls_.list->rowCount());
    // While idle the line carries its default tooltip; a preview may put its own meanwhile.
    status->setToolTip(QString::fromUtf8(HelpOf(kIdStatus)->tooltip));
    if (showing_health_) {
      status->setAccessibleDescription(idle_description_);
      showing_health_ = false;
    }
  }
  status->setText(QString::fromUtf8(text));
}

void PreviewPanel::OnProgress(int step, void* user) {
  auto* panel = static_cast<PreviewPanel*>(user);
  if (const char* text = PreviewButtonText(step)) {
    panel->controls_.preview->setText(QString::fromLatin1(text));
    panel->controls_.preview->setAccessibleName(QString::fromLatin1(PreviewButtonName(step)));
    // Shown at once: the start runs on this thread and the next step may take a while.
    panel->controls_.preview->repaint();
  }
  if (step == kStepRendered) panel->preview_->SetVolume(panel->state_->preview_volume);
}

// Every change reaches the preview at once. A drag of the handle ends when the handle is
// released; any other change (keys, wheel, a click beside the handle) is complete in itself.
void PreviewPanel::onVolumeChanged(int position) {
  preview_->SetVolume(VolumeOfPosition(position));
  if (!controls_.volume->isSliderDown()) endVolumeTrack();
}

void PreviewPanel::endVolumeTrack() {
  const int32_t volume = VolumeOfPosition(controls_.volume->value());
  state_->preview_volume = volume;
  StoreVolume(volume);
}

}  // namespace vqscw
