// The tuvactl commands on configuration files alone: a new file with the programmer's start-up
// configuration, every field of a file decoded, and the fields in which two files differ. The
// fields come from the image's field table, the same one the programmer's tests walk.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "features/FieldDiff.h"
#include "features/FieldTable.h"
#include "files/ConfigFile.h"
#include "image/Utf8.h"

namespace tuva::cli {
namespace {

std::string Hex3(std::size_t offset) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%03zX", offset);
  return text;
}

// "0x003", "0x00C-0x00E", or "0x037/40" for the bits of a shared byte.
std::string Location(const Field& field) {
  std::string text = Hex3(field.offset);
  if (field.width > 1) {
    text += '-';
    text += Hex3(field.offset + field.width - 1);
  }
  if (field.mask != 0xFF) {
    char mask[8];
    std::snprintf(mask, sizeof mask, "/%02X", unsigned{field.mask});
    text += mask;
  }
  return text;
}

nlohmann::json FieldJson(const Field& field) {
  return {{"name", field.name},
          {"offset", field.offset},
          {"width", field.width},
          {"mask", field.mask},
          {"kind", std::string(KindName(field.kind))},
          {"control", field.control},
          {"label", field.label}};
}

nlohmann::json ValueJson(const Field& field, const ConfigImage& image) {
  return {{"value", field.Text(image)}, {"hex", field.Hex(image)}};
}

// Width of the name column: the longest name in the table.
int NameWidth() {
  std::size_t width = 0;
  for (const Field& field : ConfigFields()) width = std::max(width, field.name.size());
  return static_cast<int>(width);
}

}  // namespace

int NewCommand(const Options& options) {
  std::error_code error;
  if (!options.force && std::filesystem::exists(options.file, error)) {
    throw UsageError(options.file + " exists; give --force to replace it");
  }
  RequireWritableFile(options.file);
  return SaveImage(options.file, ConfigImage::StartupImage());
}

int DumpCommand(const Options& options) {
  const ConfigImage image = OpenConfigImage(options.file);
  if (options.json) {
    nlohmann::json fields = nlohmann::json::array();
    for (const Field& field : ConfigFields()) {
      nlohmann::json row = FieldJson(field);
      row.update(ValueJson(field, image));
      fields.push_back(std::move(row));
    }
    std::cout << nlohmann::json{{"file", ValidUtf8(options.file)}, {"fields", fields}}.dump(2)
              << std::endl;
    return kExitSuccess;
  }
  const int nameWidth = NameWidth();
  for (const Field& field : ConfigFields()) {
    std::cout << std::left << std::setw(14) << Location(field) << ' ' << std::setw(nameWidth)
              << field.name << ' ' << field.Text(image);
    if (!field.label.empty()) std::cout << "  (" << field.label << ")";
    std::cout << '\n';
  }
  return kExitSuccess;
}

int DiffCommand(const Options& options) {
  const ConfigImage a = OpenConfigImage(options.file);
  const ConfigImage b = OpenConfigImage(options.secondFile);
  const std::vector<const Field*> differences = DiffImages(a, b);
  if (options.json) {
    std::cout << nlohmann::json{{"a", ValidUtf8(options.file)},
                                {"b", ValidUtf8(options.secondFile)},
                                {"differences", DifferenceRows(differences, a, b, "a", "b")}}
                     .dump(2)
              << std::endl;
  } else {
    PrintDifferences(differences, a, b);
  }
  return differences.empty() ? kExitSuccess : kExitFailed;
}

ConfigImage OpenConfigImage(const std::string& path) {
  RequireReadableFile(path);
  ConfigImage image;
  const FileResult result = OpenConfigFile(path, image);
  // The window's "the file will discard !" means the file is not taken; said on a terminal, it
  // reads as if the file were deleted.
  if (result.status == FileStatus::BadFormat) {
    throw UsageError(path + ": not a configuration file (shorter than 4100 bytes, or no \"" +
                     std::string(kFileTag) + "\" at 0x84B); it is left as it is");
  }
  if (!result.ok()) throw UsageError(path + ": " + result.message);
  return image;
}

int SaveImage(const std::string& path, const ConfigImage& image) {
  const FileResult saved = SaveConfigFile(path, image);
  if (saved.ok()) return kExitSuccess;
  std::cerr << "tuvactl: " << path << ": " << (saved.caption.empty() ? "" : saved.caption + ": ")
            << saved.message << std::endl;
  return kExitFailed;
}

// The fields an editor shows first, in the window's order; the derived ones folded by family.
void PrintDifferences(const std::vector<const Field*>& fields, const ConfigImage& a,
                      const ConfigImage& b) {
  const int nameWidth = NameWidth();
  for (const DiffRow& row : ReadableDifferences(fields, a, b).rows) {
    std::string location = Location(*row.fields.front());
    if (row.fields.size() > 1) {
      const Field& last = *row.fields.back();
      location = Hex3(row.fields.front()->offset) + '-' + Hex3(last.offset + last.width - 1);
    }
    std::cout << std::left << std::setw(14) << location << ' ' << std::setw(nameWidth) << row.name
              << ' ' << row.a << "  ->  " << row.b;
    if (!row.copies.empty()) std::cout << "  (" << row.copies << ")";
    std::cout << '\n';
  }
}

nlohmann::json DifferenceRows(const std::vector<const Field*>& fields, const ConfigImage& a,
                              const ConfigImage& b, const std::string& aKey,
                              const std::string& bKey) {
  nlohmann::json rows = nlohmann::json::array();
  for (const Field* field : fields) {
    nlohmann::json row = FieldJson(*field);
    row[aKey] = ValueJson(*field, a);
    row[bKey] = ValueJson(*field, b);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace tuva::cli
