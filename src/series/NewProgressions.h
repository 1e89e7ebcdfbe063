// A counting slot whose progression the records have never handed out from: the run would start
// a new series in that database, at the slot's first capcode. A records database that is not the
// one the earlier boards were counted in (a window gone back to the default one, a mistyped path)
// shows up here before its first board gets a capcode another board already holds.
#pragma once

#include <vector>

#include "records/RecordStore.h"
#include "series/SeriesRun.h"

namespace tuva::series {

// The counting slots of `plan` none of whose capcodes (FIRST + k * STEP) an attempt in `store`
// ever took, in the plan's order. The window asks before such a run; tuvactl says so on stderr.
// Throws RecordsError when the database fails.
std::vector<CountingCapcode> NewProgressions(records::RecordStore& store, const SeriesPlan& plan);

}  // namespace tuva::series
