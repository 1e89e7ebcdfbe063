// What the SQLite and the PostgreSQL store share: the choice of the next capcode of a counting
// slot, the text forms of times, results and capcode lists, and the checks of a reservation.
// The SQL itself lives in each store's own file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

inline constexpr int kSchemaVersion = 1;

// The current time, UTC, ISO 8601 ("2026-12-07T11:02:03Z").
std::string NowIso();

// "reserved" and so on back to the result; throws RecordsError for any other text.
Result ParseResult(const std::string& name);

// The capcodes of the slots as one column and back ("1500000,,0000001234").
std::string JoinCapcodes(const std::vector<std::string>& capcodes);
std::vector<std::string> SplitCapcodes(const std::string& column);

// Throws RecordsError for a slot outside 1..16, a slot named twice, a step of 0 or a first
// capcode above the last.
void CheckSlots(const std::vector<CountingSlot>& slots);

// The lowest capcode first + k * step <= last that is not in `held` (ascending; values off the
// slot's progression are ignored); 0 with `found` false when the slot is used up.
std::uint32_t NextCandidate(const CountingSlot& slot, const std::vector<std::uint32_t>& held,
                            bool& found);

// "slot 1 has no free capcode left (1500000 in steps of 1 up to 2097151)".
std::string UsedUpMessage(const CountingSlot& slot);

// "attempt #12 is no longer open (finished, or released by hand)".
std::string NotOpen(std::int64_t id);

// "records database X has schema version 2; this tuva knows version 1 and leaves it alone".
std::string NewerSchema(const std::string& database, std::int64_t version);

// The message of an unfinished attempt whose capcode was released by hand.
inline constexpr const char* kReleasedUnfinished = "did not finish; capcode released by hand";

// The attempt as Reserve records it: the station filled in, the time set, the result Reserved.
Attempt Opened(const Attempt& start);

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path,
                                             std::chrono::milliseconds busyTimeout);
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url);

}  // namespace tuva::records
