// The commands of tuvactl. Each returns the process's exit status; a bad argument (a missing or
// unreadable file, a device that does not exist) throws UsageError.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/CliFrontend.h"
#include "device/BoardLink.h"
#include "features/FieldTable.h"

namespace tuva::series {
struct PlanInputs;
}

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
  std::string file;                         // the command's file argument
  std::string secondFile;                   // diff's second file, apply's changes
  std::vector<std::string> fieldArguments;  // get's NAME..., set's NAME=VALUE...
  std::string output;  // export -o: the file instead of stdout; records -o: --image's file
  bool force = false;  // new: replace an existing file; records --release: also an erased attempt

  // The records of programmed boards.
  std::string records;       // --records: an SQLite file or a PostgreSQL URL; "" is the default
  bool csv = false;          // records --csv
  std::string capcodeQuery;  // records --capcode N
  bool failedOnly = false;   // records --failed
  std::string release;       // records --release SLOT=CAPCODE
  std::string since;         // records --since DATE
  std::size_t limit = 0;     // records --limit N: the newest N; 0 for all
  bool newRecords = false;   // series --new-records: create the database named by --records
  bool summary = false;      // records --summary: each station's boards per hour or day
  std::string by;            // records --by hour|day: the summary's period; "" is hour
  std::string image;         // records --image N: attempt N's image, written to -o

  // The journal's results of another records database (a lost one): series --adopt-journal
  // records them in this one; records --discard-journal ID|all drops them.
  bool adoptJournal = false;
  std::string discardJournal;

  // series
  std::vector<std::string> capcodes;  // --capcode SLOT=FIRST[:STEP]
  int count = 0;                      // --count
  std::string station;                // --station; the host name when empty
  bool reprogram = false;             // --reprogram: write boards already programmed too
  std::string labels;                 // --labels: a folder for a PDF label per board
  std::string labelSize = "62x29mm";  // --label-size
  std::vector<std::string> keep;      // --keep: fields each board keeps ("capcodes", NAME, ...)
  bool verifyPass = false;            // --verify: a Verify pass after each board's Write
  std::string firmware;               // --firmware: an S-record file put on every board first
  std::string firmwareCheck;          // --firmware-check full: compare every block, not the tail
  std::string capcodesFile;           // --capcodes: each board's values from a CSV list
  bool countGiven = false;            // --count was given (a list's default is every row left)
  std::string listFile;               // records --list: a list's used, free and failed rows
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
// What the series options give for its plan; an option given wrongly (or missing) throws
// UsageError.
series::PlanInputs SeriesPlanInputs(const Options& options);

// Commands on configuration files alone.
int NewCommand(const Options& options);
int DumpCommand(const Options& options);
int DiffCommand(const Options& options);

// The records of programmed boards, and the board on the port held against them.
int RecordsCommand(const Options& options);
int CheckCommand(const Options& options);

// Commands on the fields of a configuration file by name, and the comparison with a board.
int GetCommand(const Options& options);
int SetCommand(const Options& options);
int ExportCommand(const Options& options);
int ApplyCommand(const Options& options);
int CompareCommand(const Options& options);

// Opens a configuration file; a refused file is a bad argument.
ConfigImage OpenConfigImage(const std::string& path);
// Saves `image` as a configuration file; the exit status, a failure said on stderr.
int SaveImage(const std::string& path, const ConfigImage& image);

// diff's output for fields that differ between `a` and `b`: one line per field (the editors'
// fields first in the window's order, the derived ones folded by family), or JSON rows with every
// field and the two values under `aKey` and `bKey`.
void PrintDifferences(const std::vector<const Field*>& fields, const ConfigImage& a,
                      const ConfigImage& b);
nlohmann::json DifferenceRows(const std::vector<const Field*>& fields, const ConfigImage& a,
                              const ConfigImage& b, const std::string& aKey,
                              const std::string& bKey);

// Runs a device operation on a link whose front end is the terminal, with the command line's
// ports, password and trace. A device named by --port that does not exist is a bad argument.
bool RunOnBoard(const Options& options,
                const std::function<bool(BoardLink&, Document&)>& operation);

// Checks a file argument before anything else happens.
void RequireReadableFile(const std::string& path);
void RequireWritableFile(const std::string& path);

}  // namespace tuva::cli
