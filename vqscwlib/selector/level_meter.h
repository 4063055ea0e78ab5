// The level meter beside the Preview button: two columns of ten segments showing the peak levels
// of the preview's left and right channel since the meter was last painted. While no preview runs
// (its levels cannot be read) the meter shows the dialog's background colour.
//
// The meter is drawn in its item rectangle: the widget less a margin at its right edge, which
// shows the background and keeps the meter apart from the control beside it.
#ifndef VQSCWLIB_SELECTOR_LEVEL_METER_H_
#define VQSCWLIB_SELECTOR_LEVEL_METER_H_

#include <QColor>
#include <QWidget>

namespace vqscw {

class PreviewApi;

class LevelMeter : public QWidget {
  Q_OBJECT

 public:
  explicit LevelMeter(QWidget* parent = nullptr);

  // The colour of the idle meter: the dialog's background below its header image.
  void setIdleColour(const QColor& colour);

  // Where the levels come from; null (the start) keeps the meter idle. Each painting asks once,
  // and each asking resets the preview's peaks. `preview` must outlive the meter.
  void setLevelSource(PreviewApi* preview);

  // Pixels at the right edge left to the background; 0 at the start.
  void setRightMargin(int pixels);
  // Where the meter is drawn, in the widget's coordinates.
  QRect itemRect() const;

  // What the last painting showed: whether it showed levels, and the segments lit in `column`
  // (0 while no levels are shown). Reading these does not ask the preview.
  bool showingLevels() const { return showing_; }
  int litSegments(int column) const { return lit_[column == 0 ? 0 : 1]; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor idle_colour_;
  PreviewApi* preview_ = nullptr;
  int right_margin_ = 0;
  bool showing_ = false;
  int lit_[2] = {0, 0};
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_LEVEL_METER_H_
