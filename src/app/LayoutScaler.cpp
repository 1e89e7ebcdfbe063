#include "app/LayoutScaler.h"

#include <QFrame>
#include <QGroupBox>
#include <algorithm>

#include "app/Controls.h"

namespace tuva::app {

bool IsContainer(const QWidget* widget) {
  if (qobject_cast<const QGroupBox*>(widget)) return true;
  const QMetaObject* meta = widget->metaObject();
  return meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject ||
         widget->property("Container").toBool();
}

void LayoutScaler::Capture(QWidget* canvas, QSize designSize) {
  designSize_ = designSize;
  records_.clear();
  CaptureChildren(canvas);
}

void LayoutScaler::CaptureChildren(QWidget* parent) {
  for (QObject* child : parent->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget->isWindow()) continue;
    const QFont& font = widget->font();
    const bool inPixels = font.pointSize() <= 0;
    records_.push_back(
        {widget, widget->geometry(), inPixels ? font.pixelSize() : font.pointSize(), inPixels});
    if (IsContainer(widget)) CaptureChildren(widget);
  }
}

double LayoutScaler::Factor(int current, int design) {
  return design > 0 ? static_cast<double>(current) / design : 1.0;
}

void LayoutScaler::Scale(QSize current) {
  const double fx = Factor(current.width(), designSize_.width());
  const double fy = Factor(current.height(), designSize_.height());
  const double ff = std::min(fx, fy);
  for (const Record& record : records_) {
    QWidget* control = record.control.data();
    if (!control) continue;
    const QRect& r = record.bounds;
    control->setGeometry(static_cast<int>(r.left() * fx), static_cast<int>(r.top() * fy),
                         static_cast<int>(r.width() * fx), static_cast<int>(r.height() * fy));
    const int size = static_cast<int>(record.fontSize * ff);
    if (record.fontSize <= 0 || size <= 0) continue;  // a font can not shrink to nothing
    QFont font = control->font();
    if (record.inPixels)
      font.setPixelSize(size);
    else
      font.setPointSize(size);
    control->setFont(font);
  }
}

std::vector<QWidget*> LayoutScaler::Controls() const {
  std::vector<QWidget*> controls;
  for (const Record& record : records_)
    if (record.control) controls.push_back(record.control.data());
  return controls;
}

QRect LayoutScaler::DesignBounds(const QWidget* control) const {
  for (const Record& record : records_)
    if (record.control == control) return record.bounds;
  return {};
}

int LayoutScaler::DesignFontSize(const QWidget* control) const {
  for (const Record& record : records_)
    if (record.control == control) return record.fontSize;
  return -1;
}

void FitToPromptWidth(QLabel* measure, const std::vector<QLineEdit*>& prompts) {
  if (prompts.empty()) return;
  measure->setFont(prompts.front()->font());
  measure->setText(QString(22, QLatin1Char('A')));
  measure->adjustSize();
  for (QLineEdit* prompt : prompts) {
    if (auto* field = qobject_cast<FieldEdit*>(prompt))
      field->SetMaxChars(21);
    else
      prompt->setMaxLength(21);
    prompt->resize(measure->width(), prompt->height());
  }
}

}  // namespace tuva::app
