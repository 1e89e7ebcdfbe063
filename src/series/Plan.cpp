#include "series/Plan.h"

#include <algorithm>
#include <functional>

#include "files/ConfigFile.h"
#include "image/Utf8.h"
#include "link/Discovery.h"
#include "records/Journal.h"
#include "series/CapcodeList.h"
#include "series/SeriesFirmware.h"
#include "series/SeriesRecords.h"

namespace tuva::series {
namespace {

PlanRefusal Refuse(PlanInput input, std::string message) {
  return PlanRefusal{input, 0, std::move(message)};
}

// Imports `plan.list` into `store` and sets `plan.listId` and `shownState`; the count becomes the
// rows left when `plan.countFromList` is set. Refused (input List, or Count) when no row is left,
// when a free row's capcode is already held in these records (an open or failed attempt, a
// programmed board: two receivers would share it), when the file changes an imported list other
// than by new rows at its end, or when fewer rows are left than the count; a refused file is not
// imported.
std::optional<PlanRefusal> PrepareSeriesList(records::RecordStore& store, SeriesPlan& plan,
                                             records::ListState& shownState) {
  if (!plan.list) return std::nullopt;
  const std::string shown = ValidUtf8(plan.list->path);
  const records::ListState state = store.ImportList(ListImportOf(*plan.list, plan.templateImage));
  if (!state.refused.empty()) return PlanRefusal{PlanInput::List, 0, state.refused};
  plan.listId = state.id;
  shownState = state;
  if (state.free == 0) {
    std::string message = "the list " + shown + " is used up: ";
    message += ListStateText(shown, state).substr(shown.size() + 2);
    if (state.failed > 0)
      message += " (a failed board's row comes back when its capcode is released)";
    return PlanRefusal{PlanInput::List, 0, message};
  }
  if (state.conflict) {
    return PlanRefusal{PlanInput::List, 0,
                       shown + " line " + std::to_string(state.conflict->line) + ": capcode " +
                           std::to_string(state.conflict->capcode) +
                           " is already held in these records by attempt #" +
                           std::to_string(state.conflict->attempt) +
                           "; two receivers would share it"};
  }
  if (plan.countFromList) {
    plan.count = static_cast<int>(state.free);
  } else if (static_cast<std::size_t>(plan.count) > state.free) {
    return PlanRefusal{PlanInput::Count, 0,
                       "the list " + shown + " has " + std::to_string(state.free) +
                           (state.free == 1 ? " row" : " rows") + " left, fewer than the count " +
                           std::to_string(plan.count)};
  }
  return std::nullopt;
}

}  // namespace

std::variant<SeriesPlan, PlanRefusal> BuildPlan(const PlanInputs& inputs) {
  SeriesPlan plan;
  if (inputs.templateImage) {
    plan.templateImage = *inputs.templateImage;
  } else if (inputs.templatePath.empty()) {
    return Refuse(PlanInput::Template,
                  "Choose the template file, or use the main window's configuration.");
  } else if (const FileResult opened = OpenConfigFile(inputs.templatePath, plan.templateImage);
             !opened.ok()) {
    return Refuse(PlanInput::Template, opened.message);
  }
  plan.counting = inputs.counting;
  plan.keep = inputs.keep;
  plan.readPassword = inputs.password;
  plan.count = inputs.count;
  if (!inputs.listPath.empty()) {
    try {
      plan.list = ReadCapcodeList(inputs.listPath);
    } catch (const ListError& error) {
      return Refuse(PlanInput::List, error.what());
    }
    // Until the records say how many rows are left, the list's length bounds the count.
    plan.countFromList = plan.count == 0;
    if (plan.countFromList) plan.count = static_cast<int>(plan.list->rows.size());
  }
  // A port named twice would have two sessions fighting over one line.
  for (const std::string& port : inputs.ports) {
    if (std::find(plan.ports.begin(), plan.ports.end(), port) == plan.ports.end()) {
      plan.ports.push_back(port);
    }
  }
  if (plan.ports.empty() && inputs.portsFrom == PortsFrom::Named) {
    plan.ports = CandidateDevices(EnumeratePorts());
  }
  if (plan.ports.empty()) {  // said in the words of where the ports come from
    return Refuse(PlanInput::Ports,
                  inputs.portsFrom == PortsFrom::Named
                      ? "no serial port to look for boards on; name the adapters with --port DEV"
                  : inputs.portsFrom == PortsFrom::Typed
                      ? "Type the ports to program on, separated by commas."
                      : "No serial port to look for boards on; choose one in Pager > Port or type "
                        "the ports.");
  }
  if (!inputs.firmwarePath.empty()) {
    // Burning firmware is a service-mode operation, behind the access code of its password dialog.
    if (!inputs.firmwareAllowed) {
      return Refuse(PlanInput::Firmware,
                    "Firmware is put on boards in service mode only: press Ctrl+Shift+S in the "
                    "main window and give its password, or clear the firmware file.");
    }
    // Read once: the boards get these bytes and the records their SHA-256.
    auto firmware = std::make_shared<SeriesFirmware>();
    if (auto problem = LoadSeriesFirmware(inputs.firmwarePath, *firmware)) {
      return Refuse(PlanInput::Firmware, *problem);
    }
    firmware->fullCheck = inputs.firmwareFullCheck;
    plan.firmware = std::move(firmware);
  }
  plan.verify = inputs.verify;
  const std::string templateName =
      inputs.templateImage ? "the main window's configuration" : inputs.templatePath;
  if (auto refused = CheckPlan(plan, templateName)) return *refused;
  plan.station = inputs.station.empty() ? records::DefaultStation() : inputs.station;
  plan.reprogram = inputs.reprogram;
  return plan;
}

std::shared_ptr<records::RecordStore> OpenStoppable(const std::string& where,
                                                    records::OpenMode mode, std::stop_token stop) {
  return records::OpenRecordStore(where, mode, std::chrono::milliseconds(10000), std::move(stop));
}

std::variant<Prepared, NotPrepared> Prepare(const std::string& where, bool startNew, bool adopt,
                                            SeriesPlan& plan, std::stop_token stop) {
  using Why = NotPrepared::Why;
  Prepared prepared;
  const auto stopped = [&prepared](std::string message = {}) {
    return NotPrepared{Why::Stopped, std::move(message), std::move(prepared.notes)};
  };
  try {
    prepared.store = OpenStoppable(where, records::SeriesOpenMode(where, startNew), stop);
    // Given up: the journal's results and the list stay for the next opening to record and import.
    if (stop.stop_requested()) return stopped();
    prepared.notes = PrepareRecords(*prepared.store, records::DefaultJournalPath(), adopt);
    if (stop.stop_requested()) return stopped();
    records::ListState state;
    prepared.refusal = PrepareSeriesList(*prepared.store, plan, state);
    if (prepared.refusal) return prepared;
    if (plan.list) prepared.list = state;
    // A database that is not the one the earlier boards were counted in (a window gone back to
    // the default one, a mistyped path) shows up here, before its first board.
    for (const CountingCapcode& counting : plan.counting) {
      if (!prepared.store->HasHandedOut(counting.first, counting.step)) {
        prepared.newProgressions.push_back(counting);
      }
    }
    return prepared;
  } catch (const records::MissingDatabase& missing) {
    return NotPrepared{Why::MissingDatabase, missing.what(), {}};
  } catch (const ForeignJournal& foreign) {
    return NotPrepared{Why::ForeignJournal, foreign.what(), {}};
  } catch (const records::DiskFullError&) {
    throw;  // a failure of the station, not of the opening
  } catch (const records::RecordsError& error) {
    if (!stop.stop_requested()) throw;
    return stopped(error.what());
  }
}

std::string ListStateText(const std::string& name, const records::ListState& state) {
  return name + ": " + std::to_string(state.rows) + (state.rows == 1 ? " row: " : " rows: ") +
         std::to_string(state.used) + " used, " + std::to_string(state.free) + " free, " +
         std::to_string(state.failed) + " failed";
}

}  // namespace tuva::series
