#include "app/PairEdit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QValidator>

#include "app/Controls.h"
#include "features/CapcodeStrings.h"

namespace tuva::app {
namespace {

bool IsHexOrBlank(QChar c) {
  return c == QLatin1Char(' ') || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
         (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// Accepts only texts in the form, so nothing the line edit does on its own (a drop, an input
// method, a menu entry) can shift the pairs or remove a separator.
class PairForm : public QValidator {
 public:
  PairForm(int length, QObject* parent) : QValidator(parent), length_(length) {}
  State validate(QString& input, int&) const override {
    if (input.size() != length_) return Invalid;
    for (int i = 0; i < input.size(); ++i) {
      const bool separator = i % 3 == 2;
      if (separator != (input[i] == QLatin1Char(';'))) return Invalid;
      if (!separator && !IsHexOrBlank(input[i])) return Invalid;
    }
    return Acceptable;
  }

 private:
  int length_;
};

}  // namespace

void SetFixedPitchFont(QWidget* widget) {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSize(kDesignFontPoints);
  widget->setFont(font);
}

PairEdit::PairEdit(int pairs, QWidget* parent) : QLineEdit(parent), pairs_(pairs) {
  setValidator(new PairForm(Length(), this));
  setMaxLength(Length());
  SetPairsText(QString());
}

int PairEdit::FormWidth() const {
  // The text, the frame and the edit's inner margins on both sides.
  return fontMetrics().horizontalAdvance(QString(Length(), QLatin1Char('0'))) + 12;
}

QString PairEdit::BlankText() const {
  QString text(Length(), QLatin1Char(' '));
  for (int i = 2; i < Length(); i += 3) text[i] = QLatin1Char(';');
  return text;
}

QChar PairEdit::FilterKey(QChar key) {
  if (key.unicode() > 0x7F) return {};
  const auto digit = FilterHexKey(static_cast<char>(key.unicode()));
  return digit ? QChar(QLatin1Char(*digit)) : QChar();
}

void PairEdit::SetPairsText(const QString& text) {
  setText(BlankText());
  Overwrite(0, text);
  setCursorPosition(0);
}

int PairEdit::Overwrite(int position, const QString& characters) {
  QString text = this->text();
  for (const QChar c : characters) {
    if (position >= Length()) break;
    if (c == QLatin1Char(';')) {
      if (IsSeparator(position)) ++position;  // the separator of the form takes it
      continue;
    }
    const QChar digit = c == QLatin1Char(' ') ? c : FilterKey(c);
    if (IsSeparator(position)) ++position;
    if (position >= Length()) break;
    text[position] = digit.isNull() ? QLatin1Char(' ') : digit;
    ++position;
  }
  Replace(text, position);
  return position;
}

void PairEdit::BlankRange(int from, int to) {
  QString text = this->text();
  for (int i = from; i < to && i < Length(); ++i)
    if (!IsSeparator(i)) text[i] = QLatin1Char(' ');
  Replace(text, from);
}

void PairEdit::Replace(const QString& text, int cursor) {
  if (text != this->text()) setText(text);
  // After a digit the cursor steps over the separator to the next pair.
  if (cursor < Length() && IsSeparator(cursor) && cursor > 0) ++cursor;
  setCursorPosition(std::min(cursor, Length()));
}

void PairEdit::TypeDigit(QChar digit) {
  int position = cursorPosition();
  if (hasSelectedText()) {
    position = selectionStart();
    BlankRange(selectionStart(), selectionEnd());
  }
  if (position < Length() && IsSeparator(position)) ++position;
  if (position >= Length()) return;  // the form is full to the end
  QString text = this->text();
  text[position] = digit;
  Replace(text, position + 1);
}

void PairEdit::EraseBackward() {
  if (hasSelectedText()) {
    BlankRange(selectionStart(), selectionEnd());
    return;
  }
  int position = cursorPosition() - 1;
  if (position >= 0 && IsSeparator(position)) --position;
  if (position < 0) return;
  QString text = this->text();
  text[position] = QLatin1Char(' ');
  setText(text);
  setCursorPosition(position);
}

void PairEdit::EraseForward() {
  if (hasSelectedText()) {
    BlankRange(selectionStart(), selectionEnd());
    return;
  }
  int position = cursorPosition();
  if (position < Length() && IsSeparator(position)) ++position;
  if (position >= Length()) return;
  QString text = this->text();
  text[position] = QLatin1Char(' ');
  setText(text);
  setCursorPosition(position);
}

void PairEdit::Paste() {
  const QString clip = QGuiApplication::clipboard()->text();
  int position = cursorPosition();
  if (hasSelectedText()) {
    position = selectionStart();
    BlankRange(selectionStart(), selectionEnd());
  }
  Overwrite(position, clip);
}

void PairEdit::CutSelection() {
  if (!hasSelectedText()) return;
  copy();
  BlankRange(selectionStart(), selectionEnd());
}

// The line edit's own menu, with the entries that would shift the pairs doing what the keys do.
void PairEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  for (QAction* action : menu->actions()) {
    const QString name = action->objectName();
    const auto reroute = [action, this](auto handler) {
      QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
      connect(action, &QAction::triggered, this, handler);
    };
    if (name == QLatin1String("edit-undo") || name == QLatin1String("edit-redo")) {
      action->setVisible(false);
    } else if (name == QLatin1String("edit-paste")) {
      reroute([this] { Paste(); });
    } else if (name == QLatin1String("edit-cut")) {
      reroute([this] { CutSelection(); });
    } else if (name == QLatin1String("edit-delete")) {
      reroute([this] { BlankRange(selectionStart(), selectionEnd()); });
    }
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void PairEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (onEnterKey) onEnterKey();
    event->accept();
    return;
  }
  if (event->matches(QKeySequence::Paste)) {
    Paste();
  } else if (event->matches(QKeySequence::Cut)) {
    CutSelection();
  } else if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
    // The form has no history of its own: a pair is changed by typing over it.
  } else if (event->key() == Qt::Key_Backspace) {
    EraseBackward();
  } else if (event->key() == Qt::Key_Delete) {
    EraseForward();
  } else if (!event->text().isEmpty() && event->text().front().isPrint() &&
             !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
    // Every typed character: a hexadecimal digit is taken in upper case, anything else is not.
    const QChar digit = FilterKey(event->text().front());
    if (!digit.isNull()) TypeDigit(digit);
  } else {
    QLineEdit::keyPressEvent(event);  // moving, selecting, copying, Tab
    return;
  }
  event->accept();
}

}  // namespace tuva::app
