// The level meter beside the Preview button: two columns of ten segments showing the peak levels
// of the preview's left and right channel since the meter was last painted. While no preview runs
// (its levels cannot be read) the meter shows the dialog's background colour.
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

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor idle_colour_;
  PreviewApi* preview_ = nullptr;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_LEVEL_METER_H_
