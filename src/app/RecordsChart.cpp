#include "app/RecordsChart.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QPainter>
#include <QTimeZone>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <vector>

namespace tuva::app {
namespace {

constexpr int kDayHours = 24;    // the chart shows the last day of the records at most
constexpr int kFewestHours = 8;  // and never fewer hours, so one hour's bars stay bars
constexpr QRgb kFailed = 0xd62728;
// One colour per station, in the order of their names; none of them red.
constexpr QRgb kStationColours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0x9467bd,
                                    0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22};

// The hour a summary row counts ("2026-12-07T14:00Z"), in hours since 1970; nothing for a period
// that is not an hour.
std::optional<qint64> HourOf(const records::SummaryRow& row) {
  const QDateTime time = QDateTime::fromString(QString::fromStdString(row.period), Qt::ISODate);
  if (!time.isValid()) return std::nullopt;
  return time.toSecsSinceEpoch() / 3600;
}

// The step of the scale's lines: 1, 2 or 5 times a power of ten, at most `lines` lines (and at
// most five) above 0 up to `most`.
int ScaleStep(std::size_t most, int lines) {
  lines = std::clamp(lines, 1, 5);
  for (int power = 1;; power *= 10) {
    for (const int step : {power, 2 * power, 5 * power}) {
      if (most <= static_cast<std::size_t>(step) * static_cast<std::size_t>(lines)) return step;
    }
  }
}

QString Tooltip(const records::SummaryRow& row, const QDateTime& hour) {
  QString text = QStringLiteral("%1, %2 UTC: %3 programmed")
                     .arg(QString::fromStdString(row.station),
                          hour.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                     .arg(row.programmed);
  if (row.reprovisioned > 0) text += QStringLiteral(", %1 re-provisioned").arg(row.reprovisioned);
  if (row.skipped > 0) text += QStringLiteral(", %1 skipped").arg(row.skipped);
  if (row.failed > 0) text += QStringLiteral(", %1 failed").arg(row.failed);
  for (const auto& [cause, count] : row.causes) {
    text += QStringLiteral("\n  %1: %2").arg(QString::fromStdString(cause)).arg(count);
  }
  return text;
}

}  // namespace

RecordsChart::RecordsChart(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("chartRecords"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void RecordsChart::Show(std::vector<records::SummaryRow> hours) {
  hours_ = std::move(hours);
  update();
}

// At its smallest, the bars stand four and a half lines high: a line above them for the scale's
// top number, two and a half below for the hours and the dates.
QSize RecordsChart::minimumSizeHint() const {
  return {40 * fontMetrics().averageCharWidth(), 8 * fontMetrics().lineSpacing()};
}

QSize RecordsChart::sizeHint() const {
  return {80 * fontMetrics().averageCharWidth(), 14 * fontMetrics().lineSpacing()};
}

void RecordsChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().base());
  bars_.clear();
  const QFontMetrics metrics = fontMetrics();
  const int line = metrics.lineSpacing();

  // The hours shown: the last day of the records, ending at their newest hour.
  std::map<std::string, int> stations;
  qint64 last = 0;
  qint64 first = 0;
  bool any = false;
  for (const records::SummaryRow& row : hours_) {
    const auto hour = HourOf(row);
    if (!hour) continue;
    last = any ? std::max(last, *hour) : *hour;
    first = any ? std::min(first, *hour) : *hour;
    any = true;
  }
  first = std::min(std::max(first, last - kDayHours + 1), last - kFewestHours + 1);
  const int slots = static_cast<int>(last - first + 1);
  std::size_t most = 1;
  for (const records::SummaryRow& row : hours_) {
    const auto hour = HourOf(row);
    if (!hour || *hour < first) continue;
    stations.emplace(row.station, 0);
    most = std::max(most, row.boards() + row.failed);
  }
  if (!any) {
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("No boards recorded"));
    return;
  }
  int index = 0;
  for (auto& [name, colour] : stations) colour = index++;

