// tuvactl: the programmer's operations from the command line.
//
//   tuvactl [options] COMMAND [ARGS]   (options may also follow the command)
//
// Exit status: 0 success, 1 the operation failed (diff: the files differ), 2 usage error.
#include <iostream>

#include "cli/CommandLine.h"

int main(int argc, char** argv) {
  using namespace tuva::cli;
  const CommandLine line = ParseCommandLine(argc, argv);
  if (line.command == nullptr) {
    (line.exitStatus == kExitSuccess ? std::cout : std::cerr) << line.output;
    return line.exitStatus;
  }
  try {
    return line.command(line.options);
  } catch (const UsageError& error) {
    std::cerr << "tuvactl: " << error.what() << std::endl;
    return kExitUsage;
  } catch (const std::exception& error) {
    // Whatever else escapes a command (text that JSON cannot carry, memory) ends it with a
    // message rather than an abort.
    std::cerr << "tuvactl: " << error.what() << std::endl;
    return kExitFailed;
  }
}
