// The status lines of the series window (its progress, the records' state, the list's use, the
// label printer's): one line each, however long the text (after Stop, or closing during a run, or a
// database's whole URL). A text wider than the room the window has ends in "…" and is shown whole
// in the line's tooltip, instead of widening the window past the screen's edge.
#pragma once

#include <QLabel>

namespace tuva::app {

class StatusLine : public QLabel {
 public:
  explicit StatusLine(QWidget* parent);

  // As narrow as a few letters: the window, not the text, decides the width.
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tuva::app
