// The line at a glance, above the Records tab's table: the boards each station programmed in each
// hour (UTC) of the last day of the records, a bar per station, and its failed boards stacked
// above it in red. Drawn from the records' summary per hour; a bar's tooltip gives its numbers and
// the causes of its failures.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <utility>
#include <vector>

#include "records/Summary.h"

namespace tuva::app {

class RecordsChart : public QWidget {
  Q_OBJECT
 public:
  explicit RecordsChart(QWidget* parent);

  // The summary per hour, as records::Summary gives it; none shows an empty chart.
  void Show(std::vector<records::SummaryRow> hours);
  const std::vector<records::SummaryRow>& hours() const { return hours_; }

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  std::vector<records::SummaryRow> hours_;
  std::vector<std::pair<QRect, QString>> bars_;  // where each bar was drawn, and its tooltip
};

}  // namespace tuva::app
