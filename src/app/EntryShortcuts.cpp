#include "app/EntryShortcuts.h"

#include <QWidget>

namespace tuva::app {

EntryShortcuts::EntryShortcuts(QWidget* window) : QObject(window), window_(window) {}

void EntryShortcuts::Keep(QMenu* menu, QAction* entry, const QKeySequence& keys) {
  auto* twin = new QAction(entry->text(), this);
  twin->setObjectName(entry->objectName() + QStringLiteral("Key"));
  twin->setShortcutContext(Qt::WindowShortcut);
  window_->addAction(twin);
  connect(twin, &QAction::triggered, entry, [entry] { entry->trigger(); });
  // Showing or hiding the entry or its menu moves the key.
  connect(entry, &QAction::visibleChanged, this, &EntryShortcuts::Sync);
  connect(menu->menuAction(), &QAction::visibleChanged, this, &EntryShortcuts::Sync);
  kept_.push_back({menu, entry, twin, keys});
  Sync();
}

QAction* EntryShortcuts::TwinOf(const QAction* entry) const {
  for (const Kept& kept : kept_)
    if (kept.entry == entry) return kept.twin;
  return nullptr;
}

void EntryShortcuts::Sync() {
  for (const Kept& kept : kept_) {
    if (!kept.entry || !kept.menu) continue;
    const bool seen = kept.entry->isVisible() && kept.menu->menuAction()->isVisible();
    // Take the key from one holder before giving it to the other.
    if (seen) {
      kept.twin->setShortcut(QKeySequence());
      kept.entry->setShortcut(kept.keys);
    } else {
      kept.entry->setShortcut(QKeySequence());
      kept.twin->setShortcut(kept.keys);
    }
  }
}

}  // namespace tuva::app
