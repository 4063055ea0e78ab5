// The report-view list of channels: one row per channel, keyed by the channel number it carries
// as item data, with the columns Channel, Name, Category and Preset. Cell texts are kept as the
// UTF-8 bytes they were set from, which is what sorting compares and what a taken name copies.
//
// The list only holds rows; what goes into them is the dialog's business.
#ifndef VQSCWLIB_SELECTOR_CHANNEL_LIST_H_
#define VQSCWLIB_SELECTOR_CHANNEL_LIST_H_

#include <QTreeWidget>
#include <cstdint>
#include <string>

namespace vqscw {

class ChannelList : public QTreeWidget {
  Q_OBJECT

 public:
  // Pixel widths of the four columns.
  static constexpr int kColumnWidths[] = {60, 220, 80, 50};

  explicit ChannelList(QWidget* parent = nullptr);

  int rowCount() const { return topLevelItemCount(); }

  // The first row carrying `channel`, or -1.
  int findRow(int32_t channel) const;

  // Appends an empty row for `channel`; returns its index.
  int appendRow(int32_t channel);

  int32_t channelAt(int row) const;
  std::string cellText(int row, int column) const;
  void setCellText(int row, int column, const std::string& text);

  // The selected row, or -1.
  int selectedRow() const;
  void selectRow(int row);

  // Sorts the rows ascending by `column` (stable); the selection stays with its row.
  void sortRows(int column);

  // The cell's rectangle in the coordinates of `widget`, which must be an ancestor of the list.
  QRect cellRect(int row, int column, const QWidget* widget) const;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_CHANNEL_LIST_H_
