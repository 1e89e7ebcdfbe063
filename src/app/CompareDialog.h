// Compare with Board: the board's configuration, read into a scratch image, set field by field
// against the window's image. The dialog lists one row per differing field (name, label, the
// board's value, the window's value), the fields of the editors first in the window's order and
// the derived ones folded by family at the end, or says that the board holds this configuration.
// It is not modal: the technician keeps it beside the window while correcting the fields it names.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTableWidget>

#include "image/ConfigImage.h"

namespace tuva::app {

inline const QString kCompareCaption = QStringLiteral("Compare with Board");
inline const QString kBoardHoldsConfiguration =
    QStringLiteral("The board holds this configuration.");

class CompareDialog : public QDialog {
  Q_OBJECT
 public:
  CompareDialog(const ConfigImage& board, const ConfigImage& window, QWidget* parent = nullptr);

  // The summary line above the rows, and the rows (columns Name, Label, Board, Window).
  QLabel* summary() const { return summary_; }
  QTableWidget* table() const { return table_; }

 private:
  QLabel* summary_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace tuva::app
