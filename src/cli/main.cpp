// tuvactl: the programmer's operations from the command line.
//
//   tuvactl [options] COMMAND [ARGS]   (options may also follow the command)
//
// Exit status: 0 success, 1 the operation failed (diff: the files differ), 2 usage error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <malloc.h>
#include <unistd.h>

#include "cli/CommandLine.h"

namespace {

// Standard output is data (a JSON document, a CSV table, field values): when the disk is full or
// the pipe is gone, what was written is cut short and must not pass for complete. Everything is
// flushed and the stream closed before the exit status is decided.
int CloseStandardOutput(int status) {
  errno = 0;
  std::cout.flush();  // through to the C stream, which keeps what a failed write could not put
  bool failed = !std::cout.good() || std::ferror(stdout) != 0;
  int error = failed ? errno : 0;
  errno = 0;
  if (std::fclose(stdout) != 0) failed = true;
  if (error == 0) error = errno;  // a stream gone bad skips the flush; closing writes what is left
  if (!failed) return status;
  std::cerr << "tuvactl: write error";
  if (error != 0 && error != EBADF) std::cerr << ": " << std::strerror(error);
  std::cerr << std::endl;
  return status != tuva::cli::kExitSuccess ? status : tuva::cli::kExitFailed;
}

int Run(int argc, char** argv) {
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
    // Whatever else escapes a command (a records database that fails under it, text that JSON
    // cannot carry, memory) ends it with a message rather than an abort.
    std::cerr << "tuvactl: " << error.what() << std::endl;
    return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Data for a file or a pipe is kept until the end where it fits, so that a full disk is found
  // at the close with its cause rather than by a write in the middle whose cause is lost.
  static char buffer[1 << 20];
  if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  // A long records listing reads its rows in batches of hundreds of small blocks; freed, they
  // would be handed back to the system and asked for again, in small steps, batch after batch (a
  // third of a million-row listing's time). The heap grows in larger steps and keeps what it has.
  mallopt(M_TOP_PAD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
  return CloseStandardOutput(Run(argc, argv));
}
