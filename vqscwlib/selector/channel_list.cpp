#include "vqscwlib/selector/channel_list.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <vector>

#include "vqscwlib/platform/clock.h"
#include "vqscwlib/selector/channel_rules.h"
#include "vqscwlib/selector/focus_mark.h"

namespace vqscw {
namespace {

constexpr int kChannelRole = Qt::UserRole;    // column 0: the channel number
constexpr int kBytesRole = Qt::UserRole + 1;  // every column: the cell's text as set

}  // namespace

ChannelList::ChannelList(QWidget* parent)
    : QTreeWidget(parent),
      type_ahead_(static_cast<uint32_t>(std::max(0, QApplication::keyboardInputInterval()))) {
  setColumnCount(kColumnCount);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setTextElideMode(Qt::ElideRight);
  header()->setStretchLastSection(false);
  header()->setSectionsClickable(true);
  header()->setSectionsMovable(false);
  header()->setSortIndicatorShown(false);
  for (int column = 0; column < kColumnCount; ++column) {
    header()->resizeSection(column, kColumnWidths[column]);
  }
}

void ChannelList::clear() {
  by_channel_.clear();
  QTreeWidget::clear();
}

QTreeWidgetItem* ChannelList::appendItem(int32_t channel) {
  auto* item = new QTreeWidgetItem();
  item->setData(kColumnChannel, kChannelRole, channel);
  addTopLevelItem(item);
  by_channel_.insert(channel, item);
  return item;
}

int32_t ChannelList::channelOf(const QTreeWidgetItem* item) {
  return item ? item->data(kColumnChannel, kChannelRole).toInt() : 0;
}

std::string ChannelList::textOf(const QTreeWidgetItem* item, int column) {
  return item ? item->data(column, kBytesRole).toByteArray().toStdString() : std::string();
}

void ChannelList::setTextOf(QTreeWidgetItem* item, int column, const std::string& text) {
  const QByteArray bytes = QByteArray::fromStdString(text);
  item->setData(column, kBytesRole, bytes);
  item->setText(column, QString::fromUtf8(bytes));
}

int ChannelList::findRow(int32_t channel) const {
  const QTreeWidgetItem* item = findItem(channel);
  return item ? indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) : -1;
}

int32_t ChannelList::channelAt(int row) const { return channelOf(topLevelItem(row)); }

std::string ChannelList::cellText(int row, int column) const {
  return textOf(topLevelItem(row), column);
}

int ChannelList::selectedRow() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void ChannelList::selectRow(int row) {
  QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr) return;
  setCurrentItem(item);
  item->setSelected(true);
}

void ChannelList::sortRows(int column) {
  if (column < 0 || column >= kColumnCount) return;
  QTreeWidgetItem* selected = selectedRow() >= 0 ? topLevelItem(selectedRow()) : nullptr;
  std::vector<QTreeWidgetItem*> items;
  items.reserve(static_cast<size_t>(rowCount()));
  while (rowCount() > 0) items.push_back(takeTopLevelItem(0));
  auto less = [column](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    if (column == kColumnChannel) {
      return CompareChannels(a->data(kColumnChannel, kChannelRole).toInt(),
                             b->data(kColumnChannel, kChannelRole).toInt()) < 0;
    }
    const QByteArray x = a->data(column, kBytesRole).toByteArray();
    const QByteArray y = b->data(column, kBytesRole).toByteArray();
    return CompareCells(std::string_view(x.constData(), static_cast<size_t>(x.size())),
                        std::string_view(y.constData(), static_cast<size_t>(y.size()))) < 0;
  };
  std::stable_sort(items.begin(), items.end(), less);
  for (QTreeWidgetItem* item : items) addTopLevelItem(item);
  if (selected != nullptr) {
    setCurrentItem(selected);
    selected->setSelected(true);
  }
}

void ChannelList::startDrag(Qt::DropActions) { emit dragBegun(); }

void ChannelList::paintEvent(QPaintEvent* event) {
  QTreeWidget::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(viewport());
  DrawFocusMark(&painter, viewport()->rect(), palette());
}

// The mark lines the whole viewport: it is drawn anew when the focus comes or goes, and after a
// scroll, which would otherwise move it with the rows.
void ChannelList::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  viewport()->update();
}

void ChannelList::focusOutEvent(QFocusEvent* event) {
  QTreeWidget::focusOutEvent(event);
  viewport()->update();
}

void ChannelList::scrollContentsBy(int dx, int dy) {
  QTreeWidget::scrollContentsBy(dx, dy);
  if (hasFocus()) viewport()->update();
}

void ChannelList::keyPressEvent(QKeyEvent* event) {
  // The view takes a space for selecting; within a search it is part of a name typed.
  const bool plain =
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  if (plain && event->key() == Qt::Key_Space && type_ahead_.Extends(TickCount())) {
    keyboardSearch(event->text());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void ChannelList::keyboardSearch(const QString& search) {
  const TypeAheadSearch find = type_ahead_.Type(search, TickCount());
  if (find.text.isEmpty()) return;
  std::vector<TypeAheadRow> rows;
  rows.reserve(static_cast<size_t>(rowCount()));
  for (int row = 0; row < rowCount(); ++row) {
    const QTreeWidgetItem* item = topLevelItem(row);
    rows.push_back({channelOf(item), item->text(kColumnName)});
  }
  int current = selectedRow();
  if (current < 0 && currentItem() != nullptr) current = indexOfTopLevelItem(currentItem());
  const int found = FindTypeAheadRow(rows, current, find);
  if (found < 0) return;
  clearSelection();
  selectRow(found);
  scrollToItem(topLevelItem(found));
}

QRect ChannelList::cellRect(int row, int column, const QWidget* widget) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr) return {};
  QRect cell = visualItemRect(item);
  cell.setLeft(header()->sectionViewportPosition(column));
  cell.setWidth(header()->sectionSize(column));
  return QRect(viewport()->mapTo(widget, cell.topLeft()), cell.size());
}

}  // namespace vqscw
