#include "vqscwlib/selector/compact_slider.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <algorithm>

#include "vqscwlib/selector/focus_mark.h"

namespace vqscw {
namespace {

constexpr int kGrooveHeight = 4;

// The rectangle the handle travels in: the slider less its focus border.
QRect TravelRect(const QRect& slider) {
  const int b = CompactSlider::kFocusBorder;
  return slider.adjusted(b, b, -b, -b);
}

QRect HandleRectOf(const QStyleOptionSlider& option) {
  const QRect travel = TravelRect(option.rect);
  const int span = std::max(0, travel.width() - CompactSlider::kHandleLength);
  const int offset = QStyle::sliderPositionFromValue(
      option.minimum, option.maximum, option.sliderPosition, span, option.upsideDown);
  return QRect(travel.left() + offset, travel.top(), CompactSlider::kHandleLength, travel.height());
}

// The compact look for one slider; everything else is the base style's.
class CompactSliderStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    switch (metric) {
      case PM_SliderLength:
        return CompactSlider::kHandleLength;
      case PM_SliderThickness:
      case PM_SliderControlThickness:
        return option != nullptr ? option->rect.height() : kGrooveHeight;
      case PM_SliderTickmarkOffset:
        return 0;
      case PM_SliderSpaceAvailable:
        if (option != nullptr) {
          return std::max(0, TravelRect(option->rect).width() - CompactSlider::kHandleLength);
        }
        break;
      default:
        break;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

  // The slider reads the groove as the handle's travel and the handle's place from here, for
  // painting and for where a press lands alike.
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                       const QWidget* widget) const override {
    if (control == CC_Slider) {
      if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
        if (sub == SC_SliderGroove) return TravelRect(slider->rect);
        if (sub == SC_SliderHandle) return HandleRectOf(*slider);
        return {};
      }
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || slider == nullptr) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const QPalette& palette = slider->palette;
    const QRect travel = TravelRect(slider->rect);
    // The groove runs between the handle's centres at either end.
    const int inset = CompactSlider::kHandleLength / 2;
    const QRect groove(travel.left() + inset,
                       travel.top() + (travel.height() - kGrooveHeight + 1) / 2,
                       std::max(0, travel.width() - 2 * inset), kGrooveHeight);
    const QBrush channel = palette.brush(QPalette::Base);
    qDrawShadePanel(painter, groove, palette, true, 1, &channel);

    const QRect handle = HandleRectOf(*slider);
    const QBrush face = palette.brush(QPalette::Button);
    const bool pressed =
        (slider->activeSubControls & SC_SliderHandle) && (slider->state & State_Sunken);
    qDrawWinButton(painter, handle, palette, pressed, &face);

    if (slider->state & State_HasFocus) DrawFocusMark(painter, slider->rect, palette);
  }
};

}  // namespace

CompactSlider::CompactSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  // A style of its own, on a fresh copy of the application's style (a proxy takes ownership of
  // its base). The widget holds its style by a guarded pointer, so the style may go with the
  // widget's children.
  auto* style = new CompactSliderStyle(QStyleFactory::create(QApplication::style()->name()));
  style->setParent(this);
  setStyle(style);
  setTickPosition(QSlider::NoTicks);
}

QRect CompactSlider::handleRect() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

}  // namespace vqscw
