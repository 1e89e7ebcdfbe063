#include "app/CompareDialog.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPalette>
#include <QVBoxLayout>
#include <algorithm>

#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "app/SeriesSettings.h"
#include "device/ReadInto.h"
#include "features/FieldDiff.h"
#include "records/RecordStore.h"

namespace tuva::app {
namespace {

QTableWidgetItem* Cell(const std::string& text, bool derived) {
  auto* item = new QTableWidgetItem(Text(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  // A derived row follows from the rows above it; it is there, but it is not what to correct.
  if (derived) item->setForeground(QGuiApplication::palette().color(QPalette::PlaceholderText));
  return item;
}

QString Summary(const ReadableDiff& diff) {
  if (diff.rows.empty()) return kBoardHoldsConfiguration;
  return QString::fromStdString(DiffCount(diff)) +
         QStringLiteral(" between the board and the window.");
}

}  // namespace

CompareDialog::CompareDialog(const ConfigImage& board, const ConfigImage& window, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(kCompareCaption);
  const ReadableDiff diff = ReadableDifferences(board, window);
  Fill(Summary(diff), diff, QStringLiteral("Board"), QStringLiteral("Window"));
}

CompareDialog::CompareDialog(const series::BoardCheck& check, QWidget* parent) : QDialog(parent) {
  setWindowTitle(kCheckCaption);
  using Kind = series::BoardCheck::Kind;
  QString summary = Text(series::CheckAnswer(check));
  summary[0] = summary[0].toUpper();
  ReadableDiff diff;
  if (check.kind == Kind::Changed && check.bySha256) {
    summary += QLatin1Char('\n') + Text(series::UnnamedFieldsText(check));
  } else if (check.kind == Kind::Changed) {
    diff = ReadableDifferences(check.fields, check.recorded, check.board);
    summary += QLatin1Char('\n') + QString::fromStdString(DiffCount(diff)) +
               QStringLiteral(" between what was written and the board.");
  }
  Fill(summary, diff, QStringLiteral("Recorded"), QStringLiteral("Board"));
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // The attempt's line is read as one: the dialog is as wide as its longest line.
  int widest = 0;
  for (const QString& line : summary.split(QLatin1Char('\n')))
    widest = std::max(widest, summary_->fontMetrics().horizontalAdvance(line));
  const QMargins margins = layout()->contentsMargins();
  resize(std::max(width(), widest + margins.left() + margins.right() + 8),
         diff.rows.empty() ? sizeHint().height() : height());
}

void CompareDialog::Fill(const QString& summary, const ReadableDiff& diff, const QString& first,
                         const QString& second) {
  setObjectName(QStringLiteral("CompareDialog"));
  summary_ = new QLabel(summary, this);
  summary_->setObjectName(QStringLiteral("lblCompare"));

  table_ = new QTableWidget(static_cast<int>(diff.rows.size()), 4, this);
  table_->setObjectName(QStringLiteral("tblCompare"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Label"), first, second});
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int row = 0; row < table_->rowCount(); ++row) {
    const DiffRow& shown = diff.rows[static_cast<std::size_t>(row)];
    table_->setItem(row, 0, Cell(shown.name, shown.derived));
    table_->setItem(row, 1, Cell(shown.label, shown.derived));
    table_->setItem(row, 2, Cell(shown.a, shown.derived));
    table_->setItem(row, 3, Cell(shown.b, shown.derived));
  }
  table_->setAlternatingRowColors(true);
  table_->setFocusPolicy(Qt::NoFocus);
  table_->resizeColumnsToContents();
  table_->setColumnWidth(0, table_->columnWidth(0) + table_->fontMetrics().averageCharWidth());
  for (const int values : {2, 3})
    table_->setColumnWidth(values, std::max(table_->columnWidth(values), 150));
  table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  table_->setVisible(!diff.rows.empty());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(table_, 1);
  layout->addWidget(buttons);
  resize(diff.rows.empty() ? QSize(320, 100) : QSize(720, 360));
}

// The board is read as Read reads it (copy 1 standing in for a bad copy 0, the read password
// asked), but into a copy of the window's image, which itself stays as it is. The capcode strings
// being edited are collected first, as for Verify, so the comparison sees what the window shows.
void TfrmAir::CompareWithBoard1Click() {
  if (serviceMode_) return;
  RunDeviceCommand([this] {
    CollectCapcodeStrings();
    ConfigImage board = document_.image;
    if (!ReadConfigurationInto(*link_, document_, board).Done()) return;
    for (CompareDialog* earlier : findChildren<CompareDialog*>()) earlier->close();
    auto* dialog = new CompareDialog(board, document_.image, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
  });
}

// The board is read as Compare with Board reads it, but into the start-up image: what the window
// holds plays no part. The records are the series window's, as it kept them from its last use, or
// the default database; they are opened before the board is read, and only for reading.
void TfrmAir::CheckAgainstRecords1Click() {
  if (serviceMode_) return;
  RunDeviceCommand([this] {
    std::optional<series::BoardCheck> check;
    try {
      const auto store = records::OpenRecordStore(Bytes(SeriesSettings::KeptRecordsWhere()),
                                                  records::OpenMode::ReadOnly);
      ConfigImage board = ConfigImage::StartupImage();
      if (!ReadConfigurationInto(*link_, document_, board).Done()) return;
      check = series::CheckBoard(*store, board);
    } catch (const records::RecordsError& error) {
      frontend_->ShowMessageBox(kCheckCaption.toStdString(), error.what(), MessageIcon::Error);
      return;
    }
    for (CompareDialog* earlier : findChildren<CompareDialog*>()) earlier->close();
    auto* dialog = new CompareDialog(*check, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
  });
}

}  // namespace tuva::app
