// The records as text for people and spreadsheets: the capcodes an attempt took from the pool, and
// the list of attempts as CSV (one header line, then one line per attempt).
#pragma once

#include <string>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

// The capcodes taken from the pool: "1=1500000", or "1=1500000(free)" once back in the pool;
// several separated by spaces.
std::string TakenText(const Attempt& attempt);

// The attempts as CSV, a field quoted when it holds a comma, a quote or a line break.
std::string AttemptsCsv(const std::vector<Attempt>& attempts);

}  // namespace tuva::records
