#include "vqscwlib/selector/selector_dialog.h"

#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "vqscwlib/selector/artwork.h"
#include "vqscwlib/selector/card_label.h"
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/compact_slider.h"
#include "vqscwlib/selector/control_help.h"
#include "vqscwlib/selector/focus_mark.h"
#include "vqscwlib/selector/image_button.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/message_box.h"
#include "vqscwlib/selector/popup_combo.h"
#include "vqscwlib/selector/preset_drag.h"
#include "vqscwlib/selector/preview_api.h"
#include "vqscwlib/selector/preview_panel.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/selector_accessibility.h"
#include "vqscwlib/selector/settings.h"
#include "vqscwlib/selector/spy_api.h"
#include "vqscwlib/selector/status_line.h"
#include "vqscwlib/selector/text_util.h"

namespace vqscw {
namespace {

// Width of the header image's right edge that is repeated where the dialog is wider.
constexpr int kHeaderRepeatWidth = 32;
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

QString ObjectName(int id) { return QString::number(id); }

std::string ToBytes(const QString& text) { return text.toUtf8().toStdString(); }

std::vector<std::string> ComboEntries(const QComboBox* combo) {
  std::vector<std::string> entries;
  entries.reserve(static_cast<size_t>(combo->count()));
  for (int i = 0; i < combo->count(); ++i) entries.push_back(ToBytes(combo->itemText(i)));
  return entries;
}

bool IsWithin(const QWidget* widget, const QWidget* container) {
  return widget != nullptr && (widget == container || container->isAncestorOf(widget));
}

}  // namespace

std::string AccessListFailureText(const std::string& access_list, uint32_t code) {
  char text[512];
  std::snprintf(text, sizeof text,
                "File:\t%s\nError:\t%ld\n\nPlease contact network administrator.",
                access_list.c_str(), static_cast<long>(code));
  return text;
}

SelectorDialog::SelectorDialog(SelectorState* state, const SelectorEnvironment& environment,
                               QWidget* parent)
    : QDialog(parent),
      state_(state),
      spy_api_(environment.spy_api ? environment.spy_api : &LibrarySpyApi()),
      cards_(environment.cards ? environment.cards : CardSource(&MachineCards)),
      preview_api_(environment.preview_api ? environment.preview_api : &LibraryPreviewApi()),
      mailbox_([this] {
        QMetaObject::invokeMethod(
            this, [this] { takeReportedSources(); }, Qt::QueuedConnection);
      }) {
  InstallSelectorAccessibility();
  buildControls();
  panel_ = std::make_unique<PreviewPanel>(
      state_, preview_api_, PreviewPanel::Controls{preview_, meter_, status_, volume_, list_});
  initialise();
}

SelectorDialog::~SelectorDialog() {
  // Destroying the children moves the focus; by then this dialog is no longer whole.
  disconnect(focus_connection_);
  revokeDropTargets();
  panel_.reset();
  releaseSpy();
}

void SelectorDialog::buildControls() {
  setObjectName(QStringLiteral("101"));
  QFont dialog_font = font();
  dialog_font.setPointSize(kDialogFontPoints);
  setFont(dialog_font);
  const QFontMetrics metrics(dialog_font);
  base_units_ =
      BaseUnitsOfFont(metrics.horizontalAdvance(QLatin1String(kLetters)), metrics.height());
  setFixedSize(DialogUnitsToPixelsX(kDialogWidthDu, base_units_),
               DialogUnitsToPixelsY(kDialogHeightDu, base_units_));
  setWindowTitle(QString::fromUtf8(kDialogCaption));

  header_ = HeaderImage();
  background_ = BackgroundColourOf(header_);

  for (const ControlTemplate& control : DialogControls()) {
    const PixelRect r = ControlRect(control, base_units_);
    const QString text = QString::fromUtf8(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::kDropList:
      case ControlKind::kDropDown: {
        auto* combo = new PopupCombo(this);
        if (control.kind == ControlKind::kDropDown) {
          combo->setEditable(true);
          combo->setInsertPolicy(QComboBox::NoInsert);
          combo->setCompleter(nullptr);
        }
        combo->setMaxVisibleItems(std::max(
            1, DialogUnitsToPixelsY(control.height, base_units_) / std::max(1, metrics.height())));
        widget = combo;
        // The template's height is that of the open list; the box keeps its own height.
        combo->setGeometry(r.x, r.y, r.width, combo->sizeHint().height());
        (control.id == kIdFilter ? filter_ : editor_) = combo;
        break;
      }
      case ControlKind::kLabel: {
        QLabel* label = nullptr;
        if (control.id == kIdCardLabel) {
          card_label_ = new CardLabel(text, this);
          label = card_label_;
        } else {
          label = new QLabel(text, this);
        }
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
      }
      case ControlKind::kStatusLine:
        status_ = new StatusLine(text, this);
        widget = status_;
        break;
      case ControlKind::kImageButton: {
        const int cell = control.id == kIdTake      ? kCellTake
                         : control.id == kIdPreview ? kCellPreview
                                                    : kCellRefresh;
        auto* button = new ImageButton(text, cell, this);
        button->setAutoDefault(false);
        // Take is the dialog's default button, as the OK command; no other button wears the
        // default frame unless it has the focus, so the focus shows on every button.
        if (control.id == kIdTake) button->setDefault(true);
        widget = button;
        QPushButton*& slot = control.id == kIdTake      ? take_
                             : control.id == kIdPreview ? preview_
                                                        : refresh_;
        slot = button;
        connect(button, &QPushButton::clicked, this, [this, id = control.id] { command(id); });
        break;
      }
      case ControlKind::kList:
        list_ = new ChannelList(this);
        widget = list_;
        break;
      case ControlKind::kPushButton: {
        auto* button = new FocusMarkedButton(text, this);
        presets_[control.id - kIdPreset1] = button;
        connect(button, &QPushButton::clicked, this, [this, id = control.id] { command(id); });
        widget = button;
        break;
      }
      case ControlKind::kMeter: {
        meter_ = new LevelMeter(this);
        meter_->setIdleColour(background_);
        meter_->setEnabled(false);
        // The template keeps a gap between the meter and the Preview button; pixel rounding of
        // each rectangle can shrink it, so the meter keeps back what the rounding took.
        if (const ControlTemplate* beside = FindControl(kIdPreview)) {
          const int gap =
              DialogUnitsToPixelsX(beside->x - (control.x + control.width), base_units_);
          const int shown = ControlRect(*beside, base_units_).x - (r.x + r.width);
          meter_->setRightMargin(gap - shown);
        }
        widget = meter_;
        break;
      }
      case ControlKind::kTrackbar: {
        auto* edge = new QFrame(this);
        edge->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        edge->setLineWidth(1);
        edge->setAutoFillBackground(true);
        edge->setGeometry(r.x, r.y, r.width, r.height);
        volume_ = new CompactSlider(edge);
        volume_->setObjectName(ObjectName(control.id));
        volume_->setRange(kVolumeMinPosition, kVolumeMaxPosition);
        // The template lets the trackbar run past the dialog's edges; the slider takes the part
        // of its edge's inside that the dialog shows, so all of it can be seen and reached.
        const QRect shown = QRect(-r.x, -r.y, width(), height()).intersected(edge->contentsRect());
        volume_->setGeometry(shown);
        describeControl(volume_, control.id);
        continue;
      }
    }
    widget->setObjectName(ObjectName(control.id));
    describeControl(widget, control.id);
    if (control.kind != ControlKind::kDropList && control.kind != ControlKind::kDropDown) {
      widget->setGeometry(r.x, r.y, r.width, r.height);
    }
    widget->setVisible(!control.hidden);
  }

  if (auto* label = findChild<QLabel*>(ObjectName(kIdFilterLabel))) label->setBuddy(filter_);
  if (auto* label = findChild<QLabel*>(ObjectName(kIdCardTitle))) label->setBuddy(card_label_);
  connect(card_label_, &CardLabel::menuRequested, this,
          [this] { openCardMenu(card_label_->geometry().bottomLeft(), true); });

  connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
    beginEdit(list_->indexOfTopLevelItem(item), column);
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (!state_->standalone()) command(kIdTake);
  });
  connect(list_->header(), &QHeaderView::sectionClicked, this, &SelectorDialog::sortBy);
  connect(list_, &ChannelList::dragBegun, this, &SelectorDialog::beginDrag);
  connect(filter_, &PopupCombo::popupClosed, this, &SelectorDialog::refill);
  connect(editor_, &PopupCombo::popupClosed, this, &SelectorDialog::focusListEndingEdit);
  connect(editor_, qOverload<int>(&QComboBox::activated), this,
          [this](int index) { editor_choice_ = index; });
  if (QLineEdit* line = editor_->lineEdit()) {
    line->installEventFilter(this);
    connect(line, &QLineEdit::textEdited, this, [this] { editor_choice_ = -1; });
  }
  focus_connection_ =
      connect(qApp, &QApplication::focusChanged, this, &SelectorDialog::onFocusChanged);
}

