// Configuration files (".tbl"): the 4100-byte image written out byte for byte, with no header of
// its own. The first six bytes of the version text at 0x84B, "FLEX" and two spaces, are the file's
// tag; a file without it is refused. The sum and check bytes travel as they stand: saving does not
// compute them and opening does not test them.
//
// Every refusal leaves the image exactly as it was: a file is read into a scratch buffer and
// copied over the image only once it has passed every check.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "image/ConfigImage.h"

namespace tuva {

inline constexpr std::size_t kFileTagOffset = 0x84B;
inline constexpr std::string_view kFileTag = "FLEX  ";

enum class FileStatus {
  Ok,
  OpenError,  // the file cannot be opened or read: "Open Error!"
  BadFormat,  // wrong tag or shorter than an image: "The [name] is not correct format, ..."
  SaveError,  // the file cannot be opened or written: "Save Error!"
};

struct FileResult {
  FileStatus status = FileStatus::Ok;
  std::string message;  // the text to show; empty when ok
  std::string caption;  // "Tuva" for the boxes with an exclamation icon; empty for the plain
                        // message, which carries the application title
  bool ok() const { return status == FileStatus::Ok; }
  bool exclamation() const { return !caption.empty(); }
};

// True when the block holds the file tag at 0x84B (case-sensitive; a zero byte fails).
bool HasFileTag(std::span<const std::uint8_t> block);

// Opens a configuration file and, when it is good, copies its first 4100 bytes over the image.
// `path` is the name the messages show (the current file name).
FileResult OpenConfigFile(const std::string& path, ConfigImage& image);

// Writes the 4100 bytes of the image over the file from its start, creating it when missing; a
// longer existing file keeps its bytes beyond 4099. `beforeWrite` runs once the file is open and
// before the bytes are taken from the image (the window collects the capcode strings there).
FileResult SaveConfigFile(const std::string& path, const ConfigImage& image,
                          const std::function<void()>& beforeWrite = {});

// The window caption after an open or save: everything up to and including the first "[", then
// the file name and "]"; a caption without "[" gets " - [" + name + "]" appended.
std::string CaptionWithFile(std::string_view caption, std::string_view fileName);

}  // namespace tuva
