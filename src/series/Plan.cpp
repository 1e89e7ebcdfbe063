#include "series/Plan.h"

#include <algorithm>
#include <atomic>
#include <functional>

#include "files/ConfigFile.h"
#include "link/Discovery.h"
#include "records/Journal.h"
#include "series/CapcodeList.h"
#include "series/NewProgressions.h"
#include "series/SeriesFirmware.h"
#include "series/SeriesList.h"
#include "series/SeriesRecords.h"

namespace tuva::series {
namespace {

PlanRefusal Refuse(PlanInput input, std::string message) {
  return PlanRefusal{input, 0, std::move(message)};
}

// What to do about a run with no port to look for boards on, in the words of where its ports come
// from.
std::string NoPortText(PortsFrom from) {
  switch (from) {
    case PortsFrom::Named:
      return "no serial port to look for boards on; name the adapters with --port DEV";
    case PortsFrom::Typed:
      return "Type the ports to program on, separated by commas.";
    case PortsFrom::Window:
      break;
  }
  return "No serial port to look for boards on; choose one in Pager > Port or type the ports.";
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
  if (plan.ports.empty()) return Refuse(PlanInput::Ports, NoPortText(inputs.portsFrom));
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
  // The store's stop flag lives as long as the store, set by the caller's token.
  struct Held {
    std::atomic<bool> stop{false};
    std::optional<std::stop_callback<std::function<void()>>> link;
    std::unique_ptr<records::RecordStore> store;
  };
  auto held = std::make_shared<Held>();
  held->link.emplace(std::move(stop),
                     std::function<void()>([flag = &held->stop] { flag->store(true); }));
  held->store =
      records::OpenRecordStore(where, mode, std::chrono::milliseconds(10000), &held->stop);
  records::RecordStore* store = held->store.get();
  return std::shared_ptr<records::RecordStore>(std::move(held), store);
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
    prepared.refusal = PrepareSeriesList(*prepared.store, plan, &state);
    if (prepared.refusal) return prepared;
    if (plan.list) prepared.list = state;
    prepared.newProgressions = NewProgressions(*prepared.store, plan);
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

}  // namespace tuva::series