void SelectorDialog::describeControl(QWidget* widget, int id) {
  if (id >= kIdPreset1 && id <= kIdPreset8) {
    const int preset = id - kIdPreset1 + 1;
    widget->setAccessibleName(QString::fromStdString(PresetName(preset, std::string())));
    widget->setToolTip(QString::fromStdString(PresetTooltip(preset)));
    return;
  }
  const ControlHelp* help = HelpOf(id);
  if (help == nullptr) return;
  widget->setAccessibleName(QString::fromUtf8(help->name));
  widget->setToolTip(QString::fromUtf8(help->tooltip));
  if (help->description != nullptr) {
    widget->setAccessibleDescription(QString::fromUtf8(help->description));
  }
}

void SelectorDialog::initialise() {
  QStringList headings;
  for (int id : {kStringChannel, kStringName, kStringCategory, kStringPreset}) {
    headings << ResourceString(id);
  }
  list_->setHeaderLabels(headings);

  fillFilter();
  ReadPresets(state_->presets);
  refill();

  if (state_->standalone()) {
    take_->hide();
    for (QPushButton* button : presets_) button->show();
    registerDropTargets();
  }

  if (!state_->options.caption.empty()) {
    setWindowTitle(QString::fromUtf8(state_->options.caption));
  }
  if (state_->options.icon == IconChoice::kOwn) {
    setWindowIcon(OwnIcon());
  } else if (state_->options.icon == IconChoice::kHost && state_->options.host_icon != nullptr) {
    setWindowIcon(*state_->options.host_icon);
  }

  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (state_->options.frame_flags & SELECTOR_FRAME_MINIMIZE) flags |= Qt::WindowMinimizeButtonHint;
  if (state_->options.frame_flags & SELECTOR_FRAME_MAXIMIZE) flags |= Qt::WindowMaximizeButtonHint;
  setWindowFlags(flags);

  showLocalAddress();
  panel_->initialise();  // the trackbar and the status timer
}

