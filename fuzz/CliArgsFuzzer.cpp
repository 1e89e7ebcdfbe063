// tuvactl's command line: the input is split at zero bytes into arguments. Whatever they are, the
// parser either picks exactly one command or ends with a message and status 0 (help, version) or
// 2 (usage); it never runs a command and never crashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"tuvactl"};
  std::string word;
  for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (!word.empty()) words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());

  const tuva::cli::CommandLine line =
      tuva::cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  if (line.command == nullptr) {
    if (line.exitStatus != tuva::cli::kExitSuccess && line.exitStatus != tuva::cli::kExitUsage) {
      std::abort();
    }
    if (line.output.empty()) std::abort();
  } else if (line.options.passwordGiven == false && !line.options.password.empty()) {
    std::abort();
  }
  return 0;
}
