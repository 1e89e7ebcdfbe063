// A label per programmed board, for the bench's label printer.
//
// The label carries the board's capcodes, its frequency, the station, the date (UTC), the
// firmware, and a barcode of its capcode (the first one, the board's own). A label at least 1.6
// times as wide as it is high (62x29mm, the common continuous tape) gets a Code 128 under the text;
// a squarer one gets a QR code beside it. The same drawing goes to a PDF file (with its text as
// real text, so that a search or pdftotext finds the capcode) and to a raster for a printer.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "image/ConfigImage.h"

namespace tuva::labels {

struct LabelSize {
  double widthMm = 62;
  double heightMm = 29;
};

inline constexpr double kSmallestSideMm = 15;
inline constexpr double kLargestSideMm = 300;

// "62x29mm" (decimals allowed: "62.5x29mm"); each side kSmallestSideMm..kLargestSideMm. nullopt
// for anything else.
std::optional<LabelSize> ParseLabelSize(std::string_view text);
// What is wrong with a text ParseLabelSize refuses, for the operator.
std::string LabelSizeProblem(std::string_view text);

enum class Barcode { Code128, Qr };
Barcode BarcodeFor(LabelSize size);

struct BoardFacts {
  std::vector<std::string> capcodes;  // the first is the one the barcode carries
  std::string frequency;              // "462.0125 MHz"; empty when the image gives none
  std::string station;
  std::string firmware;  // "FLEX 2.41"; empty when the board did not say
  std::chrono::system_clock::time_point time = std::chrono::system_clock::now();
};

// The receive frequency of an image in MHz, "462.0125 MHz"; empty when no band or no channel step
// gives one.
std::string FrequencyText(const ConfigImage& image);

// "1500000,1600000" (a series board's capcodes as its report line shows them) into its capcodes.
std::vector<std::string> SplitCapcodes(std::string_view text);

class LabelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The label as a PDF file's bytes. Throws LabelError when there is no capcode or the barcode
// library refuses it.
std::string RenderPdf(const BoardFacts& facts, LabelSize size);
// Several labels as one PDF file, a page of `size` each, in order.
std::string RenderPdf(const std::vector<BoardFacts>& labels, LabelSize size);

// The label as pixels for a printer: 32-bit premultiplied ARGB in native byte order, rows of
// `stride` bytes, white background.
struct LabelImage {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<std::uint8_t> pixels;
};
LabelImage RenderImage(const BoardFacts& facts, LabelSize size, double dotsPerMm);

// "1500000-bench-1-20261207T163512Z": the board's capcode, the station (characters a file name
// should not hold become '_') and the UTC time.
std::string LabelBaseName(const BoardFacts& facts);

// A folder that receives one PDF per board. An existing label is never overwritten: a second
// label of the same name gets "-2", "-3"... before ".pdf".
class LabelFolder {
 public:
  // Creates the folder when missing and proves it writable by creating a file in it. Throws
  // LabelError with the reason otherwise.
  LabelFolder(std::filesystem::path folder, LabelSize size);

  // Writes the board's label; returns its path. Throws LabelError when it cannot be written (no
  // partial file is left).
  std::filesystem::path Write(const BoardFacts& facts) const;

  const std::filesystem::path& folder() const { return folder_; }
  LabelSize size() const { return size_; }

 private:
  std::filesystem::path folder_;
  LabelSize size_;
};

}  // namespace tuva::labels
