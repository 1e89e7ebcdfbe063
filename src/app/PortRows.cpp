#include "app/PortRows.h"

#include <QHeaderView>
#include <algorithm>

#include "app/TableRows.h"

namespace tuva::app {
namespace {

enum Column { kPort, kState, kCapcodes, kSeconds };

bool Busy(series::PortState state) {
  return state == series::PortState::Writing || state == series::PortState::Verifying ||
         state == series::PortState::Reading || state == series::PortState::Firmware;
}

// Background of a state: amber while the board must stay, green once it may go, red when it
// failed; the waiting states keep the table's own colour.
QColor Shade(series::PortState state) {
  switch (state) {
    case series::PortState::Writing:
    case series::PortState::Verifying:
    case series::PortState::Reading:
    case series::PortState::Firmware:
      return QColor(255, 214, 120);
    case series::PortState::Programmed:
      return QColor(150, 220, 150);
    case series::PortState::AlreadyProgrammed:
      return QColor(170, 200, 240);
    case series::PortState::Failed:
      return QColor(240, 150, 150);
    case series::PortState::NoDevice:
    case series::PortState::Waiting:
      break;
  }
  return QColor();
}

}  // namespace

PortRows::PortRows(QWidget* parent) : QTableWidget(0, 4, parent) {
  setObjectName(QStringLiteral("tblPorts"));
  setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("State"),
                             QStringLiteral("Capcodes"), QStringLiteral("Seconds")});
  verticalHeader()->setVisible(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
  setWordWrap(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  horizontalHeader()->setSectionResizeMode(kState, QHeaderView::Stretch);
  baseSize_ = font().pointSizeF();
  setVisible(false);  // until a run starts
  ticker_.setInterval(1000);
  connect(&ticker_, &QTimer::timeout, this, [this] { Tick(); });
}

void PortRows::Reset(const std::vector<std::string>& ports) {
  rows_.clear();
  setRowCount(0);
  for (const std::string& port : ports) {
    series::PortStatus waiting;
    waiting.port = port;
    Show(waiting);
  }
  ticker_.start();
  FitHeight();
}

// Every row shown without scrolling, up to eight ports; more scroll.
void PortRows::FitHeight() {
  resizeRowsToContents();
  int height = horizontalHeader()->sizeHint().height() + 2 * frameWidth();
  for (int row = 0; row < std::min(rowCount(), 8); ++row) height += rowHeight(row);
  setFixedHeight(height);
  setVisible(rowCount() > 0);
}

QStringList PortRows::BusyPorts() const {
  QStringList ports;
  for (const auto& [port, row] : rows_)
    if (Busy(row.status.state)) ports << QString::fromLocal8Bit(port);
  return ports;
}

bool PortRows::AnyWaiting() const {
  return std::any_of(rows_.begin(), rows_.end(), [](const auto& entry) {
    const series::PortState state = entry.second.status.state;
    return state == series::PortState::Waiting || state == series::PortState::NoDevice;
  });
}

void PortRows::Show(const series::PortStatus& status) {
  auto [at, added] = rows_.try_emplace(status.port);
  Row& row = at->second;
  if (added) {
    row.index = AppendRow(this, {QString::fromLocal8Bit(status.port), {}, {}, {}});
    FitHeight();
  }
  row.status = status;
  row.since.start();
  Paint(row);
}

void PortRows::Paint(Row& row) {
  const series::PortStatus& status = row.status;
  const double seconds = status.seconds + (Busy(status.state) ? row.since.elapsed() / 1000.0 : 0.0);
  const bool timed =
      status.state != series::PortState::Waiting && status.state != series::PortState::NoDevice;
  const QString texts[] = {QString::fromLocal8Bit(status.port),
                           QString::fromStdString(series::StatusText(status)),
                           QString::fromLocal8Bit(status.capcodes),
                           timed ? QString::number(seconds, 'f', 0) : QString()};
  const QColor shade = Shade(status.state);
  for (int column = 0; column < columnCount(); ++column) {
    QTableWidgetItem* cell = item(row.index, column);
    cell->setText(texts[column]);
    cell->setToolTip(texts[column]);
    cell->setBackground(shade.isValid() ? QBrush(shade) : QBrush());
    if (shade.isValid()) cell->setForeground(Qt::black);
  }
}

void PortRows::Tick() {
  for (auto& [port, row] : rows_)
    if (Busy(row.status.state)) {
      // Only the seconds move; the rest stays as the last status told it.
      item(row.index, kSeconds)
          ->setText(QString::number(row.status.seconds + row.since.elapsed() / 1000.0, 'f', 0));
    }
}

void PortRows::SetZoom(double zoom) {
  QFont larger = font();
  larger.setPointSizeF(baseSize_ * zoom);
  setFont(larger);
  horizontalHeader()->setFont(larger);
  FitHeight();
}

}  // namespace tuva::app