  // The legend, right of the bars, a line each: the stations' colours, then the failures'. The
  // height goes to the bars; the width is there to spare.
  const QString failed = QStringLiteral("failed");
  int names = metrics.horizontalAdvance(failed);
  for (const auto& [name, colour] : stations) {
    names = std::max(names, metrics.horizontalAdvance(QString::fromStdString(name)));
  }
  const int legend = width() - line - names - line;  // where the legend's colours stand
  int y = line / 2;
  auto key = [&](const QColor& colour, const QString& name) {
    painter.fillRect(QRect(legend, y + line / 6, line * 2 / 3, line * 2 / 3), colour);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QPoint(legend + line, y + metrics.ascent()), name);
    y += line;
  };
  for (const auto& [name, colour] : stations) {
    key(QColor(kStationColours[colour % std::size(kStationColours)]), QString::fromStdString(name));
  }
  key(QColor(kFailed), failed);

  // The scale's numbers stand a line apart at least.
  const int bottom = height() - 2 * line - line / 2;
  const int step = ScaleStep(most, (bottom - line) / (line + line / 2));
  const int top = static_cast<int>((most + step - 1) / step) * step;
  const QRect plot(QPoint(metrics.horizontalAdvance(QString::number(top)) + line, line),
                   QPoint(legend - line, bottom));
  if (plot.width() <= slots || plot.height() <= line) return;  // no room for a bar
  const double scale = static_cast<double>(plot.height()) / top;

  // The scale: a faint line and its number every `step` boards.
  for (int value = 0; value <= top; value += step) {
    const int y = plot.bottom() - static_cast<int>(std::lround(value * scale));
    painter.setPen(palette().color(value == 0 ? QPalette::Text : QPalette::Midlight));
    painter.drawLine(plot.left(), y, plot.right(), y);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRect(0, y - line / 2, plot.left() - line / 3, line),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(value));
  }

  // The hours under their bars, as many as fit; the date under the first and under midnight.
  const double slot = static_cast<double>(plot.width()) / slots;
  const int every = std::max(
      1, static_cast<int>(
             std::ceil((metrics.horizontalAdvance(QStringLiteral("00:00")) + line / 2) / slot)));
  painter.setPen(palette().color(QPalette::Text));
  std::vector<std::pair<int, QString>> dates;  // under the first hour and under each midnight
  for (int i = 0; i < slots; ++i) {
    const QDateTime hour = QDateTime::fromSecsSinceEpoch((first + i) * 3600, QTimeZone::utc());
    const int left = plot.left() + static_cast<int>(i * slot);
    if (i % every == 0) {
      painter.drawText(QRect(left, plot.bottom() + 2, static_cast<int>(slot * every), line),
                       Qt::AlignLeft, hour.toString(QStringLiteral("HH:mm")));
    }
    if (i == 0 || hour.time().hour() == 0) {
      dates.emplace_back(left, hour.toString(QStringLiteral("yyyy-MM-dd")));
    }
  }
  // The latest first: a date that would run into the next one kept is left out. The earliest
  // kept says that the hours are UTC when there is room before the next, else the latest does.
  std::vector<std::pair<int, QString>> kept;
  int next = width();
  for (auto date = dates.rbegin(); date != dates.rend(); ++date) {
    if (date->first + metrics.horizontalAdvance(date->second) + line / 2 > next) continue;
    next = date->first;
    kept.push_back(*date);
  }
  const QString utc = QStringLiteral(" (UTC)");
  const auto fits = [&](std::size_t at) {
    const int room = at > 0 ? kept[at - 1].first : width();
    return kept[at].first + metrics.horizontalAdvance(kept[at].second + utc) + line / 2 <= room;
  };
  if (!kept.empty()) kept[fits(kept.size() - 1) ? kept.size() - 1 : 0].second += utc;
  for (const auto& [left, text] : kept) {
    painter.drawText(QPoint(left, plot.bottom() + 2 + line + metrics.ascent()), text);
  }

  // A bar per station and hour: its boards in the station's colour, its failures above in red.
  const double bar = slot * 0.8 / static_cast<double>(stations.size());
  for (const records::SummaryRow& row : hours_) {
    const auto hour = HourOf(row);
    if (!hour || *hour < first) continue;
    const int colour = stations[row.station];
    const int left =
        plot.left() +
        static_cast<int>(std::lround((*hour - first) * slot + slot * 0.1 + colour * bar));
    const int wide = std::max(1, static_cast<int>(std::lround(bar)) - 1);
    const int boards = static_cast<int>(std::lround(row.boards() * scale));
    const int failed = static_cast<int>(std::lround(row.failed * scale));
    const QRect done(left, plot.bottom() - boards, wide, boards);
    const QRect lost(left, done.top() - failed, wide, failed);
    painter.fillRect(done, QColor(kStationColours[colour % std::size(kStationColours)]));
    painter.fillRect(lost, QColor(kFailed));
    bars_.emplace_back(done.united(lost).adjusted(0, -2, 0, 0),
                       Tooltip(row, QDateTime::fromSecsSinceEpoch(*hour * 3600, QTimeZone::utc())));
  }
}

bool RecordsChart::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const QPoint at = static_cast<QHelpEvent*>(event)->pos();
  const auto bar = std::find_if(bars_.begin(), bars_.end(),
                                [&](const auto& drawn) { return drawn.first.contains(at); });
  if (bar == bars_.end()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), bar->second, this);
  }
  return true;
}

}  // namespace tuva::app
