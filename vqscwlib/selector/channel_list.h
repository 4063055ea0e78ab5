// The report-view list of channels: one row per channel, keyed by the channel number it carries
// as item data, with the columns Channel, Name, Category and Preset. Cell texts are kept as the
// UTF-8 bytes they were set from, which is what sorting compares and what a taken name copies.
//
// The list only holds rows; what goes into them is the dialog's business. Rows are found by
// channel through an index, so adding or updating a row costs the same however long the list.
//
// Typing in the list selects the next row whose channel number begins with the digits typed, or
// whose name begins with the text typed (see type_ahead.h); keys count as one search while they
// follow each other within the platform's keyboard input interval, timed by TickCount().
#ifndef VQSCWLIB_SELECTOR_CHANNEL_LIST_H_
#define VQSCWLIB_SELECTOR_CHANNEL_LIST_H_

#include <QHash>
#include <QTreeWidget>
#include <cstdint>
#include <string>

#include "vqscwlib/selector/type_ahead.h"

namespace vqscw {

class ChannelList : public QTreeWidget {
  Q_OBJECT

 public:
  // Pixel widths of the four columns.
  static constexpr int kColumnWidths[] = {60, 220, 80, 50};

  explicit ChannelList(QWidget* parent = nullptr);

  int rowCount() const { return topLevelItemCount(); }

  // Removes every row. Hides QTreeWidget::clear(), which would leave the index stale.
  void clear();

  // The row carrying `channel`, or null.
  QTreeWidgetItem* findItem(int32_t channel) const { return by_channel_.value(channel, nullptr); }

  // Appends an empty row for `channel`. REQUIRES: no row carries it yet.
  QTreeWidgetItem* appendItem(int32_t channel);

  static int32_t channelOf(const QTreeWidgetItem* item);
  static std::string textOf(const QTreeWidgetItem* item, int column);
  static void setTextOf(QTreeWidgetItem* item, int column, const std::string& text);

  // The same by row index: -1 when no row carries the channel.
  int findRow(int32_t channel) const;
  int32_t channelAt(int row) const;
  std::string cellText(int row, int column) const;

  // The selected row, or -1.
  int selectedRow() const;
  void selectRow(int row);

  // Sorts the rows ascending by `column` (stable); the selection stays with its row.
  void sortRows(int column);

  // The cell's rectangle in the coordinates of `widget`, which must be an ancestor of the list.
  QRect cellRect(int row, int column, const QWidget* widget) const;

  // Type-ahead: `search` is what was typed now; selects and shows the row it finds.
  void keyboardSearch(const QString& search) override;

 signals:
  // The user began to drag the selected row (pressed it and moved the pointer far enough). The
  // list starts no drag of its own.
  void dragBegun();

 protected:
  void startDrag(Qt::DropActions supported) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Marks the keyboard focus along the inside of the list, also while it has no rows.
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  QHash<int32_t, QTreeWidgetItem*> by_channel_;
  TypeAhead type_ahead_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_CHANNEL_LIST_H_
