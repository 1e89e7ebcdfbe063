// Opening a configuration file: whatever the bytes, a refused file leaves the image as it was,
// and an accepted one saves back the first 4100 bytes byte for byte.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/ConfigFile.h"

namespace {

std::string TempPath(const char* stem) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/tuva-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return dir + "/" + stem;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = TempPath("input.tbl");
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  tuva::ConfigImage image = tuva::ConfigImage::StartupImage();
  const tuva::ConfigImage before = image;
  const tuva::FileResult result = tuva::OpenConfigFile(input, image);
  if (!result.ok()) {
    if (!(image == before)) std::abort();  // a refused file must not touch the image
    if (result.message.empty()) std::abort();
    return 0;
  }
  if (size < tuva::kImageSize) std::abort();  // a short file can never be a configuration
  const std::string output = TempPath("output.tbl");
  std::remove(output.c_str());
  if (!tuva::SaveConfigFile(output, image).ok()) std::abort();
  const std::vector<std::uint8_t> saved = ReadAll(output);
  if (saved.size() != tuva::kImageSize) std::abort();
  if (!std::equal(saved.begin(), saved.end(), data)) std::abort();
  return 0;
}
