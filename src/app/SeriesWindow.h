// System > Series Programming: boards one after another from one template, the capcodes of the
// chosen slots counting up from board to board, on every port at once, each board recorded.
//
// The series runs on a thread of its own (each port then on its own thread), so the window stays
// live: each finished board comes back to the GUI thread as a row of the Boards table. While a
// series runs, the main window's editors and its file and device commands are disabled, so the
// template cannot change under the run and no operation of the window meets a port of the series.
// The Records tab lists the attempts of the records database and exports them as CSV.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/LabelPrinting.h"
#include "image/ConfigImage.h"
#include "records/RecordStore.h"
#include "series/SeriesRun.h"

namespace tuva::app {

class TfrmAir;

class SeriesWindow : public QDialog {
  Q_OBJECT
 public:
  explicit SeriesWindow(TfrmAir& window);
  ~SeriesWindow() override;  // a running series is stopped and its boards finished first

  bool running() const { return static_cast<bool>(run_); }

  // Checks the settings, opens the records and starts the series; a fault is shown and nothing
  // starts.
  void Start();
  // Ends the series: ports waiting for a board give up, the boards being written are finished.
  void Stop();
  // Lists the attempts of the records database in the Records tab.
  void ShowRecords();
  // Writes the attempts of the records database to a CSV file chosen in the save dialog.
  void ExportCsv();

  // Template.
  QRadioButton* templateWindow = nullptr;  // the main window's configuration
  QRadioButton* templateFile = nullptr;
  QLineEdit* templatePath = nullptr;
  QPushButton* browseTemplate = nullptr;
  // Counting capcodes: one row per slot; column 0 checked when the slot counts, 1 the first
  // capcode, 2 the step.
  QTableWidget* counting = nullptr;
  QSpinBox* count = nullptr;
  QLineEdit* recordsPath = nullptr;  // an SQLite file or a postgresql:// URL
  // Ports.
  QRadioButton* portsOfWindow = nullptr;  // Pager > Port of the main window
  QRadioButton* portsTyped = nullptr;
  QLineEdit* portList = nullptr;  // comma separated
  LabelPrinting* labelPrinting = nullptr;
  QPushButton* startButton = nullptr;
  QPushButton* stopButton = nullptr;
  QLabel* progress = nullptr;
  QTabWidget* tabs = nullptr;
  QTableWidget* boards = nullptr;  // port, capcodes, firmware, result, time
  QTableWidget* records = nullptr;
  QPushButton* refreshRecords = nullptr;
  QPushButton* exportRecords = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QWidget* BuildSettings();
  QWidget* BuildRecordsTab();
  void Warn(const QString& text);
  // The plan from the settings; nullopt when a setting is refused (the message has been shown).
  std::optional<series::SeriesPlan> Plan();
  std::optional<ConfigImage> Template();
  std::vector<std::string> Ports() const;
  void AddBoard(const series::BoardReport& report);
  void Finished(const std::string& failure);
  void SetRunning(bool running);
  void ShowProgress();
  QString RecordsWhere() const;

  TfrmAir& window_;
  QWidget* settings_ = nullptr;  // everything a run takes its plan from
  std::unique_ptr<records::RecordStore> store_;
  std::unique_ptr<series::SeriesRun> run_;
  std::thread thread_;
  int wanted_ = 0;
  int programmed_ = 0;
  int failed_ = 0;
  bool stopping_ = false;
  bool closeWhenDone_ = false;
};

}  // namespace tuva::app
