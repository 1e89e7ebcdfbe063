// The series window's label printing on a printer that prints to a PDF file: the page that comes
// out carries a barcode that scans back to the board's capcode, and a failed board prints nothing.
#include "app/LabelPrinting.h"

#include <QPageSize>
#include <QTemporaryDir>
#include <filesystem>

#include "app/AppTestSupport.h"
#include "support/RunProgram.h"

namespace tuva::app {
namespace {

TEST(LabelPrintingTest, AProgrammedBoardsLabelScansBackAsItsCapcode) {
  testing::TestApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  const std::string pdf = folder + "/printed.pdf";

  LabelPrinting printing(nullptr);
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(QString::fromStdString(pdf));
  printer->setPageSize(
      QPageSize(QSizeF(62, 29), QPageSize::Millimeter, QString(), QPageSize::ExactMatch));
  printing.UsePrinter(std::move(printer));
  printing.enabled->setChecked(true);
  series::SeriesPlan plan;
  plan.station = "bench";
  printing.Begin(plan);

  series::BoardReport failed{"/dev/pts/9", "1500041", "FLEX 2.41", "failed: gone", 3, false};
  printing.Print(failed);
  EXPECT_FALSE(std::filesystem::exists(pdf));

  series::BoardReport programmed{"/dev/pts/9", "1500042", "FLEX 2.41", "programmed", 11, true};
  printing.Print(programmed);
  ASSERT_TRUE(std::filesystem::exists(pdf)) << printing.status->text().toStdString();
  const auto png = testing::RunProgram(
      PDFTOPPM, {"-r", "300", "-png", "-singlefile", pdf, folder + "/printed"}, folder);
  ASSERT_EQ(png.status, 0) << png.err;
  const auto scan = testing::RunProgram(ZBARIMG, {"-q", folder + "/printed.png"}, folder);
  EXPECT_EQ(scan.out, "CODE-128:1500042\n") << scan.err;
}

}  // namespace
}  // namespace tuva::app