void SelectorDialog::releaseSpy() {
  if (state_->spy == nullptr) return;
  if (state_->spy_lent) {
    // Replacing the kept callback waits for a report in progress on the spy's thread to finish;
    // the spy reports to the ignoring callback from then on.
    spy_api_->Enumerate(state_->spy, &SourceMailbox::Ignore, nullptr, 1);
  } else {
    spy_api_->Close(state_->spy);
  }
  state_->spy = nullptr;
  state_->spy_lent = false;
  mailbox_.Clear();
}

// ---------------------------------------------------------------------------------------------
// Commands and closing.

void SelectorDialog::command(int id) {
  if (id == kIdRefresh) {
    refill();
    return;
  }
  if (id == kIdPreview) {
    panel_->previewPressed();
    return;
  }
  if (id >= kIdPreset1 && id <= kIdPreset8) {
    panel_->presetPressed(id - kIdPreset1 + 1);
    return;
  }
  if (id != kEndOk && id != kEndCancel) return;

  if (state_->edit_row != -1) {
    if (id == kEndCancel) state_->edit_row = -1;
    focusListEndingEdit();
    return;
  }
  if (id == kEndOk && !state_->standalone()) {
    const int row = list_->selectedRow();
    if (row < 0) return;
    SelectorSelection* selection = state_->selection;
    selection->channel = list_->channelAt(row);
    if (selection->name != nullptr && selection->nameSize > 0) {
      const std::string name =
          CutText(list_->cellText(row, kColumnName), static_cast<size_t>(selection->nameSize) - 1);
      std::memcpy(selection->name, name.data(), name.size());
      selection->name[name.size()] = '\0';
    }
  }
  panel_->close();
  revokeDropTargets();
  QDialog::done(id);
}

