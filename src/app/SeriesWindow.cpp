#include "app/SeriesWindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "files/ConfigFile.h"
#include "image/CapcodeCodec.h"
#include "link/Discovery.h"
#include "records/RecordText.h"
#include "series/SeriesImage.h"

namespace tuva::app {
namespace {

const QString kCaption = QStringLiteral("Series Programming");
const QString kTemplateFilter = QStringLiteral("Text files (*.tbl)");
const QString kCsvFilter = QStringLiteral("CSV files (*.csv)");

enum CountingColumn { kCounts, kFirst, kStep };
enum BoardColumn { kPort, kCapcodes, kFirmware, kResult, kTime };

QString Text(const std::string& text) {
  return QString::fromLocal8Bit(text);
}
std::string Bytes(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

QTableWidget* MakeTable(QWidget* parent, const QString& name, const QStringList& columns) {
  auto* table = new QTableWidget(0, static_cast<int>(columns.size()), parent);
  table->setObjectName(name);
  table->setHorizontalHeaderLabels(columns);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void AppendRow(QTableWidget* table, const QStringList& cells) {
  const int row = table->rowCount();
  table->insertRow(row);
  for (int column = 0; column < cells.size(); ++column)
    table->setItem(row, column, new QTableWidgetItem(cells[column]));
}

QString Seconds(double seconds) {
  return QString::number(seconds, 'f', 1);
}

}  // namespace

// ---- the main window's side ----

bool TfrmAir::BeginSeries() {
  if (busy_ || !CommitPendingEntry()) return false;
  CollectCapcodeStrings();
  busy_ = true;
  SetCommandsEnabled(false);
  canvas_->setEnabled(false);
  return true;
}

void TfrmAir::EndSeries() {
  busy_ = false;
  canvas_->setEnabled(true);
  SetCommandsEnabled(true);
  FocusSink();
  if (closeRequested_) close();
}

void TfrmAir::SeriesProgramming1Click() {
  auto* series = findChild<SeriesWindow*>();
  if (!series) series = new SeriesWindow(*this);
  series->show();
  series->raise();
  series->activateWindow();
}

// ---- the series window ----

SeriesWindow::SeriesWindow(TfrmAir& window) : QDialog(&window), window_(window) {
  setObjectName(QStringLiteral("SeriesWindow"));
  setWindowTitle(kCaption);
  setModal(false);

  auto* layout = new QVBoxLayout(this);
  settings_ = BuildSettings();
  layout->addWidget(settings_);

  auto* buttons = new QHBoxLayout;
  startButton = new QPushButton(QStringLiteral("&Start"), this);
  startButton->setObjectName(QStringLiteral("btnStart"));
  stopButton = new QPushButton(QStringLiteral("S&top"), this);
  stopButton->setObjectName(QStringLiteral("btnStop"));
  progress = new QLabel(this);
  progress->setObjectName(QStringLiteral("lblProgress"));
  buttons->addWidget(startButton);
  buttons->addWidget(stopButton);
  buttons->addWidget(progress, 1);
  layout->addLayout(buttons);

  tabs = new QTabWidget(this);
  tabs->setObjectName(QStringLiteral("tabs"));
  boards =
      MakeTable(tabs, QStringLiteral("tblBoards"),
                {QStringLiteral("Port"), QStringLiteral("Capcodes"), QStringLiteral("Firmware"),
                 QStringLiteral("Result"), QStringLiteral("Seconds")});
  tabs->addTab(boards, QStringLiteral("&Boards"));
  tabs->addTab(BuildRecordsTab(), QStringLiteral("&Records"));
  layout->addWidget(tabs, 1);

  connect(startButton, &QPushButton::clicked, this, [this] { Start(); });
  connect(stopButton, &QPushButton::clicked, this, [this] { Stop(); });
  connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
    if (tabs->widget(index) != boards) ShowRecords();
  });
  SetRunning(false);
  resize(720, 640);
}

SeriesWindow::~SeriesWindow() {
  if (run_) run_->Stop();
  if (thread_.joinable()) thread_.join();
}

QWidget* SeriesWindow::BuildSettings() {
  auto* settings = new QWidget(this);
  auto* columns = new QHBoxLayout(settings);
  columns->setContentsMargins(0, 0, 0, 0);

  // Left: the counting slots.
  auto* slotsBox = new QGroupBox(QStringLiteral("Capcodes that co&unt up"), settings);
  auto* slotsLayout = new QVBoxLayout(slotsBox);
  counting = new QTableWidget(kCapcodeSlots, 3, slotsBox);
  counting->setObjectName(QStringLiteral("tblCounting"));
  counting->setHorizontalHeaderLabels(
      {QStringLiteral("Slot"), QStringLiteral("First capcode"), QStringLiteral("Step")});
  counting->verticalHeader()->setVisible(false);
  for (int row = 0; row < kCapcodeSlots; ++row) {
    auto* slot = new QTableWidgetItem(QString::number(row + 1));
    slot->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    slot->setCheckState(Qt::Unchecked);
    counting->setItem(row, kCounts, slot);
    counting->setItem(row, kFirst, new QTableWidgetItem);
    counting->setItem(row, kStep, new QTableWidgetItem(QStringLiteral("1")));
  }
  counting->resizeColumnsToContents();
  counting->horizontalHeader()->setStretchLastSection(true);
  slotsLayout->addWidget(counting);
  columns->addWidget(slotsBox, 1);

  // Right: template, count, records and ports.
  auto* form = new QFormLayout;
  columns->addLayout(form, 2);

  auto* templateBox = new QWidget(settings);
  auto* templateLayout = new QVBoxLayout(templateBox);
  templateLayout->setContentsMargins(0, 0, 0, 0);
  templateWindow =
      new QRadioButton(QStringLiteral("The main &window's configuration"), templateBox);
  templateWindow->setObjectName(QStringLiteral("rbTemplateWindow"));
  templateWindow->setChecked(true);
  auto* fileRow = new QHBoxLayout;
  templateFile = new QRadioButton(QStringLiteral("F&ile:"), templateBox);
  templateFile->setObjectName(QStringLiteral("rbTemplateFile"));
  templatePath = new QLineEdit(templateBox);
  templatePath->setObjectName(QStringLiteral("edtTemplate"));
  browseTemplate = new QPushButton(QStringLiteral("Br&owse..."), templateBox);
  browseTemplate->setObjectName(QStringLiteral("btnBrowseTemplate"));
  fileRow->addWidget(templateFile);
  fileRow->addWidget(templatePath, 1);
  fileRow->addWidget(browseTemplate);
  templateLayout->addWidget(templateWindow);
  templateLayout->addLayout(fileRow);
  form->addRow(QStringLiteral("Template:"), templateBox);

  count = new QSpinBox(settings);
  count->setObjectName(QStringLiteral("spnCount"));
  count->setRange(1, 1000000);
  count->setValue(10);
  form->addRow(QStringLiteral("&Number of boards:"), count);

  recordsPath = new QLineEdit(settings);
  recordsPath->setObjectName(QStringLiteral("edtRecords"));
  recordsPath->setToolTip(
      QStringLiteral("An SQLite file, or postgresql://... for a database "
                     "several programming stations share"));
  try {
    recordsPath->setText(Text(records::DefaultRecordsPath()));
  } catch (const records::RecordsError&) {
    // No home folder: the user names the database.
  }
  form->addRow(QStringLiteral("Re&cords database:"), recordsPath);

  auto* portsBox = new QWidget(settings);
  auto* portsLayout = new QVBoxLayout(portsBox);
  portsLayout->setContentsMargins(0, 0, 0, 0);
  portsOfWindow = new QRadioButton(portsBox);
  portsOfWindow->setObjectName(QStringLiteral("rbPortsOfWindow"));
  portsOfWindow->setChecked(true);
  auto* typedRow = new QHBoxLayout;
  portsTyped = new QRadioButton(QStringLiteral("T&hese:"), portsBox);
  portsTyped->setObjectName(QStringLiteral("rbPortsTyped"));
  portList = new QLineEdit(portsBox);
  portList->setObjectName(QStringLiteral("edtPorts"));
  portList->setPlaceholderText(QStringLiteral("/dev/ttyUSB0, /dev/ttyUSB1"));
  typedRow->addWidget(portsTyped);
  typedRow->addWidget(portList, 1);
  portsLayout->addWidget(portsOfWindow);
  portsLayout->addLayout(typedRow);
  form->addRow(QStringLiteral("Ports:"), portsBox);
  labelPrinting = new LabelPrinting(settings);
  form->addRow(QStringLiteral("Labels:"), labelPrinting);

  connect(browseTemplate, &QPushButton::clicked, this, [this] {
    if (const auto chosen =
            window_.dialogs().OpenFile(window_.startupDirectory(), kTemplateFilter)) {
      templatePath->setText(*chosen);
      templateFile->setChecked(true);
    }
  });
  connect(templatePath, &QLineEdit::textEdited, this, [this] { templateFile->setChecked(true); });
  connect(portList, &QLineEdit::textEdited, this, [this] { portsTyped->setChecked(true); });
  return settings;
}

QWidget* SeriesWindow::BuildRecordsTab() {
  auto* page = new QWidget(tabs);
  auto* layout = new QVBoxLayout(page);
  records =
      MakeTable(page, QStringLiteral("tblRecords"),
                {QStringLiteral("#"), QStringLiteral("Time (UTC)"), QStringLiteral("Station"),
                 QStringLiteral("Port"), QStringLiteral("Capcodes"), QStringLiteral("Firmware"),
                 QStringLiteral("Frequency"), QStringLiteral("Result"), QStringLiteral("Seconds"),
                 QStringLiteral("Message")});
  records->setSortingEnabled(true);
  records->sortByColumn(0, Qt::AscendingOrder);  // oldest first, as the store lists them
  layout->addWidget(records, 1);
  auto* buttons = new QHBoxLayout;
  refreshRecords = new QPushButton(QStringLiteral("Re&fresh"), page);
  refreshRecords->setObjectName(QStringLiteral("btnRefreshRecords"));
  exportRecords = new QPushButton(QStringLiteral("&Export CSV..."), page);
  exportRecords->setObjectName(QStringLiteral("btnExportRecords"));
  buttons->addWidget(refreshRecords);
  buttons->addWidget(exportRecords);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  connect(refreshRecords, &QPushButton::clicked, this, [this] { ShowRecords(); });
  connect(exportRecords, &QPushButton::clicked, this, [this] { ExportCsv(); });
  return page;
}

void SeriesWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const std::vector<std::string>& chosen = window_.session().ports;
  QStringList names;
  for (const std::string& port : chosen) names << Text(port);
  portsOfWindow->setText(QStringLiteral("Pager > Port of the &main window (%1)")
                             .arg(names.isEmpty() ? QStringLiteral("Automatic: every candidate")
                                                  : names.join(QStringLiteral(", "))));
}

