// Replacing a configuration file whole, for the changes made from the command line: the new
// content goes into a temporary file beside the old one, reaches the disk, and is renamed over the
// old file, so that an interruption at any moment leaves either the old file or the new one, never
// a mixture. As with Save, a longer existing file keeps its bytes beyond 4099, and the image is
// written as it stands (its sum and check bytes are not computed here).
#pragma once

#include <string>

#include "image/ConfigImage.h"

namespace tuva {

// Replaces the file at `path` (following a symbolic link to the file it names) with the 4100
// bytes of the image and the existing file's tail. Empty on success; otherwise what failed, with
// the system's reason, and the old file is untouched.
std::string ReplaceConfigFile(const std::string& path, const ConfigImage& image);

}  // namespace tuva
