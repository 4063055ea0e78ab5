// The level meter beside the Preview button. While no preview plays it shows the dialog's
// background colour.
#ifndef VQSCWLIB_SELECTOR_LEVEL_METER_H_
#define VQSCWLIB_SELECTOR_LEVEL_METER_H_

#include <QColor>
#include <QWidget>

namespace vqscw {

class LevelMeter : public QWidget {
  Q_OBJECT

 public:
  explicit LevelMeter(QWidget* parent = nullptr);

  // The colour of the idle meter: the dialog's background below its header image.
  void setIdleColour(const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor idle_colour_;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_LEVEL_METER_H_
