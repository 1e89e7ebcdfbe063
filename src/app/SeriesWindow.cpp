#include "app/SeriesWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "app/StatusLine.h"
#include "app/TableRows.h"
#include "series/Plan.h"

namespace tuva::app {
namespace {

enum BoardColumn { kPort, kCapcodes, kFirmware, kSeconds, kResult };

}  // namespace

SeriesWindow::SeriesWindow(QWidget& programmer, SeriesHost& host, Dialogs& dialogs,
                           const QString& startupDirectory, QMenu* portMenu)
    : QDialog(&programmer),
      programmer_(programmer),
      host_(host),
      dialogs_(dialogs),
      calls_(new StoreCalls(this)) {
  setObjectName(QStringLiteral("SeriesWindow"));
  setWindowTitle(kSeriesCaption);
  setModal(false);

  auto* layout = new QVBoxLayout(this);
  settings_ = new SeriesSettings(dialogs_, startupDirectory, this);
  layout->addWidget(settings_);
  // The ports label follows Pager > Port; queued, because the menu tells of an item before the
  // item's own handler has made the choice.
  const auto showPorts = [this] { settings_->ShowWindowPorts(host_.SeriesValues()); };
  connect(portMenu, &QMenu::triggered, this, showPorts, Qt::QueuedConnection);
  showPorts();
  layout->addWidget(BuildControls());
  portRows_ = new PortRows(this);
  layout->addWidget(portRows_);

  tabs_ = Named<QTabWidget>(QStringLiteral("tabs"), this);
  boards_ =
      MakeTable(tabs_, QStringLiteral("tblBoards"),
                {QStringLiteral("Port"), QStringLiteral("Capcodes"), QStringLiteral("Firmware"),
                 QStringLiteral("Seconds"), QStringLiteral("Result")});
  tabs_->addTab(boards_, QStringLiteral("&Boards"));
  records_ = new RecordsView(
      dialogs_, startupDirectory, [this] { return settings_->recordsWhere(); }, tabs_);
  tabs_->addTab(records_, QStringLiteral("&Records"));
  // The tables take the height the settings and the live rows leave (a few rows at least), so
  // that a wrapped line of the settings is never cut to make room for them.
  tabs_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
  tabs_->setMinimumHeight(8 * fontMetrics().lineSpacing());
  layout->addWidget(tabs_, 1);

  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (tabs_->widget(index) == records_) records_->Refresh();
  });
  // Another database named: its attempts, never the last one's under its name.
  connect(settings_->recordsField(), &QLineEdit::editingFinished, this, [this] {
    if (tabs_->currentWidget() == records_) records_->Refresh();
  });
  settings_->Restore();
  SetPhase(Phase::Idle);
}

SeriesWindow::~SeriesWindow() {
  // The dialog's own destructor hides it, and the field that loses the focus then would call
  // back into this window, which is gone by then.
  settings_->recordsField()->disconnect(this);
  tabs_->disconnect(this);
  settings_->Save();
  if (run_) run_->Stop();
  if (thread_.joinable()) thread_.join();
}

QWidget* SeriesWindow::BuildControls() {
  auto* row = new QWidget(this);
  auto* buttons = new QHBoxLayout(row);
  buttons->setContentsMargins(0, 0, 0, 0);
  startButton_ = Named<QPushButton>(QStringLiteral("btnStart"), QStringLiteral("&Start"), row);
  stopButton_ = Named<QPushButton>(QStringLiteral("btnStop"), QStringLiteral("S&top"), row);
  progress_ = Named<StatusLine>(QStringLiteral("lblProgress"), row);
  stationView_ =
      Named<QCheckBox>(QStringLiteral("chkStationView"), QStringLiteral("Station &view"), row);
  stationView_->setToolTip(
      QStringLiteral("Large rows to read from a step away; the settings are hidden"));
  // Enter never starts a series: a key left over from a box must not set boards writing.
  for (QPushButton* button : {startButton_, stopButton_}) button->setAutoDefault(false);
  buttons->addWidget(startButton_);
  buttons->addWidget(stopButton_);
  buttons->addWidget(progress_, 1);
  buttons->addWidget(stationView_);
  connect(startButton_, &QPushButton::clicked, this, [this] { Start(); });
  connect(stopButton_, &QPushButton::clicked, this, [this] { Stop(); });
  connect(stationView_, &QCheckBox::toggled, this, [this](bool on) { SetStationView(on); });
  return row;
}

void SeriesWindow::PlaceOnScreen() {
  const QScreen* screen = programmer_.screen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  resize(std::min(1120, available.width() - 40), std::min(720, available.height() - 60));
  QRect frame(QPoint(), size());
  frame.moveCenter(available.center());
  move(std::max(frame.left(), available.left()), std::max(frame.top(), available.top()));
}

