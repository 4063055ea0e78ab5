// The selector dialog: the channel list with its category filter and in-place editor, the card
// label and menu, the owner-drawn buttons and the lower band of preset buttons, level meter,
// status line and volume trackbar, all placed as the dialog template has them. The lower band is
// driven by a PreviewPanel; in standalone mode channels dragged from the list (or from another
// program) onto a preset button assign that preset.
//
// The dialog runs on the thread of the QApplication. Sources reach it from the spy through a
// SourceMailbox; rows change only on the dialog's thread.
#ifndef VQSCWLIB_SELECTOR_SELECTOR_DIALOG_H_
#define VQSCWLIB_SELECTOR_SELECTOR_DIALOG_H_

#include <QColor>
#include <QDialog>
#include <QImage>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vqscw/host.h"
#include "vqscwlib/selector/card_selection.h"
#include "vqscwlib/selector/dialog_template.h"
#include "vqscwlib/selector/selector_state.h"
#include "vqscwlib/selector/source_mailbox.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace vqscw {

class CardLabel;
class ChannelList;
class CompactSlider;
class LevelMeter;
class PopupCombo;
class PresetDropTarget;
class PreviewApi;
class PreviewPanel;
class SpyApi;

// What the dialog reaches outside itself; tests stand fakes in.
struct SelectorEnvironment {
  SpyApi* spy_api = nullptr;          // null: the library's spy
  CardSource cards;                   // empty: the machine's network cards
  PreviewApi* preview_api = nullptr;  // null: the library's preview
};

// Texts of the dialog.
constexpr char kAccessListFailedCaption[] = "Access list load failed";

// The message box text for an access list that could not be applied.
std::string AccessListFailureText(const std::string& access_list, uint32_t code);

class SelectorDialog : public QDialog {
  Q_OBJECT

 public:
  // End values of the dialog: its OK and Cancel commands.
  static constexpr int kEndOk = kIdTake;
  static constexpr int kEndCancel = kIdCancel;

  // Builds the dialog and runs its initialisation: columns, filter, presets from the settings
  // store, the first refill, the mode's buttons and drop targets, caption, icon, frame, card
  // label, volume trackbar and status timer. `state` must outlive the dialog; `state->spy` (may
  // be null) is the spy that feeds it.
  SelectorDialog(SelectorState* state, const SelectorEnvironment& environment,
                 QWidget* parent = nullptr);
  // Stops a preview still playing and releases the spy (see releaseSpy()).
  ~SelectorDialog() override;

  // Stops the spy from reporting to this dialog: the dialog's own spy is closed; a spy lent by
  // the host stays open and is merely detached. Afterwards no report reaches the dialog.
  void releaseSpy();

  // The dialog's commands, as the buttons, Enter, Escape and the close box give them.
  void command(int id);

  // Empties the list and has the spy report its sources again, under the current filter.
  void refill();

  // A channel dropped on preset button `index` + 1 (index 0 to 7; others are ignored): the
  // preset holds the channel from now on, in the settings store too, and the Preset column and
  // the preset buttons' captions show it.
  void presetDropped(int index, int32_t channel);

  // The lower band's controller.
  PreviewPanel& previewPanel() { return *panel_; }

  // Pixels per dialog unit base of the dialog font.
  DialogBaseUnits baseUnits() const { return base_units_; }

  void accept() override;
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void describeControl(QWidget* widget, int id);
  void initialise();

  // Channel list.
  void fillFilter();
  void addComboEntry(QComboBox* combo, const std::string& text);
  void takeReportedSources();
  void addOrUpdateRow(int32_t channel, const std::string& name);
  void recomputePresets();
  void setPresetCaption(int index, const QString& caption);
  void beginDrag();
  void sortBy(int column);
  void beginEdit(int row, int column);
  void endEdit();
  void focusListEndingEdit();
  void onFocusChanged(QWidget* old_focus, QWidget* new_focus);

  // Network card.
  std::optional<CardList> listCards() const;
  void showLocalAddress();
  void openCardMenu(const QPoint& point, bool by_key = false);
  void chooseCard(uint32_t address);
  void openOwnSpy();

  void registerDropTargets();
  void revokeDropTargets();

  SelectorState* const state_;
  SpyApi* const spy_api_;
  const CardSource cards_;
  PreviewApi* const preview_api_;
  SourceMailbox mailbox_;

  DialogBaseUnits base_units_{};
  QImage header_;           // the bitmap: its size in points, and the background colour
  QImage header_at_ratio_;  // the header as drawn for header_ratio_ device pixels per point
  qreal header_ratio_ = 0;
  QColor background_;

  ChannelList* list_ = nullptr;
  PopupCombo* filter_ = nullptr;
  PopupCombo* editor_ = nullptr;
  CardLabel* card_label_ = nullptr;
  QLabel* status_ = nullptr;
  CompactSlider* volume_ = nullptr;
  LevelMeter* meter_ = nullptr;
  QPushButton* take_ = nullptr;
  QPushButton* preview_ = nullptr;
  QPushButton* refresh_ = nullptr;
  std::array<QPushButton*, kPresetCount> presets_{};

  std::unique_ptr<PreviewPanel> panel_;
  std::array<std::unique_ptr<PresetDropTarget>, kPresetCount> drop_targets_;
  QMetaObject::Connection focus_connection_;

  bool editing_ = false;      // the editor is shown
  int32_t edit_channel_ = 0;  // the channel of the row being edited
  int editor_choice_ = -1;    // entry chosen in the editor's list since the text was typed
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SELECTOR_DIALOG_H_
