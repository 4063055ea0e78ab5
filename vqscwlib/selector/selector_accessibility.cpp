#include "vqscwlib/selector/selector_accessibility.h"

#include <QAccessibleWidget>

#include "vqscwlib/selector/card_label.h"
#include "vqscwlib/selector/control_help.h"
#include "vqscwlib/selector/level_meter.h"
#include "vqscwlib/selector/preview_rules.h"
#include "vqscwlib/selector/status_line.h"

namespace vqscw {
namespace {

class MeterView : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit MeterView(LevelMeter* meter) : QAccessibleWidget(meter, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QAccessible::State state() const override {
    // The meter takes no input, which the widget says by being disabled; to a listener it is a
    // working display.
    QAccessible::State state = QAccessibleWidget::state();
    state.disabled = false;
    state.readOnly = true;
    return state;
  }

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) {
      return QString::fromStdString(MeterValueText(meter()->showingLevels(),
                                                   meter()->litSegments(kMeterLeft),
                                                   meter()->litSegments(kMeterRight)));
    }
    return QAccessibleWidget::text(kind);
  }

  QVariant currentValue() const override {
    return std::max(meter()->litSegments(kMeterLeft), meter()->litSegments(kMeterRight));
  }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return kMeterSegments; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  LevelMeter* meter() const { return static_cast<LevelMeter*>(widget()); }
};

class CardLabelView : public QAccessibleWidget {
 public:
  explicit CardLabelView(CardLabel* label) : QAccessibleWidget(label, QAccessible::ButtonMenu) {
    addControllingSignal(QStringLiteral("menuRequested()"));
  }

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return label()->text();
    return QAccessibleWidget::text(kind);
  }

  QStringList actionNames() const override {
    return QStringList{pressAction(), showMenuAction()} + QAccessibleWidget::actionNames();
  }

  void doAction(const QString& action) override {
    if (action == pressAction() || action == showMenuAction()) {
      label()->requestMenu();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  CardLabel* label() const { return static_cast<CardLabel*>(widget()); }
};

class StatusLineView : public QAccessibleWidget {
 public:
  explicit StatusLineView(StatusLine* line) : QAccessibleWidget(line, QAccessible::StatusBar) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) {
      return static_cast<const StatusLine*>(widget())->text().trimmed();
    }
    return QAccessibleWidget::text(kind);
  }
};

QAccessibleInterface* SelectorViews(const QString& class_name, QObject* object) {
  if (object == nullptr || !object->isWidgetType()) return nullptr;
  if (class_name == QLatin1String(LevelMeter::staticMetaObject.className())) {
    return new MeterView(static_cast<LevelMeter*>(object));
  }
  if (class_name == QLatin1String(CardLabel::staticMetaObject.className())) {
    return new CardLabelView(static_cast<CardLabel*>(object));
  }
  if (class_name == QLatin1String(StatusLine::staticMetaObject.className())) {
    return new StatusLineView(static_cast<StatusLine*>(object));
  }
  return nullptr;
}

}  // namespace

void InstallSelectorAccessibility() {
  static const bool installed = (QAccessible::installFactory(&SelectorViews), true);
  (void)installed;
}

}  // namespace vqscw
