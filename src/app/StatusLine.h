// The status lines of the series window (its progress, the records' state, the label printer's):
// a long one (after Stop, or closing during a run, or a database's whole URL) wraps inside the
// width the window has, instead of widening the window past the screen's edge.
#pragma once

#include <QLabel>

namespace tuva::app {

inline void WrapStatusLine(QLabel* label) {
  label->setWordWrap(true);
  // Its width is what the row leaves it; the height follows from the wrapped text.
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

}  // namespace tuva::app
