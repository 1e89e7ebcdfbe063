#include "app/LabelPrinting.h"

#include <QHBoxLayout>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QSaveFile>

#include "app/StatusLine.h"

namespace tuva::app {
namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

LabelPrinting::LabelPrinting(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LabelPrinting"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  enabled = new QCheckBox(QStringLiteral("Print a &label for each board"), this);
  enabled->setObjectName(QStringLiteral("chkLabels"));
  status = new StatusLine(this);
  status->setObjectName(QStringLiteral("lblLabels"));
  layout->addWidget(enabled);
  layout->addWidget(status, 1);
  connect(enabled, &QCheckBox::toggled, this, [this](bool on) {
    if (on && !printer_ && !Choose()) enabled->setChecked(false);
  });
}

bool LabelPrinting::Choose() {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  const labels::LabelSize size;
  printer->setPageSize(QPageSize(QSizeF(size.widthMm, size.heightMm), QPageSize::Millimeter,
                                 QString(), QPageSize::ExactMatch));
  printer->setFullPage(true);
  QPrintDialog dialog(printer.get(), this);
  dialog.setWindowTitle(QStringLiteral("Print the labels on"));
  if (dialog.exec() != QDialog::Accepted) return false;
  UsePrinter(std::move(printer));
  return true;
}

void LabelPrinting::UsePrinter(std::unique_ptr<QPrinter> printer) {
  printer_ = std::move(printer);
  printer_->setFullPage(true);
  filed_.clear();
  const QString name =
      printer_->outputFileName().isEmpty() ? printer_->printerName() : printer_->outputFileName();
  status->setText(QStringLiteral("on %1").arg(name));
}

void LabelPrinting::Save(QSettings& settings) const {
  settings.setValue(QStringLiteral("labels"), enabled->isChecked());
  if (!printer_) return;
  settings.setValue(QStringLiteral("labelPrinter"), printer_->printerName());
  settings.setValue(QStringLiteral("labelFile"), printer_->outputFileName());
  settings.setValue(QStringLiteral("labelPage"),
                    printer_->pageLayout().pageSize().size(QPageSize::Millimeter));
}

void LabelPrinting::Restore(const QSettings& settings) {
  if (!settings.value(QStringLiteral("labels")).toBool()) return;
  const QString name = settings.value(QStringLiteral("labelPrinter")).toString();
  const QString file = settings.value(QStringLiteral("labelFile")).toString();
  if (file.isEmpty() && !QPrinterInfo::availablePrinterNames().contains(name)) {
    status->setText(
        QStringLiteral("The label printer %1 is not there; check the box to choose one").arg(name));
    return;
  }
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  if (file.isEmpty()) {
    printer->setPrinterName(name);
  } else {
    printer->setOutputFileName(file);
  }
  const labels::LabelSize standard;
  const QSizeF page =
      settings.value(QStringLiteral("labelPage"), QSizeF(standard.widthMm, standard.heightMm))
          .toSizeF();
  printer->setPageSize(QPageSize(page, QPageSize::Millimeter, QString(), QPageSize::ExactMatch));
  UsePrinter(std::move(printer));
  enabled->setChecked(true);
}

void LabelPrinting::Begin(const series::SeriesPlan& plan) {
  facts_ = labels::FactsOfSeries(plan);
}

void LabelPrinting::Print(const series::BoardReport& report) {
  if (!enabled->isChecked() || !printer_ || !report.programmed) return;
  const labels::BoardFacts facts = labels::FactsOfBoard(facts_, report);
  try {
    if (printer_->outputFileName().isEmpty()) {
      PrintOnPrinter(facts);
    } else {
      WriteFile(facts);
    }
  } catch (const labels::LabelError& error) {
    status->setText(QStringLiteral("The label of %1 was not printed: %2")
                        .arg(Text(report.capcodes), Text(error.what())));
  }
}

void LabelPrinting::PrintOnPrinter(const labels::BoardFacts& facts) {
  const QRectF page = printer_->pageLayout().fullRect(QPageLayout::Millimeter);
  const labels::LabelSize size{page.width(), page.height()};
  const labels::LabelImage label = labels::RenderImage(facts, size, printer_->resolution() / 25.4);
  const QImage image(label.pixels.data(), label.width, label.height, label.stride,
                     QImage::Format_ARGB32_Premultiplied);
  QPainter painter;
  if (!painter.begin(printer_.get())) {
    throw labels::LabelError("the printer " + printer_->printerName().toStdString() +
                             " does not take it");
  }
  painter.drawImage(QRect(0, 0, painter.device()->width(), painter.device()->height()), image);
  painter.end();
}

// The labels drawn by the labels library itself, as tuvactl writes them: real text, pages of the
// label's own size whatever paper Print to File offered, and the file replaced whole, so that it
// always holds every label or, when it cannot be written, stays as it was.
void LabelPrinting::WriteFile(const labels::BoardFacts& facts) {
  std::vector<labels::BoardFacts> labels = filed_;
  labels.push_back(facts);
  const std::string pdf = labels::RenderPdf(labels, labels::LabelSize{});
  QSaveFile file(printer_->outputFileName());
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(pdf.data(), static_cast<qint64>(pdf.size())) != static_cast<qint64>(pdf.size()) ||
      !file.commit()) {
    throw labels::LabelError(file.fileName().toStdString() +
                             " cannot be written: " + file.errorString().toStdString());
  }
  filed_ = std::move(labels);
}

}  // namespace tuva::app
