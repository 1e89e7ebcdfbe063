// The controls of the main window and the helpers that create them.
//
// Every control is created at its design position (in pixels of the 738 x 522 design canvas or
// of its group box), carries the name the window's handlers and the control table know it by,
// and, for a member of a family, its family index in the dynamic property "Tag". The layout
// scaler records these design bounds once and scales them with the window.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <functional>
#include <utility>

namespace tuva::app {

// Design font size of every control, in points.
inline constexpr int kDesignFontPoints = 7;

// The family index of a control (its "Tag"); -1 when it has none.
int TagOf(const QObject* control);
void SetTag(QObject* control, int tag);

// A single-line edit with the handlers the editors hang on it: entering (focus arrives from
// another control of the window), leaving (focus moves to another control of the window), a key
// press that a handler may swallow, and every key release. Focus that leaves or returns because
// another window or a popup took it over (a message box) runs neither handler.
class FieldEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit FieldEdit(QWidget* parent = nullptr);

  std::function<void()> onEnter;
  std::function<void()> onExit;
  // Returns true when the key is swallowed.
  std::function<bool(QKeyEvent*)> onKeyPress;
  std::function<void(QKeyEvent*)> onKeyRelease;

  // Gives the focus back to this edit after a refused entry, without running onEnter (which
  // would empty the text the user is asked to correct), with that text selected.
  void ReturnFocus();
  // True while the edit holds, unchanged, the text of an entry it was given back after a refusal.
  bool holdsRefusedEntry() const { return refused_ && text() == refusedText_; }
  // True while a key press is being handled: a text change then comes from the keyboard, not
  // from the context menu or a drop.
  bool typing() const { return typing_; }

  // The most characters the user can type. Unlike QLineEdit's maximum length it never cuts a
  // text set by the program: a ten-digit capcode stays whole when its edit drops back to seven.
  void SetMaxChars(int count);
  int maxChars() const { return maxChars_; }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  bool suppressEnter_ = false;
  bool typing_ = false;
  bool refused_ = false;
  QString refusedText_;
  int maxChars_ = 32767;
  QString lastText_;  // the text before the edit being validated
};

// True for Enter or Return.
bool IsEnterKey(const QKeyEvent* event);

// Creation helpers: name, design bounds and (for family members) the Tag.
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, int left, int top,
                  int width, int height);
FieldEdit* MakeEdit(QWidget* parent, const QString& name, int left, int top, int width, int height,
                    int tag = -1);
QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, int left,
                        int top, int width, int height, int tag = -1);
QComboBox* MakeComboBox(QWidget* parent, const QString& name, const QStringList& items, int left,
                        int top, int width, int height, int tag = -1);
QGroupBox* MakeGroupBox(QWidget* parent, const QString& name, const QString& title, int left,
                        int top, int width, int height);

// A new T made of `args`, named `name`: one not placed at design bounds (laid out, or no widget).
template <typename T, typename... Args>
T* Named(const QString& name, Args&&... args) {
  auto* made = new T(std::forward<Args>(args)...);
  made->setObjectName(name);
  return made;
}

// Gives `widget` the design font explicitly, so that scaling one control's font never reaches
// its children through inheritance.
void SetDesignFont(QWidget* widget);

}  // namespace tuva::app
