// A private folder for the fuzz targets that must hand their input to a reader by file name.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace tuva::fuzz {

// The path of `name` in a folder made once per process (mode 0700, as mkdtemp makes it).
inline std::string TempPath(const std::string& name) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/tuva-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    static const std::string folder = made;
    std::atexit([] { std::filesystem::remove_all(folder); });
    return folder;
  }();
  return dir + "/" + name;
}

// Writes the input as the file `name` and returns its path.
inline std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = TempPath(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out.flush()) std::abort();
  return path;
}

}  // namespace tuva::fuzz
