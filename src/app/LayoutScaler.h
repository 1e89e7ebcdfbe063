// Proportional scaling of the window's controls.
//
// The design layout of every control is recorded once, when the window is created: its bounds
// and its font size. On every resize each control gets its design bounds times the horizontal and
// vertical factors (current size / design size) and its design font size times the smaller
// factor, each product truncated toward zero. The controls are the widgets of the design canvas
// and, recursively, of its containers (group boxes, frames and plain widgets); the inner parts of
// compound controls (the edit of a spin box, the list of a combo box) follow their control.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace tuva::app {

class LayoutScaler {
 public:
  // Records the design size and the bounds and font size of every control under `canvas`.
  void Capture(QWidget* canvas, QSize designSize);

  // Applies the factors of `current` against the design size.
  void Scale(QSize current);

  QSize designSize() const { return designSize_; }
  // Design bounds and font size of a control; an empty rect / -1 when it was not recorded.
  QRect DesignBounds(const QWidget* control) const;
  int DesignFontSize(const QWidget* control) const;

  static double Factor(int current, int design);

  // The recorded controls, in the order they were recorded.
  std::vector<QWidget*> Controls() const;

 private:
  struct Record {
    QPointer<QWidget> control;
    QRect bounds;
    int fontSize;  // points, or pixels when the font was given in pixels
    bool inPixels;
  };
  void CaptureChildren(QWidget* parent);

  QSize designSize_;
  std::vector<Record> records_;
};

// Makes each prompt edit exactly as wide as 22 letters "A" in its font, measured with the hidden
// label `measure`, and lets it take at most 21 characters.
void FitToPromptWidth(QLabel* measure, const std::vector<QLineEdit*>& prompts);

// True for widgets whose children are controls of the window rather than parts of one control.
bool IsContainer(const QWidget* widget);

}  // namespace tuva::app
