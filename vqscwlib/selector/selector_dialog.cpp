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
#include "vqscwlib/selector/channel_list.h"
#include "vqscwlib/selector/image_button.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/message_box.h"
#include "vqscwlib/selector/popup_combo.h"
#include "vqscwlib/selector/preset_drag.h"
#include "vqscwlib/selector/preview_api.h"
#include "vqscwlib/selector/preview_panel.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/settings.h"
#include "vqscwlib/selector/spy_api.h"
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
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        if (control.id == kIdCardLabel) card_label_ = label;
        break;
      }
      case ControlKind::kStatusLine: {
        status_ = new QLabel(text, this);
        status_->setTextFormat(Qt::PlainText);
        status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        status_->setLineWidth(1);
        status_->setAutoFillBackground(true);
        widget = status_;
        break;
      }
      case ControlKind::kImageButton: {
        const int cell = control.id == kIdTake      ? kCellTake
                         : control.id == kIdPreview ? kCellPreview
                                                    : kCellRefresh;
        auto* button = new ImageButton(text, cell, this);
        button->setAutoDefault(false);
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
        auto* button = new QPushButton(text, this);
        presets_[control.id - kIdPreset1] = button;
        connect(button, &QPushButton::clicked, this, [this, id = control.id] { command(id); });
        widget = button;
        break;
      }
      case ControlKind::kMeter:
        meter_ = new LevelMeter(this);
        meter_->setIdleColour(background_);
        meter_->setEnabled(false);
        widget = meter_;
        break;
      case ControlKind::kTrackbar: {
        auto* edge = new QFrame(this);
        edge->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        edge->setLineWidth(1);
        edge->setAutoFillBackground(true);
        edge->setGeometry(r.x, r.y, r.width, r.height);
        volume_ = new QSlider(Qt::Horizontal, edge);
        volume_->setObjectName(ObjectName(control.id));
        volume_->setRange(kVolumeMinPosition, kVolumeMaxPosition);
        volume_->setTickPosition(QSlider::NoTicks);
        volume_->setGeometry(edge->contentsRect());
        continue;
      }
    }
    widget->setObjectName(ObjectName(control.id));
    if (control.kind != ControlKind::kDropList && control.kind != ControlKind::kDropDown) {
      widget->setGeometry(r.x, r.y, r.width, r.height);
    }
    widget->setVisible(!control.hidden);
  }

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
    if (state_->presets[i] == channel) presets_[i]->setText(QString::fromUtf8(name));
  }
}

void SelectorDialog::recomputePresets() {
  for (int row = 0; row < list_->rowCount(); ++row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    const int32_t channel = ChannelList::channelOf(item);
    ChannelList::setTextOf(item, kColumnPreset, PresetText(state_->presets, channel));
    const QString name = QString::fromUtf8(ChannelList::textOf(item, kColumnName));
    for (int i = 0; i < kPresetCount; ++i) {
      if (state_->presets[i] == channel) {
        presets_[i]->setText(name.left(static_cast<int>(kPresetCaptionLimit)));
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
  card_label_->setText(QString::fromStdString(DottedAddress(state_->local_address)));
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

void SelectorDialog::openCardMenu(const QPoint& point) {
  const std::vector<CardMenuItem> items = CardMenuItems(listCards(), state_->local_address);
  if (items.empty()) return;
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("cardMenu"));
  for (const CardMenuItem& item : items) {
    QAction* action = menu.addAction(QString::fromUtf8(item.text));
    action->setData(QVariant::fromValue<uint>(item.address));
    action->setCheckable(true);
    action->setChecked(item.checked);
  }
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
  if (spy_api_->Open(&spy, state_->local_address, kSelectorSpyPort) != SPY_OK) return;
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
