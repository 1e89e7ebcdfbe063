// The commands of tuvactl. Each returns the process's exit status; a bad argument (a missing or
// unreadable file, a device that does not exist) throws UsageError.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "cli/CliFrontend.h"

namespace tuva::cli {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFailed = 1,  // the operation ran and failed (or, for diff, the files differ)
  kExitUsage = 2,   // bad command line or file argument
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::vector<std::string> ports;  // --port: probe these devices instead of the enumeration
  bool yes = false;
  std::string password;
  bool passwordGiven = false;
  bool quiet = false;
  bool trace = false;
  bool json = false;
  std::string file;        // the command's file argument
  std::string secondFile;  // diff's second file

  // The records of programmed boards.
  std::string records;       // --records: an SQLite file or a PostgreSQL URL; "" is the default
  bool csv = false;          // records --csv
  std::string capcodeQuery;  // records --capcode N
  bool failedOnly = false;   // records --failed
  std::string release;       // records --release SLOT=CAPCODE

  // series
  std::vector<std::string> capcodes;  // --capcode SLOT=FIRST[:STEP]
  int count = 0;                      // --count
  std::string station;                // --station; the host name when empty
};

using Command = int (*)(const Options&);

// Commands that talk to a board.
int PortsCommand(const Options& options);
int ProbeCommand(const Options& options);
int FirmwareCommand(const Options& options);
int ReadCommand(const Options& options);
int WriteCommand(const Options& options);
int VerifyCommand(const Options& options);
int FirmwareVerifyCommand(const Options& options);
int FirmwareProgramCommand(const Options& options);

// Programs boards one after another from a template, counting capcodes up (SeriesCommand.cpp).
int SeriesCommand(const Options& options);

// Commands on configuration files alone.
int NewCommand(const Options& options);
int DumpCommand(const Options& options);
int DiffCommand(const Options& options);

// The records of programmed boards.
int RecordsCommand(const Options& options);

// Checks a file argument before anything else happens.
void RequireReadableFile(const std::string& path);
void RequireWritableFile(const std::string& path);

}  // namespace tuva::cli
