#include "labels/Label.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>
#include <zint.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "image/FrequencyCodec.h"

namespace tuva::labels {
namespace {

// "62" or "62.5": digits, at most one point with digits after it.
std::optional<double> ParseMillimetres(std::string_view text) {
  const auto point = text.find('.');
  const auto digits = [](std::string_view part) {
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (point == std::string_view::npos
          ? !digits(text)
          : !digits(text.substr(0, point)) || !digits(text.substr(point + 1))) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

struct CairoDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Surface = std::unique_ptr<cairo_surface_t, CairoDeleter>;
using Context = std::unique_ptr<cairo_t, CairoDeleter>;

struct SymbolDeleter {
  void operator()(zint_symbol* symbol) const { ZBarcode_Delete(symbol); }
};

// The barcode of `data` as zint lays it out: dark rectangles (Code 128 and QR draw nothing else)
// in zint's units, within a frame of `width` x `height` that includes the quiet zone.
struct Modules {
  float width = 0;
  float height = 0;
  struct Bar {
    float x, y, width, height;
  };
  std::vector<Bar> bars;
};

Modules EncodeBarcode(Barcode kind, const std::string& data) {
  std::unique_ptr<zint_symbol, SymbolDeleter> symbol(ZBarcode_Create());
  if (!symbol) throw LabelError("the barcode library has no memory left");
  symbol->symbology = kind == Barcode::Code128 ? BARCODE_CODE128 : BARCODE_QRCODE;
  symbol->show_hrt = 0;  // the capcode is written as text beside it anyway
  // Quiet zones a scanner needs: 10 modules either side of a Code 128, 4 round a QR code.
  symbol->whitespace_width = kind == Barcode::Code128 ? 10 : 4;
  symbol->whitespace_height = kind == Barcode::Code128 ? 0 : 4;
  const int encoded =
      ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<int>(data.size()));
  if (encoded >= ZINT_ERROR || ZBarcode_Buffer_Vector(symbol.get(), 0) >= ZINT_ERROR ||
      !symbol->vector) {
    throw LabelError("the barcode of capcode " + data + " cannot be made: " + symbol->errtxt);
  }
  Modules modules;
  modules.width = symbol->vector->width;
  modules.height = symbol->vector->height;
  for (const zint_vector_rect* rect = symbol->vector->rectangles; rect; rect = rect->next) {
    modules.bars.push_back({rect->x, rect->y, rect->width, rect->height});
  }
  return modules;
}

// Draws the bars into the box (x, y, w, h) in millimetres. A Code 128 is stretched to the box; a
// QR code keeps its squares and sits at the box's left.
void DrawBarcode(cairo_t* cr, const Modules& modules, Barcode kind, double x, double y, double w,
                 double h) {
  double sx = w / modules.width;
  double sy = h / modules.height;
  if (kind == Barcode::Qr) sx = sy = std::min(sx, sy);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (const auto& bar : modules.bars) {
    cairo_rectangle(cr, x + bar.x * sx, y + bar.y * sy, bar.width * sx, bar.height * sy);
  }
  cairo_fill(cr);
}

// One line of text whose top is at `top`, `size` mm high unless it must shrink to fit `width`.
// Returns the line's bottom.
double DrawLine(cairo_t* cr, const std::string& text, bool bold, double x, double top, double width,
                double size) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  if (extents.x_advance > width && extents.x_advance > 0) {
    size *= width / extents.x_advance;
    cairo_set_font_size(cr, size);
  }
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  cairo_move_to(cr, x, top + font.ascent);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_show_text(cr, text.c_str());
  return top + font.ascent + font.descent;
}

std::string UtcText(std::chrono::system_clock::time_point time, const char* format) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, format, &utc));
}

std::string Joined(const std::vector<std::string>& parts, std::string_view between) {
  std::string text;
  for (const auto& part : parts) {
    if (part.empty()) continue;
    if (!text.empty()) text += between;
    text += part;
  }
  return text;
}

