#include "app/qt/widgets.h"

#include <QPainter>

#include "app/qt/look.h"
#include "data/engine/engine.h"

namespace cg::qt {

GaugeWidget::GaugeWidget(const TGauge& gauge, QWidget* parent) : QWidget(parent), gauge_(gauge) {}

void GaugeWidget::paintEvent(QPaintEvent*) {
  ++paints_;
  QPainter p(this);
  const QRect all = rect();
  const QRect inner = all.adjusted(1, 1, -1, -1);
  const QColor back = colourOf(gauge_.backColor, palette());
  const QColor fore = colourOf(gauge_.foreColor, palette());
  p.fillRect(all, back);
  const int filled = inner.width() * gauge_.percentDone() / 100;
  const QRect bar(inner.left(), inner.top(), filled, inner.height());
  p.fillRect(bar, fore);
  p.setPen(palette().color(QPalette::Dark));
  p.drawRect(all.adjusted(0, 0, -1, -1));

  // The text inverted: light over the bar, dark over the background.
  p.setFont(fontOf(gauge_.font));
  const QString text = QString::fromStdString(gauge_.text());
  p.save();
  p.setClipRect(bar);
  p.setPen(back);
  p.drawText(inner, Qt::AlignCenter, text);
  p.restore();
  p.setClipRect(QRect(bar.right() + 1, inner.top(), inner.width() - filled, inner.height()));
  p.setPen(QColor(0, 0, 0));
  p.drawText(inner, Qt::AlignCenter, text);
}

TableModel::TableModel(TGrid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {}

int TableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int TableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant TableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_) return {};
  auto hit = cache_.find(index.row());
  if (hit != cache_.end()) return hit->second;
  constexpr int kBlock = 64;
  const int first = index.row() / kBlock * kBlock;
  try {
    if (!grid_.dataSet || !grid_.dataSet->active()) return {};
    std::vector<std::string> values = grid_.dataSet->fieldValues(grid_.column, first + 1, kBlock);
    for (std::size_t i = 0; i < values.size(); ++i) cache_[first + static_cast<int>(i)] = qtext(values[i]);
  } catch (const std::exception&) {
    return {};
  }
  hit = cache_.find(index.row());
  return hit != cache_.end() ? QVariant(hit->second) : QVariant();
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal && section == 0) return qtext(grid_.column);
  return {};
}

void TableModel::refresh() {
  beginResetModel();
  cache_.clear();
  rows_ = 0;
  try {
    if (grid_.dataSet && grid_.dataSet->active()) rows_ = grid_.dataSet->recordCount();
  } catch (const std::exception&) {
    rows_ = 0;
  }
  endResetModel();
}

int TableModel::currentRow() const {
  try {
    if (grid_.dataSet && grid_.dataSet->active()) return grid_.dataSet->recNo() - 1;
  } catch (const std::exception&) {
  }
  return -1;
}

}  // namespace cg::qt
