#include "app/SeriesSettings.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMetaProperty>
#include <QVBoxLayout>
#include <algorithm>

#include "app/AppSettings.h"
#include "app/Controls.h"
#include "app/Dialogs.h"
#include "app/StatusLine.h"
#include "records/RecordStore.h"

namespace tuva::app {
namespace {

const QString kTemplateFilter = QStringLiteral("Text files (*.tbl)");
const QString kSettingsGroup = QStringLiteral("series");
constexpr int kSlotsPerColumn = 8;

// A row whose label's mnemonic gives the focus to `buddy`, one control inside `field`.
void AddRowFor(QFormLayout* form, const QString& label, QWidget* field, QWidget* buddy) {
  auto* text = new QLabel(label, field->parentWidget());
  text->setBuddy(buddy);
  form->addRow(text, field);
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, int characters) {
  auto* edit = Named<QLineEdit>(name, parent);
  const QFontMetrics metrics(edit->font());
  edit->setMinimumWidth(metrics.horizontalAdvance(QString(characters, QLatin1Char('9'))) +
                        metrics.averageCharWidth() * 2);
  return edit;
}

}  // namespace

SeriesSettings::SeriesSettings(Dialogs& dialogs, QString folder, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), folder_(std::move(folder)) {
  setObjectName(QStringLiteral("SeriesSettings"));
  auto* columns = new QHBoxLayout(this);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->addWidget(BuildSlots());

  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  columns->addLayout(form, 1);
  form->addRow(QStringLiteral("Template:"), BuildTemplate());

  count_ = Named<QSpinBox>(QStringLiteral("spnCount"), this);
  count_->setRange(0, 1000000);  // 0 is typed as it is, and refused with a message
  count_->setValue(10);
  form->addRow(QStringLiteral("&Number of boards:"), count_);
  // Where each board's values come from besides the template, and what else it gets.
  QWidget* list = BuildList();
  AddRowFor(form, QStringLiteral("Capco&de list:"), list, listPath_);
  keepCapcodes_ = Named<QCheckBox>(QStringLiteral("chkKeepCapcodes"),
                                   QStringLiteral("&Keep the board's capcodes"), this);
  keepCapcodes_->setToolTip(
      QStringLiteral("Re-provisioning: each board is read first and keeps its own capcodes; "
                     "everything else comes from the template"));
  form->addRow(QStringLiteral("Boards programmed before:"), keepCapcodes_);
  QWidget* firmware = BuildFirmware();
  AddRowFor(form, QStringLiteral("Firmw&are:"), firmware, firmwarePath_);

  QWidget* records = BuildRecords();
  AddRowFor(form, QStringLiteral("Re&cords database:"), records, recordsPath_);
  form->addRow(QStringLiteral("Ports:"), BuildPorts());
  labelPrinting_ = new LabelPrinting(this);
  form->addRow(QStringLiteral("Labels:"), labelPrinting_);
}

QWidget* SeriesSettings::BuildSlots() {
  auto* box = Named<QGroupBox>(QStringLiteral("grpCounting"),
                               QStringLiteral("Capcodes that co&unt up"), this);
  auto* grid = new QGridLayout(box);
  grid->setVerticalSpacing(2);
  for (int half = 0; half < kCapcodeSlots / kSlotsPerColumn; ++half) {
    const int column = half * 4;
    grid->addWidget(new QLabel(QStringLiteral("Slot"), box), 0, column);
    grid->addWidget(new QLabel(QStringLiteral("First capcode"), box), 0, column + 1);
    grid->addWidget(new QLabel(QStringLiteral("Step"), box), 0, column + 2);
    if (half == 0) grid->setColumnMinimumWidth(3, 12);
  }
  for (int slot = 0; slot < kCapcodeSlots; ++slot) {
    const int row = 1 + slot % kSlotsPerColumn;
    const int column = (slot / kSlotsPerColumn) * 4;
    const QString number = QString::number(slot + 1);
    counts_[slot] = Named<QCheckBox>(QStringLiteral("chkCount") + number, number, box);
    firsts_[slot] = MakeEdit(box, QStringLiteral("edtFirst") + number, 7);
    steps_[slot] = MakeEdit(box, QStringLiteral("edtStep") + number, 3);
    steps_[slot]->setText(QStringLiteral("1"));
    grid->addWidget(counts_[slot], row, column);
    grid->addWidget(firsts_[slot], row, column + 1);
    grid->addWidget(steps_[slot], row, column + 2);
    // Typing a first capcode makes the slot count.
    connect(firsts_[slot], &QLineEdit::textEdited, counts_[slot],
            [box = counts_[slot]] { box->setChecked(true); });
  }
  grid->setRowStretch(kSlotsPerColumn + 1, 1);
  return box;
}

QWidget* SeriesSettings::BuildTemplate() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  templateWindow_ = Named<QRadioButton>(QStringLiteral("rbTemplateWindow"),
                                        QStringLiteral("The main &window's configuration"), box);
  templateWindow_->setChecked(true);
  auto* fileRow = new QHBoxLayout;
  templateFile_ =
      Named<QRadioButton>(QStringLiteral("rbTemplateFile"), QStringLiteral("F&ile:"), box);
  templatePath_ = Named<QLineEdit>(QStringLiteral("edtTemplate"), box);
  auto* browse =
      Named<QPushButton>(QStringLiteral("btnBrowseTemplate"), QStringLiteral("Br&owse..."), box);
  browse->setAutoDefault(false);
  fileRow->addWidget(templateFile_);
  fileRow->addWidget(templatePath_, 1);
  fileRow->addWidget(browse);
  layout->addWidget(templateWindow_);
  layout->addLayout(fileRow);