void SeriesWindow::Warn(const QString& text) {
  window_.dialogs().MessageBox(kCaption, text, MessageIcon::Exclamation);
}

// ---- running ----

std::optional<ConfigImage> SeriesWindow::Template() {
  if (templateWindow->isChecked()) return window_.session().image;
  const QString path = templatePath->text().trimmed();
  if (path.isEmpty()) {
    Warn(QStringLiteral("Choose the template file, or use the main window's configuration."));
    return std::nullopt;
  }
  ConfigImage image = ConfigImage::StartupImage();
  const FileResult opened = OpenConfigFile(QFile::encodeName(path).toStdString(), image);
  if (!opened.ok()) {
    if (opened.exclamation())
      window_.dialogs().MessageBox(Text(opened.caption), Text(opened.message),
                                   MessageIcon::Exclamation);
    else
      window_.dialogs().Message(Text(opened.message));
    return std::nullopt;
  }
  return image;
}

std::vector<std::string> SeriesWindow::Ports() const {
  std::vector<std::string> ports;
  if (portsTyped->isChecked()) {
    for (const QString& port : portList->text().split(QLatin1Char(','), Qt::SkipEmptyParts))
      if (const std::string device = QFile::encodeName(port.trimmed()).toStdString();
          !device.empty() && std::find(ports.begin(), ports.end(), device) == ports.end())
        ports.push_back(device);  // a port named twice is served once
    return ports;
  }
  const Session& session = window_.session();
  if (!session.ports.empty()) return session.ports;
  return CandidateDevices(EnumeratePorts(session.sysfsRoot, session.devRoot));
}

