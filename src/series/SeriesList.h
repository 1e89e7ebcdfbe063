// A series whose boards take their values from the operator's list: the list is imported into
// the records (or found there, by its SHA-256, to go on where it stopped) before the first board.
#pragma once

#include <optional>

#include "records/RecordStore.h"
#include "series/SeriesImage.h"
#include "series/SeriesRun.h"

namespace tuva::series {

// Imports `plan.list` into `store` and sets `plan.listId` (and `state`, when given, to how far the
// list is used); the count becomes the rows left when `plan.countFromList` is set. Refused (input
// List, or Count) when no row is left, when a free row's capcode is already held in these records
// (an open or failed attempt, a programmed board: two receivers would share it), when the file
// changes an imported list other than by new rows at its end, or when fewer rows are left than
// the count; a refused file is not imported. Throws RecordsError when the database fails.
std::optional<PlanRefusal> PrepareSeriesList(records::RecordStore& store, SeriesPlan& plan,
                                             records::ListState* state = nullptr);

// "LIST: 10 rows: 4 used, 5 free, 1 failed"
std::string ListStateText(const std::string& name, const records::ListState& state);

}  // namespace tuva::series