void SeriesWindow::SetStoreTimeLimit(std::chrono::milliseconds limit) {
  calls_->SetTimeLimit(limit);
  records_->calls().SetTimeLimit(limit);
}

void SeriesWindow::Warn(const QString& text, QWidget* field) {
  ShownOver(dialogs_, this,
            [&] { dialogs_.MessageBox(kSeriesCaption, text, MessageIcon::Exclamation); });
  if (!field || !field->isEnabled()) return;
  if (settings_->isAncestorOf(field)) stationView_->setChecked(false);  // the field must be seen
  field->setFocus(Qt::OtherFocusReason);
}

// ---- running ----

void SeriesWindow::Start() {
  if (running()) return;
  settings_->Save();
  if (host_.deviceBusy()) {
    Warn(QStringLiteral("The main window is talking to the board; start when it has finished."),
         startButton_);
    return;
  }
  // The window's entry being typed is committed first, and from here on its configuration
  // cannot change.
  if (!host_.BeginSeries()) return;
  auto plan = settings_->Plan(host_.SeriesValues());
  if (const auto* refused = std::get_if<series::PlanRefusal>(&plan)) {
    host_.EndSeries();
    Warn(Text(refused->message), settings_->FieldOf(*refused));
    return;
  }
  wanted_ = std::get<series::SeriesPlan>(plan).count;
  counts_ = {};
  stop_ = std::stop_source();
  stopping_ = false;
  afterRun_ = AfterRun::Nothing;
  boards_->setRowCount(0);
  OpenStore(std::get<series::SeriesPlan>(std::move(plan)));
}

// The default database is made on first use; one named in the window only when the technician
// says so, so that a mistyped path never starts a new pool at the first capcode. What an earlier
// run left (results kept in the journal, attempts left open) is dealt with before the first board.
void SeriesWindow::OpenStore(series::SeriesPlan plan, bool startNew, bool adoptJournal) {
  SetPhase(Phase::Connecting);
  const QString where = settings_->recordsWhere();
  auto shared = std::make_shared<series::SeriesPlan>(std::move(plan));
  calls_->Run(
      [this, shared, startNew, adoptJournal,
       where = Bytes(where)](std::stop_token abandoned) -> StoreCalls::Answer {
        std::variant<series::Prepared, series::NotPrepared> prepared;
        try {
          prepared = series::Prepare(where, startNew, adoptJournal, *shared, abandoned);
        } catch (const std::exception& error) {
          return [this, why = Text(error.what())] { Abort(why); };
        }
        if (const auto* not_ = std::get_if<series::NotPrepared>(&prepared)) {
          // A database named by hand is not there, or the journal holds results of another one:
          // the technician may start one there, or have the results recorded in this one.
          const bool missing = not_->why == series::NotPrepared::Why::MissingDatabase;
          if (!missing && not_->why != series::NotPrepared::Why::ForeignJournal) return {};
          return [this, shared, missing, startNew, why = Text(not_->message)] {
            AskToOpenAgain(why + (missing ? QStringLiteral("\nStart a new records database there?")
                                          : QStringLiteral("\nRecord them here?")),
                           std::move(*shared), startNew || missing, !missing);
          };
        }
        auto ready = std::get<series::Prepared>(std::move(prepared));
        if (ready.refusal) {
          return [this, refused = *ready.refusal] {
            Abort({});
            Warn(Text(refused.message), settings_->FieldOf(refused));
          };
        }
        QStringList notes;
        for (const auto& line : ready.notes) notes << Text(line);
        const QString listText =
            ready.list ? Text(series::ListStateText(shared->list->path, *ready.list)) : QString();
        return [this, store = ready.store, shared, notes, listText,
                fresh = std::move(ready.newProgressions), name = Text(ready.store->Name())] {
          if (!listText.isEmpty()) {
            settings_->ShowListState(listText);
            wanted_ = shared->count;
          }
          if (!notes.isEmpty())
            ShownOver(dialogs_, this, [&] { dialogs_.Message(notes.join(QLatin1Char('\n'))); });
          if (!fresh.empty() && !AskToStartNewSeries(fresh, name)) return;
          Run(store, std::move(*shared));
        };
      },
      [this, where] { Abort(calls_->NoAnswerText(where)); }, stop_);
}