std::optional<series::SeriesPlan> SeriesWindow::Plan() {
  series::SeriesPlan plan;
  const auto image = Template();
  if (!image) return std::nullopt;
  plan.templateImage = *image;
  for (int row = 0; row < kCapcodeSlots; ++row) {
    if (counting->item(row, kCounts)->checkState() != Qt::Checked) continue;
    std::string text = std::to_string(row + 1);
    text += '=';
    text += Bytes(counting->item(row, kFirst)->text().trimmed());
    text += ':';
    text += Bytes(counting->item(row, kStep)->text().trimmed());
    const auto slot = series::ParseCounting(text);
    if (!slot) {
      Warn(QStringLiteral("Capcode slot %1: the first capcode and the step are whole numbers.")
               .arg(row + 1));
      return std::nullopt;
    }
    plan.counting.push_back(*slot);
  }
  plan.count = count->value();
  if (const auto fault = series::CheckPlan(plan)) {
    Warn(Text(*fault));
    return std::nullopt;
  }
  plan.ports = Ports();
  if (plan.ports.empty()) {
    Warn(portsTyped->isChecked()
             ? QStringLiteral("Type the ports to program on, separated by commas.")
             : QStringLiteral("No serial port to look for boards on; choose one in Pager > Port "
                              "or type the ports."));
    return std::nullopt;
  }
  plan.station = records::DefaultStation();
  return plan;
}

