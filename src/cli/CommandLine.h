// The command line of tuvactl: options (before or after the command word), the command and its
// file arguments. Parsing runs no command, so it can be checked on any argument vector.
#pragma once

#include <string>

#include "cli/Commands.h"

namespace tuva::cli {

struct CommandLine {
  Options options;
  Command command = nullptr;      // the chosen command; null when parsing ended the run
  int exitStatus = kExitSuccess;  // when command is null: kExitSuccess (--help, --version) or
                                  // kExitUsage
  std::string output;             // what --help, --version or a usage error print
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace tuva::cli
