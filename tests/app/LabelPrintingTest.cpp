// The series window's label printing on a printer that prints to a PDF file: every programmed
// board's label comes out as a page of the file, with a barcode that scans back to its capcode, and
// a failed board prints nothing.
#include "app/LabelPrinting.h"

#include <QPageSize>
#include <QTemporaryDir>
#include <filesystem>

#include "app/AppTestSupport.h"
#include "support/RunProgram.h"

namespace tuva::app {
namespace {

// Print to File in the desktop's dialog comes back with the desk's paper (Letter here): the file
// still gets one page of the label's size per board, each scanning back to its board's capcode.
TEST(LabelPrintingTest, EveryProgrammedBoardsLabelIsAPageOfTheFileThatScansBackAsItsCapcode) {
  testing::TestApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  const std::string pdf = folder + "/printed.pdf";

  LabelPrinting printing(nullptr);
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(QString::fromStdString(pdf));
  printer->setPageSize(QPageSize(QPageSize::Letter));
  printing.UsePrinter(std::move(printer));
  printing.enabled->setChecked(true);
  series::SeriesPlan plan;
  plan.station = "bench";
  printing.Begin(plan);

  series::BoardReport failed{"/dev/pts/9", "1500041", "FLEX 2.41", "failed: gone", 3, false};
  printing.Print(failed);
  EXPECT_FALSE(std::filesystem::exists(pdf));

  for (const char* capcode : {"1500042", "1500043", "1500044"}) {
    printing.Print({"/dev/pts/9", capcode, "FLEX 2.41", "programmed", 11, true});
    printing.Print(failed);
  }
  ASSERT_TRUE(std::filesystem::exists(pdf)) << printing.status->text().toStdString();
  const auto info = testing::RunProgram(PDFINFO, {pdf}, folder);
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Pages:           3\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Page size:       175.748 x 82.2047 pts"), std::string::npos) << info.out;
  const auto png =
      testing::RunProgram(PDFTOPPM, {"-r", "300", "-png", pdf, folder + "/printed"}, folder);
  ASSERT_EQ(png.status, 0) << png.err;
  const auto scan = testing::RunProgram(
      ZBARIMG,
      {"-q", folder + "/printed-1.png", folder + "/printed-2.png", folder + "/printed-3.png"},
      folder);
  EXPECT_EQ(scan.out, "CODE-128:1500042\nCODE-128:1500043\nCODE-128:1500044\n") << scan.err;
}

}  // namespace
}  // namespace tuva::app
