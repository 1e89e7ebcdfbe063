#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <sstream>
#include <string_view>

#include "features/FieldValues.h"

namespace tuva::cli {
namespace {

struct CommandEntry {
  const char* name;
  const char* help;
  Command run;
  const char* fileHelp;  // nullptr: the command takes no file
};

constexpr CommandEntry kCommands[] = {
    {"ports", "List the serial devices and whether the board search tries them", PortsCommand,
     nullptr},
    {"probe", "Find the board and print its device", ProbeCommand, nullptr},
    {"firmware", "Print the model and version of the board's firmware", FirmwareCommand, nullptr},
    {"read", "Read the board's configuration into a .tbl file", ReadCommand,
     "Configuration file to write"},
    {"write", "Write a .tbl file to both configuration copies of the board", WriteCommand,
     "Configuration file to write to the board"},
    {"verify", "Compare the board's configuration with a .tbl file", VerifyCommand,
     "Configuration file to compare with"},
    {"fw-verify", "Compare the board's program memory with an S-record file", FirmwareVerifyCommand,
     "Firmware file (Motorola S-records)"},
    {"fw-program", "Erase the board's program memory and program an S-record file",
     FirmwareProgramCommand, "Firmware file (Motorola S-records)"},
    {"series", "Program boards one after another from a template, counting capcodes up",
     SeriesCommand, "Template configuration file (.tbl)"},
    {"new", "Write the programmer's start-up configuration as a .tbl file", NewCommand,
     "Configuration file to create"},
    {"dump", "Print every field of a .tbl file, decoded", DumpCommand, "Configuration file"},
    {"diff", "Print the fields in which two .tbl files differ", DiffCommand,
     "First configuration file"},
    {"records", "List the boards programmed, or return a failed board's capcode to the pool",
     RecordsCommand, nullptr},
    {"check", "Say whether the board holds what the records say it was programmed with",
     CheckCommand, nullptr},
    {"get", "Print the values of fields of a .tbl file, one a line", GetCommand,
     "Configuration file"},
    {"set", "Set fields of a .tbl file (all or none)", SetCommand, "Configuration file to change"},
    {"export", "Print every settable field of a .tbl file as one JSON object", ExportCommand,
     "Configuration file"},
    {"apply", "Set the fields named in a JSON object (all or none)", ApplyCommand,
     "Configuration file to change"},
    {"compare", "Print the fields in which the board differs from a .tbl file", CompareCommand,
     "Configuration file to compare with"},
};

// An option that takes a value, shown in the help as `type`.
template <typename T>
CLI::Option* AddValue(CLI::App& app, const char* name, T& value, const char* help,
                      const char* type) {
  return app.add_option(name, value, help)->type_name(type);
}

void AddGlobalOptions(CLI::App& app, Options& options) {
  AddValue(app, "--port", options.ports,
           "Serial device of the board (repeatable); skips the port listing, still probes. A board "
           "behind a serial server: rfc2217://HOST:PORT (the server's line is set to 19200 8N1) "
           "or socket://HOST:PORT (raw TCP; the line settings are the server's)",
           "DEV|URL");
  app.add_flag("-y,--yes", options.yes, "Answer Yes to the overwrite question");
  AddValue(app, "--password", options.password, "The board's read password", "TEXT")
      ->each([&options](const std::string&) { options.passwordGiven = true; });
  app.add_flag("-q,--quiet", options.quiet, "No progress bar");
  app.add_flag("--trace", options.trace, "Print every frame sent and received, in hex, on stderr");
  app.add_flag("--json", options.json, "dump, diff, compare and records: print JSON");
}

void AddRecordsOptions(CLI::App& command, Options& options) {
  command.add_flag("--csv", options.csv, "Print CSV");
  AddValue(command, "--capcode", options.capcodeQuery, "Only the board that holds this capcode",
           "N");
  command.add_flag("--failed", options.failedOnly,
                   "Only the attempts not programmed (failed, and open ones)");
  AddValue(command, "--since", options.since, "Only the attempts started on or after DATE", "DATE");
  AddValue(command, "--station", options.station, "Only the attempts of this station", "NAME");
  AddValue(command, "--limit", options.limit, "Only the newest N attempts", "N");
  command.add_flag("--summary", options.summary,
                   "Per station and hour: boards programmed, re-provisioned, skipped, failed "
                   "(by cause) and boards per hour");
  AddValue(command, "--by", options.by, "--summary: per hour (the default) or per day", "hour|day");
  AddValue(command, "--release", options.release, "Return a failed board's capcode to the pool",
           "SLOT=CAPCODE");
  command.add_flag("--force", options.force,
                   "--release: also a capcode whose board was erased and may hold it");
  AddValue(command, "--list", options.listFile, "How many rows of this list are used, free, failed",
           "FILE.csv");
  AddValue(command, "--image", options.image,
           "Attempt N's image as the board was programmed, rebuilt from the records (to -o "
           "FILE.tbl)",
           "N");
  AddValue(command, "-o,--output", options.output, "--image: the configuration file to write",
           "FILE.tbl");
  AddValue(command, "--discard-journal", options.discardJournal,
           "Drop from the journal the result of attempt ID (or all) of another database", "ID|all");
}

void AddSeriesOptions(CLI::App& command, Options& options) {
  AddValue(command, "--capcode", options.capcodes,
           "A slot (1-16) whose capcode counts up from board to board (repeatable)",
           "SLOT=FIRST[:STEP]");
  AddValue(command, "--count", options.count, "Programmed boards after which the run ends", "N")
      ->each([&options](const std::string&) { options.countGiven = true; });
  AddValue(command, "--capcodes", options.capcodesFile,
           "Each board's values from this CSV list (header: field names), each row once",
           "FILE.csv");
  AddValue(command, "--records", options.records,
           "Records: an SQLite file (default ~/.local/share/tuva/records.sqlite) or a "
           "postgresql:// URL",
           "DB");
  AddValue(command, "--station", options.station, "Station name recorded (default: host name)",
           "NAME");
  command.add_flag("--reprogram", options.reprogram,
                   "Write boards that already hold a programmed capcode too (a second pass)");
  command.add_flag("--new-records", options.newRecords,
                   "Start a new records database at the --records path");
  command.add_flag("--adopt-journal", options.adoptJournal,
                   "Record here the journal's results of another records database (their boards "
                   "keep their capcodes)");
  AddValue(command, "--labels", options.labels, "Write a PDF label per programmed board here",
           "DIR");
  AddValue(command, "--label-size", options.labelSize, "The labels' size (default 62x29mm)",
           "WxHmm");
  AddValue(command, "--keep", options.keep,
           "Re-provision: each board is read and keeps these fields (names as set takes them; "
           "capcodes: every slot's capcode), the rest comes from the template",
           "FIELD,...")
      ->delimiter(',');
  command.add_flag("--verify", options.verifyPass,
                   "Verify copy 0 again after each Write (its read-back of both copies is the "
                   "verification otherwise)");
  AddValue(command, "--firmware", options.firmware,
           "Firmware (an S2 file, such as .s28 or .mot) put on each board before its "
           "configuration, unless the board already runs it",
           "FILE.s28");
  AddValue(command, "--firmware-check", options.firmwareCheck,
           "full: a board that seems to run the firmware is compared block by block", "full");
}

// What a command takes besides its FILE: the arguments after it and the options of its own.
void AddCommandArguments(CLI::App& command, std::string_view name, Options& options) {
  if (name == "diff") {
    command.add_option("FILE2", options.secondFile, "Second configuration file")->required();
  } else if (name == "get") {
    command.add_option("NAME", options.fieldArguments, "Field names, as dump prints them")
        ->required();
  } else if (name == "set") {
    command.add_option("NAME=VALUE", options.fieldArguments, "Fields and their new values")
        ->required();
  } else if (name == "export") {
    AddValue(command, "-o,--output", options.output,
             "Write the JSON to this file (-: standard output)", "OUT");
  } else if (name == "apply") {
    command
        .add_option("CHANGES", options.secondFile,
                    "JSON object of field names and values (-: standard input)")
        ->required();
  } else if (name == "new") {
    command.add_flag("-f,--force", options.force, "Replace FILE when it exists");
  } else if (name == "series") {
    AddSeriesOptions(command, options);
  } else if (name == "records" || name == "check") {
    AddValue(command, "--records", options.records,
             "Records database: an SQLite file or a postgresql:// URL", "DB");
    if (name == "records") AddRecordsOptions(command, options);
  }
}

// The first word that is neither an option nor an option's value: where the command word stands.
std::string CommandWord(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--port" || word == "--password") {
      ++i;
      continue;
    }
    if (!word.starts_with('-')) return std::string(word);
  }
  return {};
}

