// Read-only tables of the series window: one row per board or attempt, the columns sized to their
// contents and the last one taking the rest of the width, its long texts elided with the whole
// text in the tooltip.
#pragma once

#include <QHeaderView>
#include <QStringList>
#include <QTableWidget>

namespace tuva::app {

inline QTableWidget* MakeTable(QWidget* parent, const QString& name, const QStringList& columns) {
  auto* table = new QTableWidget(0, static_cast<int>(columns.size()), parent);
  table->setObjectName(name);
  table->setHorizontalHeaderLabels(columns);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setWordWrap(false);
  table->setTextElideMode(Qt::ElideRight);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setSectionResizeMode(static_cast<int>(columns.size()) - 1,
                                                  QHeaderView::Stretch);
  return table;
}

inline int AppendRow(QTableWidget* table, const QStringList& cells) {
  const int row = table->rowCount();
  table->insertRow(row);
  for (int column = 0; column < cells.size(); ++column) {
    auto* item = new QTableWidgetItem(cells[column]);
    if (column == cells.size() - 1) item->setToolTip(cells[column]);
    table->setItem(row, column, item);
  }
  return row;
}

}  // namespace tuva::app