// The whole label on a context whose unit is the millimetre.
void DrawLabel(cairo_t* cr, const BoardFacts& facts, LabelSize size, const Modules& modules,
               Barcode kind) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  const double margin = std::clamp(size.heightMm * 0.06, 1.0, 3.0);
  double x = margin;
  double y = margin;
  double w = size.widthMm - 2 * margin;
  const double h = size.heightMm - 2 * margin;
  double textHeight = h;
  if (kind == Barcode::Code128) {
    textHeight = h * 0.45;
    DrawBarcode(cr, modules, kind, x, y + textHeight + margin / 2, w, h - textHeight - margin / 2);
  } else if (w >= 1.2 * h) {
    // Wide enough: the QR code at the left, the text beside it.
    const double side = std::min(h, w * 0.5);
    DrawBarcode(cr, modules, kind, x, y + (h - side) / 2, side, side);
    x += side + margin;
    w -= side + margin;
  } else {
    // Square or tall: the text across the top, the QR code centred under it.
    textHeight = h * 0.4;
    const double side = std::min(w, h - textHeight - margin / 2);
    DrawBarcode(cr, modules, kind, x + (w - side) / 2, y + h - side, side, side);
  }
  // Three lines: the capcodes large, then frequency and firmware, then station and date.
  const std::vector<std::pair<std::string, double>> lines = {
      {Joined(facts.capcodes, "  "), 0.42},
      {Joined({facts.frequency, facts.firmware}, "  "), 0.29},
      {Joined({facts.station, UtcText(facts.time, "%Y-%m-%d %H:%M UTC")}, "  "), 0.29},
  };
  for (const auto& [text, share] : lines) {
    if (text.empty()) continue;
    y = DrawLine(cr, text, &text == &lines.front().first, x, y, w, textHeight * share * 0.9);
  }
}

void Check(cairo_status_t status, const char* what) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw LabelError(std::string(what) + ": " + cairo_status_to_string(status));
  }
}

Modules ModulesFor(const BoardFacts& facts, Barcode kind) {
  if (facts.capcodes.empty() || facts.capcodes.front().empty()) {
    throw LabelError("a label needs the board's capcode");
  }
  return EncodeBarcode(kind, facts.capcodes.front());
}

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

constexpr double kPointsPerMm = 72.0 / 25.4;

std::string SafeForFileName(std::string_view text) {
  std::string safe;
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    safe += plain ? c : '_';
  }
  if (safe.empty() || safe.front() == '.') safe.insert(safe.begin(), '_');
  return safe;
}

// Writes all of `bytes` to a new file at `path`; false with errno set when it exists already or
// cannot be written (a partial file is removed).
bool WriteNew(const std::filesystem::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  errno = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  const int writeError = done == bytes.size() ? 0 : (errno ? errno : EIO);
  const bool closed = ::close(fd) == 0;
  const int error = writeError ? writeError : (closed ? 0 : errno);
  if (error) {
    ::unlink(path.c_str());
    errno = error;
    return false;
  }
  return true;
}

}  // namespace

std::optional<LabelSize> ParseLabelSize(std::string_view text) {
  if (text.size() < 2 || text.substr(text.size() - 2) != "mm") return std::nullopt;
  text.remove_suffix(2);
  const auto cross = text.find('x');
  if (cross == std::string_view::npos) return std::nullopt;
  const auto width = ParseMillimetres(text.substr(0, cross));
  const auto height = ParseMillimetres(text.substr(cross + 1));
  if (!width || !height) return std::nullopt;
  for (const double side : {*width, *height}) {
    if (side < kSmallestSideMm || side > kLargestSideMm) return std::nullopt;
  }
  return LabelSize{*width, *height};
}

std::string LabelSizeProblem(std::string_view text) {
  char range[64];
  std::snprintf(range, sizeof range, "each side %g to %g mm", kSmallestSideMm, kLargestSideMm);
  return "the label size \"" + std::string(text) +
         "\" is not WIDTHxHEIGHTmm (for example 62x29mm), " + range;
}

Barcode BarcodeFor(LabelSize size) {
  return size.widthMm >= 1.6 * size.heightMm ? Barcode::Code128 : Barcode::Qr;
}

std::string FrequencyText(const ConfigImage& image) {
  const auto mhz = StoredFrequencyMhz(image);
  return mhz ? *mhz + " MHz" : "";
}

std::vector<std::string> SplitCapcodes(std::string_view text) {
  std::vector<std::string> capcodes;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const auto part = text.substr(0, comma);
    if (!part.empty()) capcodes.emplace_back(part);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return capcodes;
}

std::string RenderPdf(const BoardFacts& facts, LabelSize size) {
  return RenderPdf(std::vector<BoardFacts>{facts}, size);
}