  connect(browse, &QPushButton::clicked, this, [this] {
    DialogOwner owner(dialogs_, window());
    if (const auto chosen = dialogs_.OpenFile(folder_, kTemplateFilter)) {
      templatePath_->setText(*chosen);
      templateFile_->setChecked(true);
    }
  });
  connect(templatePath_, &QLineEdit::textEdited, this, [this] { templateFile_->setChecked(true); });
  return box;
}

QWidget* SeriesSettings::BuildPorts() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  portsOfWindow_ = Named<QRadioButton>(QStringLiteral("rbPortsOfWindow"), box);
  portsOfWindow_->setChecked(true);
  auto* typedRow = new QHBoxLayout;
  portsTyped_ = Named<QRadioButton>(QStringLiteral("rbPortsTyped"), QStringLiteral("T&hese:"), box);
  portList_ = Named<QLineEdit>(QStringLiteral("edtPorts"), box);
  portList_->setPlaceholderText(QStringLiteral("/dev/ttyUSB0, /dev/ttyUSB1"));
  typedRow->addWidget(portsTyped_);
  typedRow->addWidget(portList_, 1);
  layout->addWidget(portsOfWindow_);
  layout->addLayout(typedRow);
  connect(portList_, &QLineEdit::textEdited, this, [this] { portsTyped_->setChecked(true); });
  return box;
}

// A box whose first row is a file's path and its Browse button, which opens the file dialog on
// `filter`; the rows under it are the caller's.
QWidget* SeriesSettings::PathRow(QLineEdit*& path, const QString& name, const QString& browseName,
                                 const QString& filter) {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* fileRow = new QHBoxLayout;
  path = Named<QLineEdit>(name, box);
  auto* browse = Named<QPushButton>(browseName, QStringLiteral("Browse..."), box);
  browse->setAutoDefault(false);
  fileRow->addWidget(path, 1);
  fileRow->addWidget(browse);
  layout->addLayout(fileRow);
  connect(browse, &QPushButton::clicked, this, [this, path, filter] {
    DialogOwner owner(dialogs_, window());
    if (const auto chosen = dialogs_.OpenFile(folder_, filter)) path->setText(*chosen);
  });
  return box;
}

QWidget* SeriesSettings::BuildFirmware() {
  QWidget* box =
      PathRow(firmwarePath_, QStringLiteral("edtFirmware"), QStringLiteral("btnBrowseFirmware"),
              QStringLiteral("S-record files (*.s19 *.s28 *.mot)"));
  firmwarePath_->setPlaceholderText(QStringLiteral("none: each board keeps its firmware"));
  firmwarePath_->setToolTip(
      QStringLiteral("An S-record file put on each board before its configuration, unless the "
                     "board already runs it"));
  firmwareFull_ =
      Named<QCheckBox>(QStringLiteral("chkFirmwareFull"),
                       QStringLiteral("Com&pare every block of a board that looks the same"), box);
  box->layout()->addWidget(firmwareFull_);
  return box;
}

