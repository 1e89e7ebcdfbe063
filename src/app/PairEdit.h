// An edit of hexadecimal byte pairs in a fixed form: `pairs` fields of two characters separated
// by ';' ("0D;0A;  ;  ", 89 characters for the 30 pairs of a capcode string, 11 for the four of a
// function-command code). The form never changes: typing overwrites the character under the
// cursor and steps over the separators, Backspace and Delete blank characters instead of removing
// them, and only hexadecimal digits (turned into upper case) are taken. A blank position reads as
// a space, so the text is always the pairs with ';' between them.
#pragma once

#include <QLineEdit>
#include <QString>
#include <functional>

namespace tuva::app {

// Gives `widget` the fixed-pitch design font (Courier New, or the system's typewriter face), in
// which columns of characters line up.
void SetFixedPitchFont(QWidget* widget);

class PairEdit : public QLineEdit {
  Q_OBJECT
 public:
  PairEdit(int pairs, QWidget* parent = nullptr);

  int pairs() const { return pairs_; }
  // The width that shows the whole form in the edit's font, frame included.
  int FormWidth() const;
  // The blank form: every pair two spaces.
  QString BlankText() const;
  // Puts `text` in the form: its characters from the start, one position each, separators kept
  // where they belong; a character that is neither a hexadecimal digit nor a space leaves its
  // position blank. Text beyond the form is dropped.
  void SetPairsText(const QString& text);

  // Enter was pressed (the window moves the focus on).
  std::function<void()> onEnterKey;

  // The key filter of the pair edits: a hexadecimal digit in upper case, or a null character
  // when the key types nothing into the form.
  static QChar FilterKey(QChar key);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool IsSeparator(int position) const { return position % 3 == 2; }
  int Length() const { return pairs_ * 3 - 1; }
  // Writes `characters` from `position` on, stepping over separators; returns the position after.
  int Overwrite(int position, const QString& characters);
  void BlankRange(int from, int to);
  void TypeDigit(QChar digit);
  void EraseBackward();
  void EraseForward();
  void Paste();
  void CutSelection();
  void Replace(const QString& text, int cursor);

  int pairs_;
};

}  // namespace tuva::app
