#include "app/StatusLine.h"

#include <QPainter>
#include <QStyle>

namespace tuva::app {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
  // The width is what the row leaves it.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize StatusLine::minimumSizeHint() const {
  const QMargins margins = contentsMargins();
  return {fontMetrics().averageCharWidth() * 4 + margins.left() + margins.right(),
          fontMetrics().height() + margins.top() + margins.bottom()};
}

void StatusLine::paintEvent(QPaintEvent*) {
  const QRect room = contentsRect();
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
  // The whole text on hovering whenever it is cut; a line that fits needs no tooltip.
  setToolTip(shown == text() ? QString() : text());
  QPainter painter(this);
  style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                        palette(), isEnabled(), shown, foregroundRole());
}

}  // namespace tuva::app