void SeriesWindow::AskToOpenAgain(const QString& question, series::SeriesPlan plan, bool startNew,
                                  bool adoptJournal) {
  if (ShownOver(dialogs_, this, [&] { return dialogs_.YesNo(kSeriesCaption, question); })) {
    OpenStore(std::move(plan), startNew, adoptJournal);
  } else {
    Abort({});
    settings_->recordsField()->setFocus();
  }
}

// A window that went back to the default database, or a mistyped one, would hand out capcodes
// that boards counted in the right database already hold: the technician confirms a new series.
bool SeriesWindow::AskToStartNewSeries(const std::vector<series::CountingCapcode>& fresh,
                                       const QString& name) {
  QString slots;
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    if (i > 0) slots += i + 1 == fresh.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
    slots +=
        (i == 0 ? QStringLiteral("Capcode slot %1 starts at %2") : QStringLiteral("slot %1 at %2"))
            .arg(fresh[i].slot)
            .arg(fresh[i].first);
  }
  const bool yes = ShownOver(dialogs_, this, [&] {
    return dialogs_.YesNoDefaultNo(
        kSeriesCaption,
        QStringLiteral("%1, which %2 has never handed out: start a new series there?")
            .arg(slots, name));
  });
  if (!yes) {
    Abort({});
    settings_->firstField(fresh.front().slot)->setFocus();
  }
  return yes;
}

// The records could not be opened (`why`), or Stop came first: nothing has started.
void SeriesWindow::Abort(const QString& why) {
  SetPhase(Phase::Idle);
  host_.EndSeries();
  wanted_ = 0;
  ShowProgress();
  if (!why.isEmpty()) Warn(why, settings_->recordsField());
  Conclude(std::exchange(afterRun_, AfterRun::Nothing));
}

void SeriesWindow::Run(std::shared_ptr<records::RecordStore> store, series::SeriesPlan plan) {
  store_ = std::move(store);
  list_.reset();
  if (plan.list) list_.emplace(plan.list->path, plan.list->sha256);
  portRows_->Reset(plan.ports);
  settings_->labelPrinting()->Begin(plan);
  // Reports and states come from the ports' threads; the tables are filled on the GUI thread.
  const auto post = [this](auto job) {
    QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
  };
  run_ = std::make_unique<series::SeriesRun>(
      *store_, std::move(plan),
      [this, post](const series::BoardReport& report) {
        post([this, report] { AddBoard(report); });
      },
      [this, post](const series::PortStatus& status) {
        post([this, status] {
          portRows_->Show(status);
          ShowProgress();
        });
      },
      stop_);
  SetPhase(Phase::Running);
  thread_ = std::thread([this, post, run = run_.get()] {
    std::string failure;
    try {
      run->Run();
    } catch (const std::exception& error) {
      failure = error.what();
    }
    post([this, failure] { Finished(failure); });
  });
}

void SeriesWindow::Stop() {
  if (phase_ == Phase::Connecting) {
    stop_.request_stop();
    calls_->Abandon();
    Abort(QString());
    return;
  }
  if (!run_ || stopping_) return;
  stopping_ = true;
  run_->Stop();
  stopButton_->setEnabled(false);
  ShowProgress();
}

void SeriesWindow::AddBoard(const series::BoardReport& report) {
  // A board skipped as already programmed is no failure; a failed one says what to do with it.
  const bool failed = !report.programmed && !report.skipped;
  const std::string result = failed ? report.result + "; " + series::kFailedAdvice : report.result;
  const int row =
      AppendRow(boards_, {Text(report.port), Text(report.capcodes.empty() ? "-" : report.capcodes),
                          Text(report.firmware.empty() ? "-" : report.firmware),
                          QString::number(report.seconds, 'f', 1), Text(result)});
  if (failed) {
    for (int column = 0; column < boards_->columnCount(); ++column)
      boards_->item(row, column)->setForeground(Qt::darkRed);
  }
  boards_->scrollToBottom();
  settings_->labelPrinting()->Print(report);
  if (report.recorded && tabs_->currentWidget() == records_) records_->Follow();
  if (run_) counts_ = run_->counts();
  ShowProgress();
}

void SeriesWindow::Finished(const std::string& failure) {
  if (thread_.joinable()) thread_.join();
  const std::string problem = failure.empty() ? run_->problem() : failure;
  counts_ = run_->counts();
  run_.reset();
  if (list_) ShowListUse();
  store_.reset();
  SetPhase(Phase::Idle);
  ShowProgress();
  host_.EndSeries();
  if (tabs_->currentWidget() == records_) records_->Refresh();
  if (!problem.empty()) Warn(Text(problem));
  // While the stop question is on the screen its answer decides.
  if (!asking_) Conclude(std::exchange(afterRun_, AfterRun::Nothing));
}

