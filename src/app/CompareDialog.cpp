#include "app/CompareDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "device/ReadInto.h"
#include "features/FieldTable.h"

namespace tuva::app {
namespace {

// The value as the window shows it; with the bytes when the two shown values alone look equal.
QString Shown(const Field& field, const ConfigImage& image, bool withHex) {
  QString text = FromBytes(field.Text(image));
  if (withHex) text += QStringLiteral(" [%1]").arg(QString::fromStdString(field.Hex(image)));
  return text;
}

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

}  // namespace

CompareDialog::CompareDialog(const ConfigImage& board, const ConfigImage& window, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("CompareDialog"));
  setWindowTitle(kCompareCaption);
  const std::vector<const Field*> differences = DiffImages(board, window);

  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("lblCompare"));
  if (differences.empty()) {
    summary_->setText(kBoardHoldsConfiguration);
  } else {
    summary_->setText(differences.size() == 1
                          ? QStringLiteral("1 field differs between the board and the window.")
                          : QStringLiteral("%1 fields differ between the board and the window.")
                                .arg(differences.size()));
  }

  table_ = new QTableWidget(static_cast<int>(differences.size()), 4, this);
  table_->setObjectName(QStringLiteral("tblCompare"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Label"),
                                     QStringLiteral("Board"), QStringLiteral("Window")});
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int row = 0; row < table_->rowCount(); ++row) {
    const Field& field = *differences[static_cast<std::size_t>(row)];
    const bool sameText = field.Text(board) == field.Text(window);
    table_->setItem(row, 0, Cell(QString::fromStdString(field.name)));
    table_->setItem(row, 1, Cell(QString::fromStdString(field.label)));
    table_->setItem(row, 2, Cell(Shown(field, board, sameText)));
    table_->setItem(row, 3, Cell(Shown(field, window, sameText)));
  }
  table_->setAlternatingRowColors(true);
  table_->setFocusPolicy(Qt::NoFocus);
  table_->resizeColumnsToContents();
  for (const int values : {2, 3})
    table_->setColumnWidth(values, std::max(table_->columnWidth(values), 150));
  table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  table_->setVisible(!differences.empty());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(table_, 1);
  layout->addWidget(buttons);
  resize(differences.empty() ? QSize(320, 100) : QSize(720, 360));
}

// The board is read as Read reads it (copy 1 standing in for a bad copy 0, the read password
// asked), but into a copy of the window's image, which itself stays as it is. The capcode strings
// being edited are collected first, as for Verify, so the comparison sees what the window shows.
void TfrmAir::CompareWithBoard1Click() {
  if (session_->serviceMode) return;
  RunDeviceCommand([this] {
    CollectCapcodeStrings();
    ConfigImage board = session_->image;
    if (!ReadConfigurationInto(*session_, board)) return;
    for (CompareDialog* earlier : findChildren<CompareDialog*>()) earlier->close();
    auto* dialog = new CompareDialog(board, session_->image, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
  });
}

}  // namespace tuva::app
