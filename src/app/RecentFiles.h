// File > Recent Files: the last configurations opened or saved, newest first, remembered between
// runs. Choosing one opens it through the window's Open; one that is gone is dropped from the
// list with a message.
#pragma once

#include <QMenu>
#include <QObject>
#include <QStringList>

namespace tuva::app {

class TfrmAir;

class RecentFiles : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxFiles = 8;

  RecentFiles(TfrmAir& window, QMenu* file, QAction* before);

  QMenu* menu() const { return menu_; }
  QStringList files() const;
  // Puts `path` first (it was just opened or saved).
  void Add(const QString& path);
  // Opens the entry, or drops it from the list when the file is gone.
  void OpenEntry(const QString& path);
  // Fills the menu from the list (each time it opens).
  void Refresh();

 private:
  void Store(const QStringList& files);

  TfrmAir& window_;
  QMenu* menu_;
};

}  // namespace tuva::app
