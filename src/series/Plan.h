// Setting a series up, the same from tuvactl and from the series window: the plan of the run made
// from what the user gave, and the records opened and made ready for its first board.
#pragma once

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "image/ConfigImage.h"
#include "records/RecordStore.h"
#include "series/SeriesImage.h"
#include "series/SeriesRun.h"

namespace tuva::series {

// Where the ports of a run come from; it also says what none means.
enum class PortsFrom {
  Named,   // named by the user one by one; none named: every candidate adapter found
  Typed,   // typed into the window's list of ports
  Window,  // the main window's Pager > Port (on Automatic, its board search's candidates)
};

// What the user gives for a series, as values.
struct PlanInputs {
  std::string templatePath;                  // the template file
  std::optional<ConfigImage> templateImage;  // instead of a file: the main window's configuration
  std::vector<CountingCapcode> counting;
  // The number of boards; with a list, 0 (none given) is every row the list has left.
  int count = 0;
  std::vector<std::string> keep;  // re-provisioning: the fields each board keeps
  std::string listPath;           // the operator's CSV list; empty for none
  std::string firmwarePath;       // empty: each board keeps its firmware
  bool firmwareFullCheck = false;
  bool firmwareAllowed = true;  // false outside service mode: the window refuses a firmware file
  std::vector<std::string> ports;
  PortsFrom portsFrom = PortsFrom::Named;
  bool verify = false;
  std::optional<std::string> password;  // answers a kept board's read password
  std::string station;                  // empty: this computer's name
  bool reprogram = false;
};

// The plan, or the first input refused; a template that does not open with the file's message.
std::variant<SeriesPlan, PlanRefusal> BuildPlan(const PlanInputs& inputs);

// A store opened for a caller that may give up: once `stop` is requested, the store's waits end at
// once, also while it is still being opened. The store may outlive the caller's token.
std::shared_ptr<records::RecordStore> OpenStoppable(const std::string& where,
                                                    records::OpenMode mode, std::stop_token stop);

// The records opened and checked for a run. With `refusal` set the plan's list was refused (its
// input named); the store and the notes are there all the same.
struct Prepared {
  std::shared_ptr<records::RecordStore> store;
  std::vector<std::string> notes;  // what an earlier run left, finished or named: shown once
  std::optional<PlanRefusal> refusal;
  std::optional<records::ListState> list;  // how far the plan's list is used
  // The counting slots none of whose capcodes these records ever handed out, in the plan's order:
  // the window asks before such a run, tuvactl says so.
  std::vector<CountingCapcode> newProgressions;
};

// Why the records are not ready.
struct NotPrepared {
  enum class Why {
    MissingDatabase,  // a database named by hand is not there: ask before starting one
    ForeignJournal,   // the journal holds results of another database (ask to adopt them)
    Stopped,          // the caller gave up; `message` says what was failing then, if anything
  };
  Why why = Why::Stopped;
  std::string message;
  std::vector<std::string> notes;  // Stopped: what was finished before, shown all the same
};

// Opens the records at `where` (the default database made on first use, one named by hand only
// with `startNew`), checks them and finishes what an earlier run left (PrepareRecords, with
// `adopt`), imports the plan's list or finds it again to go on where it stopped (setting the
// plan's listId, and with countFromList its count) and finds the new progressions. Nothing is
// written once `stop` is requested. Throws RecordsError when the database fails otherwise.
std::variant<Prepared, NotPrepared> Prepare(const std::string& where, bool startNew, bool adopt,
                                            SeriesPlan& plan, std::stop_token stop);

// "LIST: 10 rows: 4 used, 5 free, 1 failed"
std::string ListStateText(const std::string& name, const records::ListState& state);

}  // namespace tuva::series