void SelectorDialog::accept() { command(kEndOk); }
void SelectorDialog::reject() { command(kEndCancel); }

void SelectorDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // A focused ordinary push button takes Enter itself; otherwise it is the OK command, also
    // while the Take button is hidden.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button != nullptr && button->autoDefault() && button->isVisible()) {
      QDialog::keyPressEvent(event);
      return;
    }
    command(kEndOk);
    return;
  }
  QDialog::keyPressEvent(event);
}

bool SelectorDialog::eventFilter(QObject* watched, QEvent* event) {
  // Enter and Escape in the editor's edit field reach the dialog as its commands.
  if (event->type() == QEvent::KeyPress && editor_ != nullptr && watched == editor_->lineEdit()) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      command(kEndOk);
      return true;
    }
    if (key == Qt::Key_Escape) {
      command(kEndCancel);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Painting and placement.

void SelectorDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int width = this->width();
  const int height = this->height();
  if (header_.isNull()) {
    painter.fillRect(rect(), background_);
    return;
  }
  const qreal ratio = devicePixelRatioF();
  if (ratio != header_ratio_) {
    header_at_ratio_ = HeaderImageAt(ratio);
    if (header_at_ratio_.isNull()) header_at_ratio_ = header_;
    header_ratio_ = ratio;
  }
  // Sizes in points are the bitmap's; the image drawn may have more pixels per point.
  const QImage& image = header_at_ratio_;
  const qreal scale = image.width() / qreal(header_.width());
  const QRectF whole(0, 0, header_.width(), header_.height());
  painter.drawImage(whole, image);
  const QRectF right_edge((header_.width() - kHeaderRepeatWidth) * scale, 0,
                          kHeaderRepeatWidth * scale, image.height());
  for (int x = header_.width(); x < width; x += kHeaderRepeatWidth) {
    painter.drawImage(QRectF(x, 0, kHeaderRepeatWidth, header_.height()), image, right_edge);
  }
  if (height > header_.height()) {
    painter.fillRect(0, header_.height(), width, height - header_.height(), background_);
  }
}

void SelectorDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// ---------------------------------------------------------------------------------------------
// The channel list.

void SelectorDialog::fillFilter() {
  filter_->clear();
  filter_->addItem(QString::fromUtf8(kFilterAll));
  addComboEntry(filter_, kFilterUnassigned);
  for (const std::string& category : EnumerateCategories()) addComboEntry(filter_, category);
  filter_->setCurrentIndex(filter_->findText(QString::fromUtf8(kFilterAll)));
}

void SelectorDialog::addComboEntry(QComboBox* combo, const std::string& text) {
  const std::vector<std::string> entries = ComboEntries(combo);
  if (!ComboTakes(entries, text)) return;
  const int current = combo->currentIndex();
  const int index = static_cast<int>(SortedComboIndex(entries, text));
  combo->insertItem(index, QString::fromUtf8(text));
  // Inserting before the current entry must not change which entry is current.
  if (current >= index && current >= 0) combo->setCurrentIndex(current + 1);
}

void SelectorDialog::refill() {
  state_->filter = CutText(ToBytes(filter_->currentText()), kCellTextLimit);
  list_->clear();
  mailbox_.Clear();
  if (state_->spy != nullptr) {
    spy_api_->Enumerate(state_->spy, &SourceMailbox::Callback, &mailbox_, 1);
  }
  takeReportedSources();
  list_->sortRows(state_->sort_column);
}

void SelectorDialog::takeReportedSources() {
  for (const ReportedSource& source : mailbox_.Take()) addOrUpdateRow(source.channel, source.name);
}

