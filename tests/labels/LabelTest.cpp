// Labels as the bench reads them: the PDF's text through pdftotext, its barcode through zbarimg
// on the page rasterised by pdftoppm, and the files a folder of labels ends up holding.
#include "labels/Label.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "support/RunProgram.h"

namespace tuva::labels {
namespace {

namespace fs = std::filesystem;
using tuva::testing::RunProgram;

class LabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tuva-labels-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static BoardFacts Facts() {
    BoardFacts facts;
    facts.capcodes = {"1500042", "1600042"};
    facts.frequency = "462.0125 MHz";
    facts.station = "bench/2";
    facts.firmware = "FLEX 2.41";
    facts.time = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + std::chrono::hours(16) +
                 std::chrono::minutes(35) + std::chrono::seconds(12);
    return facts;
  }

  fs::path dir_;
};

TEST_F(LabelTest, TextAndBarcodeReadBackAsTheCapcode) {
  struct Case {
    const char* size;
    const char* symbol;  // zbarimg's name of the symbology
  };
  for (const Case test : {Case{"62x29mm", "CODE-128"}, Case{"29x29mm", "QR-Code"},
                          Case{"100.5x50mm", "CODE-128"}, Case{"50x40mm", "QR-Code"}}) {
    SCOPED_TRACE(test.size);
    const auto size = ParseLabelSize(test.size);
    ASSERT_TRUE(size);
    const fs::path pdf = dir_ / "label.pdf";
    std::ofstream(pdf, std::ios::binary) << RenderPdf(Facts(), *size);

    const auto text = RunProgram(PDFTOTEXT, {pdf.string(), "-"}, dir_.string());
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char* expected :
         {"1500042", "1600042", "462.0125 MHz", "FLEX 2.41", "bench/2", "2026-12-07 16:35 UTC"}) {
      EXPECT_NE(text.out.find(expected), std::string::npos) << expected << " in " << text.out;
    }

    const auto png = RunProgram(
        PDFTOPPM, {"-r", "300", "-png", "-singlefile", pdf.string(), (dir_ / "label").string()},
        dir_.string());
    ASSERT_EQ(png.status, 0) << png.err;
    const auto scan = RunProgram(ZBARIMG, {"-q", (dir_ / "label.png").string()}, dir_.string());
    EXPECT_EQ(scan.out, std::string(test.symbol) + ":1500042\n") << scan.err;
  }
}

TEST_F(LabelTest, SizeTextIsWidthByHeightInMillimetres) {
  struct Case {
    const char* text;
    std::optional<std::pair<double, double>> size;
  };
  const Case cases[] = {
      {"62x29mm", {{62, 29}}},     {"62.5x29.25mm", {{62.5, 29.25}}}, {"15x300mm", {{15, 300}}},
      {"62x29", std::nullopt},     {"62X29mm", std::nullopt},         {"x29mm", std::nullopt},
      {"62x29mmm", std::nullopt},  {"-62x29mm", std::nullopt},        {"62.x29mm", std::nullopt},
      {"14.9x29mm", std::nullopt}, {"62x301mm", std::nullopt},        {"", std::nullopt},
      {"1e2x29mm", std::nullopt},  {"62x29x3mm", std::nullopt},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.text);
    const auto size = ParseLabelSize(test.text);
    ASSERT_EQ(size.has_value(), test.size.has_value());
    if (size) {
      EXPECT_EQ(std::make_pair(size->widthMm, size->heightMm), *test.size);
    }
  }
  EXPECT_NE(LabelSizeProblem("62x29").find("\"62x29\" is not WIDTHxHEIGHTmm"), std::string::npos);
}

TEST_F(LabelTest, AFolderNeverLosesALabel) {
  const LabelFolder folder(dir_ / "new" / "labels", LabelSize{});
  const auto first = folder.Write(Facts());
  EXPECT_EQ(first.filename(), "1500042-bench_2-20261207T163512Z.pdf");
  const std::string firstBytes = Slurp(first);
  BoardFacts again = Facts();
  again.firmware = "FLEX 2.42";
  const auto second = folder.Write(again);
  EXPECT_EQ(second.filename(), "1500042-bench_2-20261207T163512Z-2.pdf");
  EXPECT_EQ(Slurp(first), firstBytes);
  EXPECT_NE(Slurp(second), firstBytes);

  BoardFacts none = Facts();
  none.capcodes.clear();
  EXPECT_THROW(folder.Write(none), LabelError);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.folder()), fs::directory_iterator()), 2);

  std::ofstream(dir_ / "file") << "x";
  try {
    LabelFolder(dir_ / "file" / "labels", LabelSize{});
    ADD_FAILURE() << "a folder under a file was accepted";
  } catch (const LabelError& error) {
    EXPECT_NE(std::string(error.what()).find("/file/labels cannot be made"), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace tuva::labels
