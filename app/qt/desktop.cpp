#include "app/qt/desktop.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>
#include <map>

#include "app/form/form.h"
#include "app/qt/main_window.h"

namespace cg::qt {
namespace {

// The gauges on screen, for the accessibility factory.
std::map<const QObject*, const TGauge*>& gauges() {
  static std::map<const QObject*, const TGauge*> all;
  return all;
}

// The gauge as a progress bar with a value for assistive technology.
class GaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  GaugeAccessible(QWidget* w, const TGauge& gauge)
      : QAccessibleWidget(w, QAccessible::ProgressBar), gauge_(gauge) {}
  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return QString::fromStdString(gauge_.text());
    return QAccessibleWidget::text(t);
  }
  QVariant currentValue() const override { return gauge_.progress(); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return gauge_.maxValue(); }
  QVariant minimumValue() const override { return gauge_.minValue(); }
  QVariant minimumStepSize() const override { return 1; }

 private:
  const TGauge& gauge_;
};

QAccessibleInterface* gaugeFactory(const QString&, QObject* object) {
  auto it = gauges().find(object);
  if (it == gauges().end() || !object->isWidgetType()) return nullptr;
  return new GaugeAccessible(static_cast<QWidget*>(object), *it->second);
}

}  // namespace

void PlaceCentred(QWidget& window, QSize outer) {
  QScreen* screen = window.screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QSize frame = window.frameGeometry().size() - window.geometry().size();
  const QSize size = outer.boundedTo(area.size());
  window.resize(size - frame);
  QRect place(QPoint(0, 0), size);
  place.moveCenter(area.center());
  // The title bar and the left edge stay on screen.
  place.moveTopLeft(QPoint(std::max(place.left(), area.left()), std::max(place.top(), area.top())));
  window.move(place.topLeft());
}

void FitTitle(QMessageBox& box) {
  // The title bar holds the title, the window's icon and its buttons.
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  const int buttons = 4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  const int width = metrics.horizontalAdvance(box.windowTitle()) + buttons;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

void NameControls(MainWindow& window, const TFormConsistGeral& form) {
  // The gauge's own interface, before anything asks for one (Qt keeps the
  // first it makes).
  static const bool installed = [] {
    QAccessible::installFactory(gaugeFactory);
    return true;
  }();
  (void)installed;
  if (QWidget* w = window.widgetFor("TermCG")) {
    gauges()[w] = &form.TermCG;
    QObject::connect(w, &QObject::destroyed, [w] { gauges().erase(w); });
  }
  struct Name {
    const char* component;
    const char* name;
  };
  const Name names[] = {
      {"Edit1", "Desconto máximo padrão (%)"},       {"GradeCliAntigos", "Clientes no formato original"},
      {"GradeCliNovos", "Clientes no formato novo"}, {"GradeMedAntigos", "Médicos no formato original"},
      {"GradeMedNovos", "Médicos no formato novo"},  {"TermCG", "Progresso"},
      {"LabelTempo", "Tempo decorrido e restante"},
  };
  for (const Name& n : names)
    if (QWidget* w = window.widgetFor(n.component)) w->setAccessibleName(QString::fromUtf8(n.name));
}

}  // namespace cg::qt