void SeriesWindow::Start() {
  if (run_) return;
  if (window_.deviceBusy()) {
    Warn(QStringLiteral("The main window is talking to the board; start when it has finished."));
    return;
  }
  // The window's entry being typed is committed first, and from here on its configuration
  // cannot change.
  if (!window_.BeginSeries()) return;
  auto plan = Plan();
  if (plan) {
    try {
      store_ = records::OpenRecordStore(Bytes(RecordsWhere()));
    } catch (const records::RecordsError& error) {
      Warn(Text(error.what()));
      plan.reset();
    }
  }
  if (!plan) {
    window_.EndSeries();
    return;
  }

  boards->setRowCount(0);
  wanted_ = plan->count;
  programmed_ = 0;
  failed_ = 0;
  stopping_ = false;
  labelPrinting->Begin(*plan);
  // Reports come from the ports' threads; the table is filled on the GUI thread.
  run_ = std::make_unique<series::SeriesRun>(
      *store_, std::move(*plan), [this](const series::BoardReport& report) {
        QMetaObject::invokeMethod(
            this, [this, report] { AddBoard(report); }, Qt::QueuedConnection);
      });
  SetRunning(true);
  thread_ = std::thread([this, run = run_.get()] {
    std::string failure;
    try {
      run->Run();
    } catch (const std::exception& error) {
      failure = error.what();
    }
    QMetaObject::invokeMethod(
        this, [this, failure] { Finished(failure); }, Qt::QueuedConnection);
  });
}

void SeriesWindow::Stop() {
  if (!run_ || stopping_) return;
  stopping_ = true;
  run_->Stop();
  stopButton->setEnabled(false);
  ShowProgress();
}