// How far the run's list is used now, read off the GUI thread; the text stays as it was when the
// database does not answer. The call is given up with the run's stop, which its store has.
void SeriesWindow::ShowListUse() {
  calls_->Run(
      [this, store = store_, list = *list_](std::stop_token) -> StoreCalls::Answer {
        try {
          if (const auto state = store->FindList(list.second)) {
            return [this, text = Text(series::ListStateText(list.first, *state))] {
              settings_->ShowListState(text);
            };
          }
        } catch (const std::exception&) {
        }
        return [] {};
      },
      [] {}, stop_);
}

void SeriesWindow::SetPhase(Phase phase) {
  phase_ = phase;
  const bool idle = phase == Phase::Idle;
  QPushButton* const taking = idle ? startButton_ : stopButton_;
  QPushButton* const giving = idle ? stopButton_ : startButton_;
  // The keyboard goes from the button being disabled to the one taking its place, not on to
  // whatever follows it in the window.
  taking->setEnabled(true);
  if (giving->hasFocus()) taking->setFocus(Qt::OtherFocusReason);
  giving->setEnabled(false);
  settings_->setEnabled(idle);
  if (phase != Phase::Idle) ShowProgress();
}

void SeriesWindow::ShowProgress() {
  QString text = Text(series::CountsText(counts_, wanted_));
  if (phase_ == Phase::Connecting) {
    text += QStringLiteral("; connecting…");
  } else if (run_ && stopping_) {
    text += QStringLiteral("; stopping once the boards being written are finished");
    if (!portRows_->BusyPorts().isEmpty())
      text += QStringLiteral(" (%1)").arg(portRows_->BusyPorts().join(QStringLiteral(", ")));
    if (afterRun_ == AfterRun::CloseProgrammer)
      text += QStringLiteral(", then the programmer closes");
  } else if (run_) {
    // The next board is asked for only while a port has none.
    text += portRows_->AnyWaiting() ? QStringLiteral("; put the next board on a port")
                                    : QStringLiteral("; every port has a board");
  }
  progress_->setText(wanted_ > 0 ? text : QString());
}

// The settings cannot change during a run; the station view gives their room to the live rows.
void SeriesWindow::SetStationView(bool on) {
  settings_->setVisible(!on);
  portRows_->SetZoom(on ? 2.0 : 1.0);
  QFont font = QDialog::font();
  font.setPointSizeF(font.pointSizeF() * (on ? 1.4 : 1.0));
  progress_->setFont(font);
}

// ---- closing ----

void SeriesWindow::closeEvent(QCloseEvent* event) {
  if (!running()) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  AskToStop(AfterRun::CloseWindow);
}

// Escape during a run asks as closing does; otherwise it hides the window (QDialog's closeEvent
// comes here too), keeping its settings.
void SeriesWindow::reject() {
  if (running()) {
    close();
    return;
  }
  settings_->Save();
  QDialog::reject();
}

void SeriesWindow::CloseProgrammerWhenDone() {
  show();
  raise();
  activateWindow();
  AskToStop(AfterRun::CloseProgrammer);
}

// One question at a time, and none once the answer is known: a second close while stopping only
// widens what happens at the end. The run may end while the question is shown; Yes then closes
// at once.
void SeriesWindow::AskToStop(AfterRun after) {
  if (asking_) return;
  if (afterRun_ != AfterRun::Nothing) {
    afterRun_ = std::max(afterRun_, after);
    ShowProgress();
    return;
  }
  const QString question =
      QStringLiteral(
          "A series is running. Stop it, and close %1 once the boards being "
          "written are finished?")
          .arg(after == AfterRun::CloseProgrammer ? QStringLiteral("the programmer")
                                                  : QStringLiteral("this window"));
  asking_ = true;
  const bool yes =
      ShownOver(dialogs_, this, [&] { return dialogs_.YesNo(kSeriesCaption, question); });
  asking_ = false;
  if (!yes) {
    if (!running()) Conclude(std::exchange(afterRun_, AfterRun::Nothing));
    return;
  }
  if (!running()) {
    Conclude(after);
    return;
  }
  afterRun_ = after;
  Stop();
}

// Queued: the question may have been asked from inside a close event, and a window ignores a
// close that comes while it is still handling one.
void SeriesWindow::Conclude(AfterRun after) {
  QWidget* closing = after == AfterRun::CloseWindow       ? static_cast<QWidget*>(this)
                     : after == AfterRun::CloseProgrammer ? &programmer_
                                                          : nullptr;
  if (closing) QMetaObject::invokeMethod(closing, &QWidget::close, Qt::QueuedConnection);
}

}  // namespace tuva::app
