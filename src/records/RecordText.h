// The records as text for people and spreadsheets: the capcodes an attempt took from the pool, and
// the list of attempts as CSV (one header line, then one line per attempt).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

// The capcodes taken from the pool: "1=1500000", or "1=1500000(free)" once back in the pool;
// several separated by spaces.
std::string TakenText(const Attempt& attempt);

// The attempts as CSV, a field quoted when it holds a comma, a quote or a line break: the header
// line, then one line per attempt.
std::string AttemptsCsv(const std::vector<Attempt>& attempts);
std::string CsvHeader();
std::string CsvLine(const Attempt& attempt);
// Appends `item` to a list of items, after `separator` unless the list is still empty.
void AppendListed(std::string& list, std::string_view item, std::string_view separator = ",");

// Appends one field to a CSV line as it is, or in quotes (a quote doubled) when it holds a comma,
// a quote or a line break.
void AppendCsvField(std::string& line, std::string_view field);

// "attempt #5 (erased, /dev/ttyUSB0, station bench2, 2026-12-07T14:03:09Z)"
std::string AttemptText(const Attempt& attempt);

}  // namespace tuva::records
