#include "series/SeriesList.h"

#include "image/Utf8.h"

namespace tuva::series {

std::optional<PlanRefusal> PrepareSeriesList(records::RecordStore& store, SeriesPlan& plan,
                                             records::ListState* shownState) {
  if (!plan.list) return std::nullopt;
  const std::string shown = ValidUtf8(plan.list->path);
  const records::ListState state = store.ImportList(ListImportOf(*plan.list, plan.templateImage));
  if (!state.refused.empty()) return PlanRefusal{PlanInput::List, 0, state.refused};
  plan.listId = state.id;
  if (shownState) *shownState = state;
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

std::string ListStateText(const std::string& name, const records::ListState& state) {
  return name + ": " + std::to_string(state.rows) + (state.rows == 1 ? " row: " : " rows: ") +
         std::to_string(state.used) + " used, " + std::to_string(state.free) + " free, " +
         std::to_string(state.failed) + " failed";
}

}  // namespace tuva::series
