// `tuvactl apply FILE CHANGES`: whatever the JSON of changes holds, apply either refuses it with
// a message and leaves the configuration file byte for byte as it was, or sets it; and the same
// changes applied a second time change nothing.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "FuzzTemp.h"
#include "cli/Commands.h"
#include "files/ConfigFile.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The start-up configuration as a file's bytes, made once.
const std::string& StartBytes() {
  static const std::string bytes = [] {
    const std::string path = tuva::fuzz::TempPath("start.tbl");
    if (!tuva::SaveConfigFile(path, tuva::ConfigImage::StartupImage()).ok()) std::abort();
    return ReadAll(path);
  }();
  return bytes;
}

// Runs apply; its messages are caught so that a long run does not fill the terminal.
int Apply(const tuva::cli::Options& options, std::string& message) {
  std::ostringstream caught;
  std::streambuf* const old = std::cerr.rdbuf(caught.rdbuf());
  int status = 0;
  try {
    status = tuva::cli::ApplyCommand(options);
  } catch (const tuva::cli::UsageError& error) {
    caught << error.what();
    status = tuva::cli::kExitUsage;
  }
  std::cerr.rdbuf(old);
  message = caught.str();
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tuva::cli::Options options;
  options.file = tuva::fuzz::TempPath("image.tbl");
  {
    std::ofstream out(options.file, std::ios::binary | std::ios::trunc);
    out << StartBytes();
  }
  options.secondFile = tuva::fuzz::WriteInput("changes.json", data, size);
  std::string message;
  const int status = Apply(options, message);
  if (status != tuva::cli::kExitSuccess) {
    if (status != tuva::cli::kExitUsage || message.empty()) std::abort();
    if (ReadAll(options.file) != StartBytes()) std::abort();  // a refusal loses nothing
    return 0;
  }
  const std::string once = ReadAll(options.file);
  if (Apply(options, message) != tuva::cli::kExitSuccess) std::abort();
  if (ReadAll(options.file) != once) std::abort();
  return 0;
}
