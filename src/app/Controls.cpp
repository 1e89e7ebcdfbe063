#include "app/Controls.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QValidator>

#include "image/ConfigImage.h"

namespace tuva::app {

int TagOf(const QObject* control) {
  const QVariant tag = control->property("Tag");
  return tag.isValid() ? tag.toInt() : -1;
}

void SetTag(QObject* control, int tag) {
  if (tag >= 0) control->setProperty("Tag", tag);
}

namespace {
// Refuses an edit that makes the text longer than the limit; shortening an over-long text that
// the program put there is allowed.
class LengthLimit : public QValidator {
 public:
  LengthLimit(const FieldEdit* edit, const QString* before)
      : QValidator(nullptr), edit_(edit), before_(before) {}
  State validate(QString& input, int&) const override {
    if (input.size() <= edit_->maxChars() || input.size() <= before_->size()) return Acceptable;
    return Invalid;
  }

 private:
  const FieldEdit* edit_;
  const QString* before_;
};
}  // namespace

FieldEdit::FieldEdit(QWidget* parent) : QLineEdit(parent) {
  auto* limit = new LengthLimit(this, &lastText_);
  limit->setParent(this);
  setValidator(limit);
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { lastText_ = text; });
}

void FieldEdit::SetMaxChars(int count) {
  maxChars_ = count;
}

void FieldEdit::ReturnFocus() {
  refused_ = true;
  refusedText_ = text();
  if (!hasFocus()) {
    suppressEnter_ = true;
    setFocus(Qt::OtherFocusReason);
    suppressEnter_ = false;
  }
  // The whole text selected, so that the corrected entry is typed over it.
  selectAll();
}

namespace {
// Focus taken by a message box, a menu or another application is not the user leaving the field.
bool IsWindowSwitch(Qt::FocusReason reason) {
  return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
         reason == Qt::MenuBarFocusReason;
}
}  // namespace

void FieldEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (suppressEnter_ || IsWindowSwitch(event->reason())) return;
  if (onEnter) onEnter();
}

void FieldEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  if (IsWindowSwitch(event->reason())) return;
  refused_ = false;  // the exit handler says again whether the entry stands
  if (onExit) onExit();
}

void FieldEdit::keyPressEvent(QKeyEvent* event) {
  if (onKeyPress && onKeyPress(event)) {
    event->accept();
    return;
  }
  FlagRaiser typing(typing_);
  QLineEdit::keyPressEvent(event);
}

void FieldEdit::keyReleaseEvent(QKeyEvent* event) {
  QLineEdit::keyReleaseEvent(event);
  if (onKeyRelease) onKeyRelease(event);
}

bool IsEnterKey(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

void SetDesignFont(QWidget* widget) {
  QFont font = widget->font();
  font.setPointSize(kDesignFontPoints);
  widget->setFont(font);
}

namespace {
template <typename W>
W* Place(W* widget, const QString& name, int left, int top, int width, int height, int tag) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  SetDesignFont(widget);
  SetTag(widget, tag);
  return widget;
}
}  // namespace

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, int left, int top,
                  int width, int height) {
  return Place(new QLabel(text, parent), name, left, top, width, height, -1);
}

FieldEdit* MakeEdit(QWidget* parent, const QString& name, int left, int top, int width, int height,
                    int tag) {
  return Place(new FieldEdit(parent), name, left, top, width, height, tag);
}

QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, int left,
                        int top, int width, int height, int tag) {
  return Place(new QCheckBox(text, parent), name, left, top, width, height, tag);
}

QComboBox* MakeComboBox(QWidget* parent, const QString& name, const QStringList& items, int left,
                        int top, int width, int height, int tag) {
  auto* combo = Place(new QComboBox(parent), name, left, top, width, height, tag);
  combo->addItems(items);
  return combo;
}

QGroupBox* MakeGroupBox(QWidget* parent, const QString& name, const QString& title, int left,
                        int top, int width, int height) {
  return Place(new QGroupBox(title, parent), name, left, top, width, height, -1);
}

}  // namespace tuva::app
