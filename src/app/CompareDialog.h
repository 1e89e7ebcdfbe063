// Compare with Board: the board's configuration, read into a scratch image, set field by field
// against the window's image. The dialog lists one row per differing field (name, label, the
// board's value, the window's value), the fields of the editors first in the window's order and
// the derived ones folded by family at the end, or says that the board holds this configuration.
// It is not modal: the technician keeps it beside the window while correcting the fields it names.
//
// Check Against Records shows its answer in the same dialog: the board read, held against what
// the records say it was programmed with (series/BoardCheck.h); the summary names the attempt, or
// why none is named, and the rows are the fields in which the board differs from what was written.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTableWidget>

#include "features/FieldDiff.h"
#include "image/ConfigImage.h"
#include "series/BoardCheck.h"

namespace tuva::app {

inline const QString kCompareCaption = QStringLiteral("Compare with Board");
inline const QString kCheckCaption = QStringLiteral("Check Against Records");
inline const QString kBoardHoldsConfiguration =
    QStringLiteral("The board holds this configuration.");

class CompareDialog : public QDialog {
  Q_OBJECT
 public:
  CompareDialog(const ConfigImage& board, const ConfigImage& window, QWidget* parent = nullptr);
  // Columns Name, Label, Recorded, Board.
  CompareDialog(const series::BoardCheck& check, QWidget* parent = nullptr);

  // The summary line above the rows, and the rows (columns Name, Label, Board, Window).
  QLabel* summary() const { return summary_; }
  QTableWidget* table() const { return table_; }

 private:
  void Fill(const QString& summary, const ReadableDiff& diff, const QString& first,
            const QString& second);

  QLabel* summary_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace tuva::app
