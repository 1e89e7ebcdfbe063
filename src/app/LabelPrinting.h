// The series window's labels: a label per programmed board on a printer chosen once in the
// desktop's print dialog. The label is the one `tuvactl series --labels` writes as PDF, drawn at
// the printer's resolution on a page of the label's size.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPrinter>
#include <QSettings>
#include <QWidget>
#include <memory>
#include <vector>

#include "labels/SeriesLabels.h"
#include "series/SeriesRun.h"

namespace tuva::app {

class LabelPrinting : public QWidget {
 public:
  explicit LabelPrinting(QWidget* parent);

  // Checking the box opens the print dialog (the page preset to 62x29mm); cancelling it leaves
  // the box unchecked. Once chosen, the printer serves every later run.
  QCheckBox* enabled = nullptr;
  QLabel* status = nullptr;  // the printer, or why the last label was not printed

  // Takes the printer to use, without the dialog.
  void UsePrinter(std::unique_ptr<QPrinter> printer);
  // Keeps the box and the printer chosen (its name or PDF file, and its page) in `settings`, and
  // puts them back without the dialog. A printer no longer there is not put back: the box stays
  // unchecked and `status` says so, so that labels never go to another printer.
  void Save(QSettings& settings) const;
  void Restore(const QSettings& settings);
  // A run starts: its frequency and station go on every label.
  void Begin(const series::SeriesPlan& plan);
  // Prints the board's label when the box is checked and the board was programmed. A label that
  // cannot be printed is said in `status`; the board stays programmed. A printer prints each
  // label as a job of its own; a PDF file is written again with every label printed to it since
  // it was chosen, one page each, so that no label replaces the one before it.
  void Print(const series::BoardReport& report);

 private:
  bool Choose();
  void PrintOnPrinter(const labels::BoardFacts& facts);
  void WriteFile(const labels::BoardFacts& facts);

  std::unique_ptr<QPrinter> printer_;
  labels::SeriesFacts facts_;
  std::vector<labels::BoardFacts> filed_;  // the labels in the PDF file, oldest first
};

}  // namespace tuva::app
