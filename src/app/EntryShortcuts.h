// Shortcuts that outlive their menu entries. A hidden QAction, or an action in a hidden menu,
// takes no keys in Qt, yet the technician's keys must keep working while the service mode hides
// the configuration File menu and Read, and S29 Mode is never shown at all. Each entry kept here
// has a twin action on the window itself, outside every menu: the key sits on the entry while
// the entry can be seen (so the menu shows it) and on the twin while it cannot, never on both,
// since two actions with one key in one window take it from each other and neither fires.
#pragma once

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <vector>

namespace tuva::app {

class EntryShortcuts : public QObject {
  Q_OBJECT
 public:
  // Twins are added to `window`, which owns this object.
  explicit EntryShortcuts(QWidget* window);

  // Keeps `keys` working for `entry` of `menu`; the twin triggers the entry itself, so an entry
  // disabled on purpose (while a device operation runs) stays deaf to its key as well.
  void Keep(QMenu* menu, QAction* entry, const QKeySequence& keys);

  // The window-level action that holds the entry's key while the entry is hidden.
  QAction* TwinOf(const QAction* entry) const;

  // Puts every key where it belongs after an entry or a menu was shown or hidden.
  void Sync();

 private:
  struct Kept {
    QPointer<QMenu> menu;
    QPointer<QAction> entry;
    QAction* twin;
    QKeySequence keys;
  };
  QWidget* window_;
  std::vector<Kept> kept_;
};

}  // namespace tuva::app