// Each board's values from the operator's CSV list; with a list, a number of boards of 0 is every
// row the list has left.
QWidget* SeriesSettings::BuildList() {
  QWidget* box = PathRow(listPath_, QStringLiteral("edtCapcodeList"),
                         QStringLiteral("btnBrowseList"), QStringLiteral("CSV files (*.csv)"));
  listPath_->setPlaceholderText(QStringLiteral("none: the capcodes count up"));
  listPath_->setToolTip(
      QStringLiteral("A CSV file: a header of field names (capcode.1.address,prompt.1), then one "
                     "row per board; each row is used once"));
  listState_ = Named<StatusLine>(QStringLiteral("lblListState"), box);
  box->layout()->addWidget(listState_);
  listState_->hide();  // shown once there is something to say
  connect(listPath_, &QLineEdit::textChanged, this, [this] { ShowListState({}); });
  return box;
}

QWidget* SeriesSettings::BuildRecords() {
  auto* box = new QWidget(this);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  recordsPath_ = Named<QLineEdit>(QStringLiteral("edtRecords"), box);
  recordsPath_->setToolTip(
      QStringLiteral("An SQLite file, or postgresql://... for a database several programming "
                     "stations share (its password is not kept between sessions: keep it in "
                     "~/.pgpass)"));
  try {
    recordsPath_->setText(Text(records::DefaultRecordsPath()));
  } catch (const records::RecordsError&) {
    // No home folder: the user names the database.
  }
  // The name wraps instead of widening the form as it is typed: a long path breaks after a '/'.
  recordsName_ = Named<QLabel>(QStringLiteral("lblRecordsName"), box);
  recordsName_->setWordWrap(true);
  recordsName_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  layout->addWidget(recordsPath_);
  layout->addWidget(recordsName_);
  connect(recordsPath_, &QLineEdit::textChanged, this, [this] { ShowRecordsName(); });
  ShowRecordsName();
  return box;
}

void SeriesSettings::ShowRecordsName() {
  const std::string where = Bytes(recordsWhere());
  try {
    const bool standard = records::SeriesOpenMode(where, false) == records::OpenMode::Create;
    QString name = Text(records::RecordsName(where));
    name.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));  // a zero-width break after each
    recordsName_->setText(
        QStringLiteral("Boards are recorded in %1%2")
            .arg(name, standard ? QStringLiteral(" (the default database)") : QString()));
  } catch (const records::RecordsError& error) {
    recordsName_->setText(Text(error.what()));
  }
}

void SeriesSettings::ShowListState(const QString& text) {
  listState_->setText(text);
  listState_->setVisible(!text.isEmpty());
}

void SeriesSettings::ShowWindowPorts(const MainWindowValues& main) {
  QStringList names;
  for (const std::string& port : main.ports) names << Text(port);
  portsOfWindow_->setText(QStringLiteral("Pager > Port of the &main window (%1)")
                              .arg(main.automatic ? QStringLiteral("Automatic: every candidate")
                                                  : names.join(QStringLiteral(", "))));
}

QString SeriesSettings::recordsWhere() const {
  return recordsPath_->text().trimmed();
}

// ---- kept between sessions ----

std::vector<std::pair<QString, QWidget*>> SeriesSettings::Kept() const {
  std::vector<std::pair<QString, QWidget*>> kept = {
      {QStringLiteral("templateFromFile"), templateFile_},
      {QStringLiteral("template"), templatePath_}};
  for (int slot = 0; slot < kCapcodeSlots; ++slot) {
    const QString key = QStringLiteral("slot%1/").arg(slot + 1);
    kept.insert(kept.end(), {{key + QStringLiteral("counts"), counts_[slot]},
                             {key + QStringLiteral("first"), firsts_[slot]},
                             {key + QStringLiteral("step"), steps_[slot]}});
  }
  kept.insert(kept.end(), {{QStringLiteral("count"), count_},
                           {QStringLiteral("list"), listPath_},
                           {QStringLiteral("keepCapcodes"), keepCapcodes_},
                           {QStringLiteral("firmware"), firmwarePath_},
                           {QStringLiteral("firmwareFullCheck"), firmwareFull_},
                           {QStringLiteral("records"), recordsPath_},
                           {QStringLiteral("portsTyped"), portsTyped_},
                           {QStringLiteral("ports"), portList_}});
  return kept;
}

void SeriesSettings::Save() const {
  const auto settings = AppSettings();
  settings->beginGroup(kSettingsGroup);
  for (const auto& [key, field] : Kept()) {
    settings->setValue(key, field->metaObject()->userProperty().read(field));
  }
  // The database is kept as its store names it: an SQLite file by its absolute path (the next
  // session may start in another folder), a PostgreSQL URL without its password (no secret in a
  // settings file).
  const std::string where = Bytes(recordsWhere());
  settings->setValue(QStringLiteral("records"),
                     where.empty() ? QString() : Text(records::RecordsName(where)));
  labelPrinting_->Save(*settings);
}