std::string RenderPdf(const std::vector<BoardFacts>& labels, LabelSize size) {
  if (labels.empty()) throw LabelError("there is no label to print");
  const Barcode kind = BarcodeFor(size);
  std::vector<Modules> barcodes;
  for (const BoardFacts& facts : labels) barcodes.push_back(ModulesFor(facts, kind));
  std::string bytes;
  {
    Surface surface(cairo_pdf_surface_create_for_stream(
        AppendToString, &bytes, size.widthMm * kPointsPerMm, size.heightMm * kPointsPerMm));
    Check(cairo_surface_status(surface.get()), "the label's PDF cannot be made");
    const std::string title = labels.size() == 1 ? "Label " + labels.front().capcodes.front()
                                                 : std::to_string(labels.size()) + " labels";
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "tuva");
    Context cr(cairo_create(surface.get()));
    cairo_scale(cr.get(), kPointsPerMm, kPointsPerMm);
    for (std::size_t page = 0; page < labels.size(); ++page) {
      if (page > 0) cairo_show_page(cr.get());  // the last page ends with the file
      DrawLabel(cr.get(), labels[page], size, barcodes[page], kind);
    }
    Check(cairo_status(cr.get()), "the label cannot be drawn");
    cr.reset();
    cairo_surface_finish(surface.get());
    Check(cairo_surface_status(surface.get()), "the label's PDF cannot be made");
  }
  return bytes;
}

LabelImage RenderImage(const BoardFacts& facts, LabelSize size, double dotsPerMm) {
  const Barcode kind = BarcodeFor(size);
  const Modules modules = ModulesFor(facts, kind);
  LabelImage image;
  image.width = std::max(1, static_cast<int>(size.widthMm * dotsPerMm + 0.5));
  image.height = std::max(1, static_cast<int>(size.heightMm * dotsPerMm + 0.5));
  image.stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, image.width);
  if (image.stride <= 0) throw LabelError("the label is too large to print");
  image.pixels.assign(static_cast<std::size_t>(image.stride) * image.height, 0);
  Surface surface(cairo_image_surface_create_for_data(image.pixels.data(), CAIRO_FORMAT_ARGB32,
                                                      image.width, image.height, image.stride));
  Check(cairo_surface_status(surface.get()), "the label cannot be drawn");
  Context cr(cairo_create(surface.get()));
  cairo_scale(cr.get(), static_cast<double>(image.width) / size.widthMm,
              static_cast<double>(image.height) / size.heightMm);
  DrawLabel(cr.get(), facts, size, modules, kind);
  Check(cairo_status(cr.get()), "the label cannot be drawn");
  cr.reset();
  cairo_surface_flush(surface.get());
  return image;
}

std::string LabelBaseName(const BoardFacts& facts) {
  const std::string capcode = facts.capcodes.empty() ? "board" : facts.capcodes.front();
  return SafeForFileName(capcode) + "-" + SafeForFileName(facts.station) + "-" +
         UtcText(facts.time, "%Y%m%dT%H%M%SZ");
}

LabelFolder::LabelFolder(std::filesystem::path folder, LabelSize size)
    : folder_(std::move(folder)), size_(size) {
  const std::string shown = folder_.string();
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (!std::filesystem::is_directory(folder_)) {
    throw LabelError("the label folder " + shown + " cannot be made: " +
                     (error ? error.message() : std::string("it is not a folder")));
  }
  // Permissions alone do not say it (a read-only file system, a full disk, root): write a file.
  std::string probe = (folder_ / ".tuva-label-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw LabelError("the label folder " + shown + " cannot be written: " + std::strerror(errno));
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

std::filesystem::path LabelFolder::Write(const BoardFacts& facts) const {
  const std::string bytes = RenderPdf(facts, size_);
  const std::string base = LabelBaseName(facts);
  for (int copy = 1; copy <= 1000; ++copy) {
    std::string name = base;
    if (copy > 1) name.append("-").append(std::to_string(copy));
    const auto path = folder_ / name.append(".pdf");
    if (WriteNew(path, bytes)) return path;
    if (errno != EEXIST) {
      throw LabelError("the label " + path.string() +
                       " cannot be written: " + std::strerror(errno));
    }
  }
  throw LabelError("the label " + (folder_ / base).string() +
                   ".pdf cannot be written: a thousand labels of that name exist already");
}

}  // namespace tuva::labels
