// System > Series Programming: boards one after another from one template, the capcodes of the
// chosen slots counting up from board to board, on every port at once, each board recorded.
//
// The series runs on a thread of its own (each port then on its own thread), so the window stays
// live: each port's state comes back to the GUI thread as its live row, each finished board as
// a row of the Boards table. While a
// series runs, the main window's editors and its file and device commands are disabled, so the
// template cannot change under the run and no operation of the window meets a port of the series.
// The records database is opened off the GUI thread too, so a server that does not answer never
// freezes the window. Every box of the window is shown over it, so dismissing one hands the
// keyboard back to this window (to the field the box is about), never to the main window, whose
// F3, F4 and F9 would talk to a board.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/PortRows.h"
#include "app/RecordsView.h"
#include "app/SeriesSettings.h"
#include "app/StoreCalls.h"
#include "records/RecordStore.h"
#include "series/SeriesRun.h"

namespace tuva::app {

// What a series needs of the main window: the values it takes (the template, service mode and the
// ports) and the hold on the window's editors and device commands while it runs.
class SeriesHost {
 public:
  virtual MainWindowValues SeriesValues() const = 0;
  virtual bool deviceBusy() const = 0;
  virtual bool BeginSeries() = 0;  // false when the window may not be held now
  virtual void EndSeries() = 0;

 protected:
  ~SeriesHost() = default;
};

class SeriesWindow : public QDialog {
  Q_OBJECT
 public:
  // A window of `programmer`'s (on its screen, closing it when asked); the settings' file dialogs
  // open in `startupDirectory`, and the ports shown follow `portMenu`.
  SeriesWindow(QWidget& programmer, SeriesHost& host, Dialogs& dialogs,
               const QString& startupDirectory, QMenu* portMenu);
  ~SeriesWindow() override;  // a running series is stopped and its boards finished first

  // A series runs, or its records database is being opened for it.
  bool running() const { return phase_ != Phase::Idle; }

  // Checks the settings, opens the records and starts the series; a refused setting is shown
  // and its field gets the focus, and nothing starts.
  void Start();
  // Ends the series: ports waiting for a board give up, the boards being written are finished.
  void Stop();
  // The main window is being closed during a run: the question of closing this window, for the
  // whole programmer; Yes stops the run and closes the programmer once it has ended.
  void CloseProgrammerWhenDone();
  // How long the records database may take to answer (ten seconds unless changed).
  void SetStoreTimeLimit(std::chrono::milliseconds limit);
  // Places the window in the middle of the main window's screen, at a size that fits it.
  void PlaceOnScreen();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  enum class Phase { Idle, Connecting, Running };
  // What happens once the run has ended.
  enum class AfterRun { Nothing, CloseWindow, CloseProgrammer };

  QWidget* BuildControls();
  void Warn(const QString& text, QWidget* field = nullptr);
  void OpenStore(series::SeriesPlan plan, bool startNew = false, bool adoptJournal = false);
  // Opens the records again as `startNew` and `adoptJournal` say when the technician answers
  // `question` Yes; nothing starts otherwise.
  void AskToOpenAgain(const QString& question, series::SeriesPlan plan, bool startNew,
                      bool adoptJournal);
  // Whether a run may start the counting slots `fresh`, which the database `name` has never handed
  // out from; the field of the first one gets the focus when not.
  bool AskToStartNewSeries(const std::vector<series::CountingCapcode>& fresh, const QString& name);
  void Run(std::shared_ptr<records::RecordStore> store, series::SeriesPlan plan);
  void Abort(const QString& why);
  void AddBoard(const series::BoardReport& report);
  void Finished(const std::string& failure);
  void ShowListUse();
  void AskToStop(AfterRun after);
  void Conclude(AfterRun after);
  void SetPhase(Phase phase);
  void ShowProgress();
  void SetStationView(bool on);

  QWidget& programmer_;
  SeriesHost& host_;
  Dialogs& dialogs_;
  SeriesSettings* settings_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QCheckBox* stationView_ = nullptr;
  QLabel* progress_ = nullptr;
  PortRows* portRows_ = nullptr;  // what each port is doing
  QTabWidget* tabs_ = nullptr;
  QTableWidget* boards_ = nullptr;  // port, capcodes, firmware, seconds, result
  RecordsView* records_ = nullptr;
  StoreCalls* calls_ = nullptr;  // opening the records for a run

  Phase phase_ = Phase::Idle;
  // The series' stop, one for each Start: the opening of its records is its call's token (given up
  // by Stop or the time limit), the store is opened with it and the run is given it.
  std::stop_source stop_{std::nostopstate};
  std::shared_ptr<records::RecordStore> store_;
  // The run's list, when it has one: its file as named and its SHA-256, to show how far it is used
  // once the run ends.
  std::optional<std::pair<std::string, std::string>> list_;
  std::unique_ptr<series::SeriesRun> run_;
  std::thread thread_;
  int wanted_ = 0;
  series::SeriesCounts counts_;  // as the run counted them when last told
  bool stopping_ = false;
  bool asking_ = false;  // the stop question is on the screen
  AfterRun afterRun_ = AfterRun::Nothing;
};

}  // namespace tuva::app