// A setting that was never kept keeps the value the window starts with; a radio button kept
// unchecked leaves the window's first choice checked.
void SeriesSettings::Restore() {
  const auto settings = AppSettings();
  settings->beginGroup(kSettingsGroup);
  for (const auto& [key, field] : Kept()) {
    const QMetaProperty value = field->metaObject()->userProperty();
    value.write(field, settings->value(key, value.read(field)));
  }
  labelPrinting_->Restore(*settings);
}

QString SeriesSettings::KeptRecordsWhere() {
  const auto settings = AppSettings();
  settings->beginGroup(kSettingsGroup);
  return settings->value(QStringLiteral("records")).toString();
}

// ---- the plan ----

std::variant<series::PlanInputs, series::PlanRefusal> SeriesSettings::Inputs(
    const MainWindowValues& main) const {
  series::PlanInputs inputs;
  if (templateWindow_->isChecked()) inputs.templateImage = main.image;
  inputs.templatePath = Bytes(templatePath_->text().trimmed());
  for (int slot = 1; slot <= kCapcodeSlots; ++slot) {
    if (!counts_[slot - 1]->isChecked()) continue;
    const auto first = ParseCapcode(Bytes(firsts_[slot - 1]->text().trimmed()));
    const auto step = ParseCapcode(Bytes(steps_[slot - 1]->text().trimmed()));
    if (!first || !step) {
      return series::PlanRefusal{series::PlanInput::First, slot,
                                 "Capcode slot " + std::to_string(slot) +
                                     ": the first capcode and the step are whole numbers."};
    }
    inputs.counting.push_back({slot, *first, *step});
  }
  if (keepCapcodes_->isChecked()) inputs.keep = {std::string(series::kKeepCapcodes)};
  if (!count_->hasAcceptableInput()) {
    return series::PlanRefusal{series::PlanInput::Count, 0,
                               "Number of boards: type a whole number, 1 or more."};
  }
  inputs.count = count_->value();
  inputs.listPath = Bytes(listPath_->text().trimmed());
  const bool typed = portsTyped_->isChecked();
  inputs.portsFrom = typed ? series::PortsFrom::Typed : series::PortsFrom::Window;
  if (!typed) inputs.ports = main.ports;
  for (const QString& port : typed ? portList_->text().split(QLatin1Char(',')) : QStringList()) {
    if (!port.trimmed().isEmpty()) inputs.ports.push_back(Bytes(port.trimmed()));
  }
  inputs.firmwarePath = Bytes(firmwarePath_->text().trimmed());
  inputs.firmwareFullCheck = firmwareFull_->isChecked();
  inputs.firmwareAllowed = main.serviceMode;
  return inputs;
}

std::variant<series::SeriesPlan, series::PlanRefusal> SeriesSettings::Plan(
    const MainWindowValues& main) {
  auto inputs = Inputs(main);
  if (auto* refused = std::get_if<series::PlanRefusal>(&inputs)) return std::move(*refused);
  auto plan = series::BuildPlan(std::get<series::PlanInputs>(inputs));
  if (auto* built = std::get_if<series::SeriesPlan>(&plan); built && built->list)
    ShowListState(QStringLiteral("%1 rows").arg(built->list->rows.size()));
  return plan;
}

QWidget* SeriesSettings::FieldOf(const series::PlanRefusal& refused) const {
  switch (refused.input) {
    case series::PlanInput::Template:
      return templateWindow_->isChecked() ? static_cast<QWidget*>(templateWindow_) : templatePath_;
    case series::PlanInput::First:
      return firsts_[std::clamp(refused.index, 1, kCapcodeSlots) - 1];
    case series::PlanInput::Step:
      return steps_[std::clamp(refused.index, 1, kCapcodeSlots) - 1];
    case series::PlanInput::Count:
      return count_;
    case series::PlanInput::Ports:
      return portsTyped_->isChecked() ? static_cast<QWidget*>(portList_) : portsOfWindow_;
    case series::PlanInput::Keep:
      return keepCapcodes_;
    case series::PlanInput::Firmware:
      return firmwarePath_;
    case series::PlanInput::List:
      return listPath_;
  }
  return nullptr;
}

}  // namespace tuva::app
