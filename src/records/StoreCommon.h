// What the SQLite and the PostgreSQL store share: the schema's version and the parts of it both
// write the same way, the text forms of times, results and capcode lists, the checks of a
// reservation, the conditions of a listing and the opening of a store by mode. The SQL that differs
// lives in each store's own file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

// Version 2 added the lease of an open attempt (process, heartbeat), the reservation token, the
// index of a programmed board's capcodes, the pool's next-free hints and the database identity.
inline constexpr int kSchemaVersion = 2;

inline constexpr const char* kCreateVersion =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";

// The current time, UTC, ISO 8601 ("2026-12-07T11:02:03Z"), and as seconds since 1970.
std::string NowIso();
std::int64_t NowSeconds();

// A random text of 32 hex digits (the database identity, a reservation token).
std::string RandomToken();

// "reserved" and so on back to the result; throws RecordsError for any other text.
Result ParseResult(const std::string& name);

// The capcodes of the slots as one column and back ("1500000,,0000001234").
std::string JoinCapcodes(const std::vector<std::string>& capcodes);
std::vector<std::string> SplitCapcodes(const std::string& column);

// The decimal capcodes among a programmed board's slot texts (empty and other texts skipped).
std::vector<std::uint32_t> NumericCapcodes(const std::vector<std::string>& capcodes);

// The taken capcodes as the listing query joins them: "SLOT:CAPCODE:HELD" separated by spaces,
// HELD 1 or 0.
std::vector<Attempt::Taken> ParseTaken(const std::string& column);

// Throws RecordsError for a slot outside 1..16, a slot named twice, a step of 0 or a first
// capcode above the last.
void CheckSlots(const std::vector<CountingSlot>& slots);

// "slot 1 has no free capcode left (1500000 in steps of 1 up to 2097151)".
std::string UsedUpMessage(const CountingSlot& slot);

// "attempt #12 is no longer open (finished, or released by hand)".
std::string NotOpen(std::int64_t id);

// "records database X has schema version 3; this tuva knows version 2 and leaves it alone".
std::string NewerSchema(const std::string& database, std::int64_t version);

// "X is not a tuva records database".
std::string NotRecords(const std::string& database);

// The message of an unfinished attempt whose capcode was released by hand.
inline constexpr const char* kReleasedUnfinished = "did not finish; capcode released by hand";

// The attempt as Reserve records it: the station filled in, the time, process and heartbeat set,
// the result Reserved.
Attempt Opened(const Attempt& start);

// A listing's query: the columns every store reads, in this order, and the WHERE and ORDER parts
// built from a filter. `placeholder(n)` writes the n-th parameter's marker ("?" or "$n");
// `takenColumn` is the store's expression that joins an attempt's taken rows (see ParseTaken),
// `held` its condition of a held capcode as its partial index states it.
struct ListQuery {
  struct Parameter {
    bool isText = false;
    std::string text;
    std::int64_t number = 0;
  };
  std::string sql;
  std::vector<Parameter> parameters;
};
inline constexpr const char* kOpenResults = "('reserved', 'erased')";
// `join`, when given, follows "FROM attempts a" (a listing that joins the taken rows instead of
// gathering them in `takenColumn`).
ListQuery BuildListQuery(const ListFilter& filter, const std::string& takenColumn,
                         const std::string& held, std::string (*placeholder)(int),
                         const std::string& join = {});

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, OpenMode mode,
                                             std::chrono::milliseconds busyTimeout,
                                             const std::atomic<bool>* stop);
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, OpenMode mode,
                                               const std::atomic<bool>* stop);

}  // namespace tuva::records
