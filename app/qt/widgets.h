// The two widgets the form needs beyond Qt's own: the percentage gauge and
// the model that shows a table object's records in a grid.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <map>
#include <string>

#include "ui/controls.h"

namespace cg::qt {

// Paints a TGauge: a green fill over white, the percentage text ("%d%%")
// centred, drawn in the colour opposite to what lies under it.
class GaugeWidget : public QWidget {
 public:
  GaugeWidget(const TGauge& gauge, QWidget* parent);
  int paints() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  const TGauge& gauge_;
  int paints_ = 0;
};

// A read-only, one-column model over a table object: its rows in the order
// of the current index, the column's text fetched in blocks. Errors of the
// engine show as an empty grid rather than crossing into Qt.
class TableModel : public QAbstractTableModel {
 public:
  TableModel(TGrid& grid, QObject* parent);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Re-reads the table (after it was opened, closed or changed).
  void refresh();
  // The current record's row (0-based), or -1.
  int currentRow() const;

 private:
  TGrid& grid_;
  int rows_ = 0;
  mutable std::map<int, QString> cache_;
};

}  // namespace cg::qt