void SeriesWindow::AddBoard(const series::BoardReport& report) {
  AppendRow(boards, {Text(report.port), Text(report.capcodes.empty() ? "-" : report.capcodes),
                     Text(report.firmware.empty() ? "-" : report.firmware), Text(report.result),
                     Seconds(report.seconds)});
  if (!report.programmed) {
    for (int column = 0; column < boards->columnCount(); ++column)
      boards->item(boards->rowCount() - 1, column)->setForeground(Qt::darkRed);
  }
  boards->scrollToBottom();
  labelPrinting->Print(report);
  (report.programmed ? programmed_ : failed_) += 1;
  ShowProgress();
}

void SeriesWindow::Finished(const std::string& failure) {
  if (thread_.joinable()) thread_.join();
  std::string problem = failure.empty() ? run_->problem() : failure;
  run_.reset();
  store_.reset();
  SetRunning(false);
  ShowProgress();
  window_.EndSeries();
  if (tabs->currentWidget() != boards) ShowRecords();
  if (!problem.empty()) Warn(Text(problem));
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    close();
  }
}

void SeriesWindow::SetRunning(bool running) {
  settings_->setEnabled(!running);
  startButton->setEnabled(!running);
  stopButton->setEnabled(running);
}

void SeriesWindow::ShowProgress() {
  QString text = QStringLiteral("%1 of %2 boards programmed").arg(programmed_).arg(wanted_);
  if (failed_ > 0) text += QStringLiteral(", %1 failed").arg(failed_);
  if (run_) {
    text += stopping_ ? QStringLiteral("; stopping once the boards being written are finished")
                      : QStringLiteral("; put the next board on a port");
  }
  progress->setText(wanted_ > 0 ? text : QString());
}

void SeriesWindow::closeEvent(QCloseEvent* event) {
  if (run_) {
    event->ignore();
    if (window_.dialogs().YesNo(kCaption,
                                QStringLiteral("A series is running. Stop it, and close this "
                                               "window once the boards being written are "
                                               "finished?"))) {
      closeWhenDone_ = true;
      Stop();
    }
    return;
  }
  QDialog::closeEvent(event);
}

// Escape during a run asks as closing does; otherwise it hides the window (QDialog's closeEvent
// comes here too).
void SeriesWindow::reject() {
  if (run_) {
    close();
    return;
  }
  QDialog::reject();
}

// ---- records ----

QString SeriesWindow::RecordsWhere() const {
  return recordsPath->text().trimmed();
}

void SeriesWindow::ShowRecords() {
  std::vector<records::Attempt> attempts;
  try {
    attempts = records::OpenRecordStore(Bytes(RecordsWhere()))->List({});
  } catch (const records::RecordsError& error) {
    Warn(Text(error.what()));
    return;
  }
  records->setSortingEnabled(false);
  records->setRowCount(0);
  for (const records::Attempt& a : attempts) {
    AppendRow(records, {QString::number(a.id), Text(a.time), Text(a.station), Text(a.port),
                        Text(records::TakenText(a)), Text(a.firmware), Text(a.frequency),
                        Text(records::ResultName(a.result)), Seconds(a.seconds), Text(a.message)});
    // Numbers sort as numbers.
    records->item(records->rowCount() - 1, 0)
        ->setData(Qt::DisplayRole, static_cast<qlonglong>(a.id));
  }
  records->setSortingEnabled(true);
  records->scrollToBottom();
}

void SeriesWindow::ExportCsv() {
  std::vector<records::Attempt> attempts;
  try {
    attempts = records::OpenRecordStore(Bytes(RecordsWhere()))->List({});
  } catch (const records::RecordsError& error) {
    Warn(Text(error.what()));
    return;
  }
  const auto chosen =
      window_.dialogs().SaveFile(window_.startupDirectory(), kCsvFilter, QStringLiteral("csv"));
  if (!chosen) return;
  QFile file(*chosen);
  const std::string csv = records::AttemptsCsv(attempts);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.flush()) {
    Warn(QStringLiteral("Cannot write %1: %2").arg(*chosen, file.errorString()));
    return;
  }
  window_.dialogs().Message(
      QStringLiteral("%1 records written to %2").arg(attempts.size()).arg(*chosen));
}

}  // namespace tuva::app
