// One live row per port of a running series, as a gang programmer shows one tile per socket: the
// port, what it is doing ("writing 43 %", "programmed 1500003 — remove the board"), the capcodes
// of the board on it and the seconds since that board was found. The state is told in words and
// in colour, never in colour alone, and the station view makes the rows large enough to read from
// a step away.
#pragma once

#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>
#include <map>
#include <string>
#include <vector>

#include "series/SeriesRun.h"

namespace tuva::app {

class PortRows : public QTableWidget {
  Q_OBJECT
 public:
  explicit PortRows(QWidget* parent);

  // A run starts on these ports: one row each, waiting.
  void Reset(const std::vector<std::string>& ports);
  void Show(const series::PortStatus& status);
  // The rows' text size: 1 normal, larger for the station view.
  void SetZoom(double zoom);
  // The ports whose board is being written or verified now.
  QStringList BusyPorts() const;
  // Whether a port waits for a board (or for its adapter).
  bool AnyWaiting() const;

 private:
  struct Row {
    int index = 0;
    series::PortStatus status;
    QElapsedTimer since;  // from the status's arrival
  };
  void Paint(Row& row);
  void Tick();
  void FitHeight();

  std::map<std::string, Row> rows_;
  QTimer ticker_;  // the seconds of boards being written go on counting
  double baseSize_ = 0;
};

}  // namespace tuva::app
