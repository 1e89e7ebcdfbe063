// The Records tab of the series window: a chart of each station's boards per hour, the attempts
// of the records database, oldest first, and their export as CSV. Viewing never creates or changes
// a database, and the database is reached off the GUI thread, so a server that does not answer
// leaves the window live ("connecting...", then a message once the time limit has passed).
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <vector>

#include "app/RecordsChart.h"
#include "app/StoreCalls.h"
#include "link/Frontend.h"
#include "records/RecordStore.h"

namespace tuva::app {

class Dialogs;

// The title of the series window and of every box it shows.
inline const QString kSeriesCaption = QStringLiteral("Series Programming");

class RecordsView : public QWidget {
  Q_OBJECT
 public:
  // `where` names the database as the settings have it now; the export dialog opens in
  // `startupDirectory`.
  RecordsView(Dialogs& dialogs, QString startupDirectory, std::function<QString()> where,
              QWidget* parent);

  // Lists the attempts again.
  void Refresh();
  // Lists them again once a run has recorded a board: after the listing under way, if any, so
  // boards recorded quickly one after another never pile up listings.
  void Follow();
  // Writes the attempts to a CSV file chosen in the save dialog.
  void Export();
  StoreCalls& calls() { return *calls_; }

 private:
  // Runs `use` with the attempts on the GUI thread once they have been read.
  void ReadAttempts(std::function<void(const std::vector<records::Attempt>&)> use);
  void Fill(const std::vector<records::Attempt>& attempts, std::vector<records::SummaryRow> hours);
  void Fail(const QString& why);
  void WriteCsv(const std::vector<records::Attempt>& attempts);
  void Warn(const QString& text, MessageIcon icon = MessageIcon::Exclamation);

  Dialogs& dialogs_;
  QString startupDirectory_;
  std::function<QString()> where_;
  StoreCalls* calls_;
  RecordsChart* chart_;
  QTableWidget* table_;
  QLabel* status_;
  QPushButton* refresh_;
  QPushButton* export_;
  bool followAgain_ = false;  // a board was recorded while the attempts were being listed
};

}  // namespace tuva::app