// "unknown command 'verfy' (did you mean verify?)" when the command word names no command.
std::optional<std::string> UnknownCommand(int argc, const char* const* argv) {
  const std::string word = CommandWord(argc, argv);
  if (word.empty()) return std::nullopt;
  const CommandEntry* closest = nullptr;
  std::size_t best = 0;
  for (const CommandEntry& entry : kCommands) {
    if (word == entry.name) return std::nullopt;
    const std::size_t distance = EditDistance(word, entry.name);
    if (!closest || distance < best) {
      closest = &entry;
      best = distance;
    }
  }
  std::string text = "tuvactl: unknown command '" + word + "'";
  if (best <= 2) text += std::string(" (did you mean ") + closest->name + "?)";
  return text + "\nRun with --help for the commands.\n";
}

// The option named `name` ("--port", "-o") of the program or of any command.
const CLI::Option* FindOption(CLI::App& app, const std::string& name) {
  if (const CLI::Option* option = app.get_option_no_throw(name)) return option;
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    if (const CLI::Option* option = command->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

// A word that begins with "--" is never an option's value: the parser would take the next word
// whatever it is, so `--port --records m3.sqlite` would look for a board on a device named
// "--records" and write to the default records. Checked for every option of every command; the
// value is not repeated unless it names an option (it may be a password).
std::optional<std::string> OptionAsValue(CLI::App& app, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") break;  // what follows are file arguments
    if (word.size() < 2 || !word.starts_with('-')) continue;
    const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string_view::npos;
    const std::string name(word.substr(0, equals));
    const CLI::Option* option = FindOption(app, name);
    if (!option || option->get_items_expected_min() == 0) continue;  // unknown, or a flag
    std::string_view value;
    if (equals != std::string_view::npos) {
      value = word.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    }
    if (!value.starts_with("--")) continue;
    const std::string other(value.substr(0, value.find('=')));
    if (FindOption(app, other)) {
      return "tuvactl: " + name + " needs a value (got the option " + other + ")\n";
    }
    return "tuvactl: " + name + " needs a value, not a word that begins with --\n";
  }
  return std::nullopt;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  CLI::App app{"Programs the Tarnhollow Vantel Tuva FLEX paging receiver.", "tuvactl"};
  app.set_version_flag("--version", std::string("tuvactl ") + TUVA_VERSION);
  app.require_subcommand(1, 1);
  app.fallthrough();
  AddGlobalOptions(app, line.options);

  Command chosen = nullptr;
  for (const CommandEntry& entry : kCommands) {
    CLI::App* command = app.add_subcommand(entry.name, entry.help);
    command->fallthrough();
    if (entry.fileHelp) {
      command->add_option("FILE", line.options.file, entry.fileHelp)->required();
    }
    AddCommandArguments(*command, entry.name, line.options);
    command->callback([&chosen, run = entry.run] { chosen = run; });
  }

  if (auto refused = OptionAsValue(app, argc, argv)) {
    line.output = *refused;
    line.exitStatus = kExitUsage;
    return line;
  }
  try {
    app.parse(argc, argv);
    line.command = chosen;
  } catch (const CLI::ParseError& error) {
    if (chosen == nullptr && error.get_exit_code() != 0) {
      if (auto unknown = UnknownCommand(argc, argv)) {
        line.output = *unknown;
        line.exitStatus = kExitUsage;
        return line;
      }
    }
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(error, out, err);
    // The parser's own complaint carries the program's name, as every message of tuvactl does.
    std::string complaint = err.str();
    if (!complaint.empty()) complaint.insert(0, "tuvactl: ");
    line.output = out.str() + complaint;
    line.exitStatus = code == 0 ? kExitSuccess : kExitUsage;
  }
  return line;
}

}  // namespace tuva::cli