void SelectorDialog::addOrUpdateRow(int32_t channel, const std::string& name) {
  std::string category;
  const bool has_category = ReadCategory(channel, &category);
  if (!has_category) category.clear();
  if (!PassesFilter(category, state_->filter)) return;

  QTreeWidgetItem* row = list_->findItem(channel);
  if (row == nullptr) row = list_->appendItem(channel);
  ChannelList::setTextOf(row, kColumnChannel, ChannelText(channel));
  ChannelList::setTextOf(row, kColumnName, name);
  if (has_category) ChannelList::setTextOf(row, kColumnCategory, category);
  ChannelList::setTextOf(row, kColumnPreset, PresetText(state_->presets, channel));
  for (int i = 0; i < kPresetCount; ++i) {
    if (state_->presets[i] == channel) setPresetCaption(i, QString::fromUtf8(name));
  }
}

void SelectorDialog::setPresetCaption(int index, const QString& caption) {
  presets_[index]->setText(caption);
  presets_[index]->setAccessibleName(
      QString::fromStdString(PresetName(index + 1, caption.toStdString())));
}

void SelectorDialog::recomputePresets() {
  for (int row = 0; row < list_->rowCount(); ++row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    const int32_t channel = ChannelList::channelOf(item);
    ChannelList::setTextOf(item, kColumnPreset, PresetText(state_->presets, channel));
    const QString name = QString::fromUtf8(ChannelList::textOf(item, kColumnName));
    for (int i = 0; i < kPresetCount; ++i) {
      if (state_->presets[i] == channel) {
        setPresetCaption(i, name.left(static_cast<int>(kPresetCaptionLimit)));
      }
    }
  }
}

void SelectorDialog::presetDropped(int index, int32_t channel) {
  if (index < 0 || index >= kPresetCount) return;
  state_->presets[index] = channel;
  StorePreset(index, channel);
  recomputePresets();
}

void SelectorDialog::registerDropTargets() {
  for (int i = 0; i < kPresetCount; ++i) {
    drop_targets_[i] = std::make_unique<PresetDropTarget>(
        presets_[i], i, [this](int index, int32_t channel) { presetDropped(index, channel); });
  }
}

void SelectorDialog::revokeDropTargets() {
  for (auto& target : drop_targets_) target.reset();
}

void SelectorDialog::beginDrag() {
  const int row = list_->selectedRow();
  if (row < 0) return;
  DragChannel(list_, list_->channelAt(row));
}

void SelectorDialog::sortBy(int column) {
  if (column < 0 || column >= kColumnCount) return;
  state_->sort_column = column;
  list_->sortRows(column);
}

void SelectorDialog::beginEdit(int row, int column) {
  if (row < 0 || (column != kColumnCategory && column != kColumnPreset)) return;
  state_->edit_row = row;
  state_->edit_column = column;
  edit_channel_ = list_->channelAt(row);

  editor_->clear();
  if (column == kColumnCategory) {
    for (int r = 0; r < list_->rowCount(); ++r) {
      addComboEntry(editor_, list_->cellText(r, kColumnCategory));
    }
  } else {
    editor_->addItem(QString());
    for (int n = 1; n <= kPresetCount; ++n) editor_->addItem(QString::number(n));
  }
  editor_->setCurrentIndex(-1);
  editor_->setEditText(QString::fromUtf8(CutText(list_->cellText(row, column), kCellTextLimit)));
  editor_choice_ = -1;

  const QRect cell = list_->cellRect(row, column, this);
  editor_->setGeometry(cell.x(), cell.y(), cell.width() + 1, cell.height() + 1);
  editing_ = true;
  editor_->show();
  editor_->raise();
  editor_->setFocus(Qt::OtherFocusReason);
}

void SelectorDialog::onFocusChanged(QWidget*, QWidget* new_focus) {
  if (!editing_ || QApplication::activePopupWidget() != nullptr) return;
  if (IsWithin(new_focus, editor_) || IsWithin(new_focus, editor_->view()->window())) return;
  endEdit();
}

void SelectorDialog::focusListEndingEdit() {
  list_->setFocus(Qt::OtherFocusReason);
  endEdit();  // also when the focus could not move (an inactive window)
}

