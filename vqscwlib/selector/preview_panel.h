// The preview panel in the dialog's lower band: the Preview button and the preset buttons start
// and stop the preview of a channel, the level meter follows it every 50 ms, the status line says
// every second what plays (or how many channels are listed), and the volume trackbar sets the
// loudness, which is stored when a change of it ends.
//
// The panel drives the widgets the dialog built and the preview behind a PreviewApi. Everything
// runs on the dialog's thread; the preview reports its progress from inside Start and Stop.
#ifndef VQSCWLIB_SELECTOR_PREVIEW_PANEL_H_
#define VQSCWLIB_SELECTOR_PREVIEW_PANEL_H_

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

class QLabel;
class QPushButton;
class QSlider;

namespace vqscw {

class ChannelList;
class LevelMeter;
class PreviewApi;
struct SelectorState;

// How often the meter is repainted while a preview plays.
constexpr int kMeterIntervalMs = 50;

class PreviewPanel : public QObject {
  Q_OBJECT

 public:
  struct Controls {
    QPushButton* preview;
    LevelMeter* meter;
    QLabel* status;
    QSlider* volume;
    ChannelList* list;
  };

  // `state`, `preview` and the controls must outlive the panel.
  PreviewPanel(SelectorState* state, PreviewApi* preview, const Controls& controls);
  // Stops a preview still playing, without touching the controls.
  ~PreviewPanel() override;

  // At the dialog's initialisation: sets the trackbar from the state's preview volume and starts
  // the status timer.
  void initialise();

  // The Preview button: stops the preview when one plays, else previews the selected row's
  // channel (nothing when no row is selected).
  void previewPressed();
  // Preset button `preset` (1 to 8): previews the preset's channel, replacing a running preview;
  // nothing when the preset holds channel 0.
  void presetPressed(int preset);

  // Previews `channel`. A start that fails leaves the button at the last step reported; the
  // channel still counts as previewing until it is stopped.
  void startPreview(int32_t channel);
  // Stops the preview, if one counts as previewing; the button reads "Preview" again.
  void stopPreview();

  // At closing: stops both timers and the preview (the button is left as it is).
  void close();

  // The status timer's work: the playing text while previewing, else the ready text. While a
  // preview runs, the status line's tooltip and accessible description give the stream's loss,
  // duplicates, reordering and jitter since the preview started.
  void updateStatus();

  bool meterRunning() const { return meter_timer_.isActive(); }
  bool statusRunning() const { return status_timer_.isActive(); }

 private:
  static void OnProgress(int step, void* user);
  void onVolumeChanged(int position);
  void endVolumeTrack();

  SelectorState* const state_;
  PreviewApi* const preview_;
  const Controls controls_;
  QTimer meter_timer_;
  QTimer status_timer_;
  // The status line's own tooltip and description, kept while they show the stream's health.
  bool showing_health_ = false;
  QString idle_description_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_PREVIEW_PANEL_H_
