#include "app/RecentFiles.h"

#include <QDir>
#include <QFileInfo>

#include "app/AppSettings.h"
#include "app/MainWindow.h"

namespace tuva::app {
namespace {
const QString kRecentKey = QStringLiteral("files/recent");
}  // namespace

RecentFiles::RecentFiles(TfrmAir& window, QMenu* file, QAction* before)
    : QObject(&window), window_(window), menu_(new QMenu(QStringLiteral("&Recent Files"), file)) {
  menu_->setObjectName(QStringLiteral("RecentFiles"));
  file->insertMenu(before, menu_);
  connect(menu_, &QMenu::aboutToShow, this, [this] { Refresh(); });
  Refresh();
}

QStringList RecentFiles::files() const {
  return AppSettings()->value(kRecentKey).toStringList();
}

// The menu itself is filled when it opens: an entry's own action is not deleted while it runs.
void RecentFiles::Store(const QStringList& files) {
  AppSettings()->setValue(kRecentKey, files);
  menu_->setEnabled(!files.isEmpty());
}

void RecentFiles::Add(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList list = files();
  list.removeAll(absolute);
  list.prepend(absolute);
  while (list.size() > kMaxFiles) list.removeLast();
  Store(list);
}

void RecentFiles::OpenEntry(const QString& path) {
  if (!QFileInfo::exists(path)) {
    QStringList list = files();
    list.removeAll(path);
    Store(list);
    window_.dialogs().MessageBox(
        kAppTitle,
        QStringLiteral("The file %1 is no longer there; it is removed from Recent Files.")
            .arg(QDir::toNativeSeparators(path)),
        MessageIcon::Exclamation);
    return;
  }
  window_.OpenPath(path);
}

void RecentFiles::Refresh() {
  menu_->clear();
  const QStringList list = files();
  menu_->setEnabled(!list.isEmpty());
  for (int i = 0; i < list.size(); ++i) {
    QString shown = list[i];
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* action = menu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
    action->setData(list[i]);
    const QString path = list[i];
    connect(action, &QAction::triggered, this, [this, path] { OpenEntry(path); });
  }
}

}  // namespace tuva::app