void SelectorDialog::endEdit() {
  if (!editing_) return;
  editing_ = false;
  editor_->hide();
  if (state_->edit_row == -1) return;  // abandoned

  std::string text;
  if (editor_choice_ >= 0 && editor_choice_ < editor_->count()) {
    text = CutText(ToBytes(editor_->itemText(editor_choice_)), kCellTextLimit);
  } else {
    text = CutText(ToBytes(editor_->currentText()), kEditedTextLimit);
  }
  // The edited row is found by its channel: the rows may have been sorted meanwhile.
  const int32_t channel = edit_channel_;
  if (state_->edit_column == kColumnCategory) {
    addComboEntry(filter_, text);
    StoreCategory(channel, text);
    if (QTreeWidgetItem* row = list_->findItem(channel)) {
      ChannelList::setTextOf(row, kColumnCategory, text);
    }
  } else {
    const int preset = PresetOfEditedText(text);
    if (preset != 0) {
      state_->presets[preset - 1] = channel;
      StorePreset(preset - 1, channel);
      recomputePresets();
    }
  }
  state_->edit_row = -1;
}

// ---------------------------------------------------------------------------------------------
// The network card.

std::optional<CardList> SelectorDialog::listCards() const { return cards_(); }

void SelectorDialog::showLocalAddress() {
  const std::string dotted = DottedAddress(state_->local_address);
  card_label_->setText(QString::fromStdString(dotted));
  // Without a card of that address, or without a spy, no channel can be heard: the label says
  // so, where the user can choose another card. Address 0 listens on every card.
  std::string warning;
  if (state_->local_address != 0 && !CardHasAddress(listCards(), state_->local_address)) {
    warning = CardMissingWarning(dotted);
  } else if (state_->spy == nullptr) {
    warning = CardUnusableWarning(dotted);
  }
  const ControlHelp* help = HelpOf(kIdCardLabel);
  card_label_->setWarningShown(!warning.empty());
  card_label_->setToolTip(warning.empty() ? QString::fromUtf8(help->tooltip)
                                          : QString::fromStdString(warning));
  card_label_->setAccessibleDescription(QString::fromStdString(warning));
  update();
}

void SelectorDialog::mousePressEvent(QMouseEvent* event) {
  // The label is drawn over the background and takes no clicks itself; a press inside its
  // rectangle, edges included, opens the card menu.
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton &&
      card_label_->geometry().adjusted(0, 0, 1, 1).contains(point)) {
    openCardMenu(point);
    return;
  }
  QDialog::mousePressEvent(event);
}

void SelectorDialog::openCardMenu(const QPoint& point, bool by_key) {
  const std::vector<CardMenuItem> items = CardMenuItems(listCards(), state_->local_address);
  if (items.empty()) return;
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("cardMenu"));
  QAction* current = nullptr;
  for (const CardMenuItem& item : items) {
    QAction* action = menu.addAction(QString::fromUtf8(item.text));
    action->setData(QVariant::fromValue<uint>(item.address));
    action->setCheckable(true);
    action->setChecked(item.checked);
    if (item.checked || current == nullptr) current = action;
  }
  // Opened from the keyboard, the menu starts on the current card so the arrows move from there.
  if (by_key) menu.setActiveAction(current);
  const QAction* chosen = menu.exec(mapToGlobal(point));
  const uint32_t address = chosen != nullptr ? chosen->data().toUInt() : 0;
  if (address != 0) chooseCard(address);
}

void SelectorDialog::chooseCard(uint32_t address) {
  state_->local_address = address;
  releaseSpy();
  openOwnSpy();
  std::string lines;
  const std::string adapter = AdapterNameOf(listCards(), address, &lines);
  std::fputs(lines.c_str(), stdout);
  StoreCard(address, adapter);
  state_->card_name = adapter;
  showLocalAddress();
  refill();
}

void SelectorDialog::openOwnSpy() {
  SourceSpy* spy = nullptr;
  if (spy_api_->Open(&spy, state_->local_address, kTerminalPort) != SPY_OK) return;
  state_->spy = spy;
  state_->spy_lent = false;
  const std::string& access_list = state_->options.access_list;
  if (access_list.empty()) return;
  const uint32_t code = spy_api_->SetAccessList(spy, access_list.c_str());
  if (code != SPY_OK) {
    ShowMessageBox(kAccessListFailedCaption, AccessListFailureText(access_list, code));
  }
}

}  // namespace vqscw
