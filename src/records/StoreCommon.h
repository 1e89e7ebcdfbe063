// What the SQLite and the PostgreSQL store share: the schema's version and the parts of it both
// write the same way, the text forms of times, results and capcode lists, the checks of a
// reservation, the conditions of a listing and the opening of a store by mode. The SQL that differs
// lives in each store's own file.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

// Version 2 added the lease of an open attempt (process, heartbeat), the reservation token, the
// index of a programmed board's capcodes, the pool's next-free hints and the database identity.
// Version 3 added what an attempt kept of the board, its firmware step and how it was checked.
// Version 4 added the images: each template once (by its SHA-256) and, per attempt, the template
// it was made from and the runs of bytes its image changed of it.
inline constexpr int kSchemaVersion = 4;

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
std::vector<std::string> SplitCapcodes(std::string_view column);

// The decimal capcodes among a programmed board's slot texts (empty and other texts skipped).
std::vector<std::uint32_t> NumericCapcodes(const std::vector<std::string>& capcodes);

// The taken capcodes as the listing query joins them: "SLOT:CAPCODE:HELD" separated by spaces,
// HELD 1 or 0.
std::vector<Attempt::Taken> ParseTaken(std::string_view column);

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

// What a release of a capcode `attempt` holds comes to: never a programmed board's, never while
// its series runs, and one whose board was sent an erase (the attempt still open, or failed after
// the erase) only by `force`, since that board may hold the capcode.
ReleaseOutcome::Kind ReleaseKind(const Attempt& attempt, bool force);

// The attempt as Reserve records it: the station filled in, the time, process and heartbeat set,
// the result Reserved.
Attempt Opened(const Attempt& start);

// The columns version 3 added to the attempts, as both stores declare them.
inline constexpr const char* kVersion3Columns[] = {
    "kept TEXT NOT NULL DEFAULT ''",
    "firmware_file TEXT NOT NULL DEFAULT ''",
    "firmware_programmed INTEGER NOT NULL DEFAULT 0",
    "verification TEXT NOT NULL DEFAULT ''",
};

// The tables version 3 added for the operator's lists (see ListImport), as both stores create
// them. The SQL below is written for both dialects: numbered parameters ($1, numbered in the
// order of their first use, which SQLite binds by position too) and `held = TRUE`.
inline constexpr const char* kVersion3Tables[] = {
    "CREATE TABLE capcode_list ("
    " id BIGINT PRIMARY KEY,"
    " sha256 TEXT NOT NULL UNIQUE,"
    " name TEXT NOT NULL,"
    " header TEXT NOT NULL,"
    " time TEXT NOT NULL)",
    "CREATE TABLE list_row ("
    " list_id BIGINT NOT NULL REFERENCES capcode_list (id),"
    " line INTEGER NOT NULL,"
    " fields TEXT NOT NULL,"
    " attempt_id BIGINT REFERENCES attempts (id),"
    " PRIMARY KEY (list_id, line))",
    "CREATE UNIQUE INDEX list_row_attempt ON list_row (attempt_id)",
    "CREATE INDEX list_row_free ON list_row (list_id, line) WHERE attempt_id IS NULL",
    "CREATE TABLE list_capcode ("
    " list_id BIGINT NOT NULL,"
    " line INTEGER NOT NULL,"
    " slot INTEGER NOT NULL,"
    " capcode BIGINT NOT NULL,"
    " PRIMARY KEY (list_id, line, slot),"
    " FOREIGN KEY (list_id, line) REFERENCES list_row (list_id, line))",
};

// The columns version 4 added to the attempts: the template (its row in template_image; 0 for
// none) and the runs of bytes the image written changed of it (ImageRuns). An attempt before
// them reads 0 and "" and costs no space.
inline constexpr const char* kVersion4Columns[] = {
    "template_id BIGINT NOT NULL DEFAULT 0",
    "image_runs TEXT NOT NULL DEFAULT ''",
};
inline constexpr const char* kTemplateId = "SELECT id FROM template_image WHERE sha256 = $1";
inline constexpr const char* kTemplateBytes = "SELECT image FROM template_image WHERE sha256 = $1";

inline constexpr const char* kFindList = "SELECT id, name FROM capcode_list WHERE sha256 = $1";
inline constexpr const char* kNextListId = "SELECT coalesce(max(id), 0) + 1 FROM capcode_list";
inline constexpr const char* kInsertList =
    "INSERT INTO capcode_list (id, sha256, name, header, time) VALUES ($1, $2, $3, $4, $5)";
inline constexpr const char* kInsertListRow =
    "INSERT INTO list_row (list_id, line, fields) VALUES ($1, $2, $3)";
inline constexpr const char* kInsertListCapcode =
    "INSERT INTO list_capcode (list_id, line, slot, capcode) VALUES ($1, $2, $3, $4)";
// Rows, free rows, rows of failed attempts.
inline constexpr const char* kListCounts =
    "SELECT count(*), coalesce(sum(CASE WHEN r.attempt_id IS NULL THEN 1 ELSE 0 END), 0),"
    " coalesce(sum(CASE WHEN a.result = 'failed' THEN 1 ELSE 0 END), 0)"
    " FROM list_row r LEFT JOIN attempts a ON a.id = r.attempt_id WHERE r.list_id = $1";
// The first free row (file order) with a capcode an attempt holds or a programmed board has.
inline constexpr const char* kListConflict =
    "SELECT c.line, c.capcode, t.attempt_id FROM list_capcode c"
    " JOIN list_row r ON r.list_id = c.list_id AND r.line = c.line"
    " JOIN taken t ON t.capcode = c.capcode AND t.held = TRUE"
    " WHERE c.list_id = $1 AND r.attempt_id IS NULL"
    " UNION ALL SELECT c.line, c.capcode, b.attempt_id FROM list_capcode c"
    " JOIN list_row r ON r.list_id = c.list_id AND r.line = c.line"
    " JOIN board_capcode b ON b.capcode = c.capcode"
    " WHERE c.list_id = $1 AND r.attempt_id IS NULL ORDER BY 1 LIMIT 1";
inline constexpr const char* kFreeListRow =
    "SELECT line, fields FROM list_row WHERE list_id = $1 AND attempt_id IS NULL"
    " ORDER BY line LIMIT 1";
inline constexpr const char* kTakeListRow =
    "UPDATE list_row SET attempt_id = $1 WHERE list_id = $2 AND line = $3";
inline constexpr const char* kListRowCapcodes =
    "SELECT slot, capcode FROM list_capcode WHERE list_id = $1 AND line = $2 ORDER BY slot";
// Who has a capcode already: an attempt holding it in the pool, or a programmed board.
inline constexpr const char* kCapcodeHolder =
    "SELECT attempt_id FROM taken WHERE held = TRUE AND capcode = $1"
    " UNION ALL SELECT attempt_id FROM board_capcode WHERE capcode = $1 LIMIT 1";
// An attempt that holds none of its list row's capcodes any more gives the row back.
inline constexpr const char* kReturnListRow =
    "UPDATE list_row SET attempt_id = NULL WHERE attempt_id = $1 AND NOT EXISTS (SELECT 1"
    " FROM taken t JOIN list_capcode c ON c.slot = t.slot AND c.capcode = t.capcode"
    " WHERE t.attempt_id = $1 AND t.held = TRUE AND c.list_id = list_row.list_id"
    " AND c.line = list_row.line)";
inline constexpr const char* kRowOfAttempt =
    "SELECT line, fields FROM list_row WHERE attempt_id = $1";

// An imported list that a file with another SHA-256 may be a changed form of: one with the file's
// name, or else one with its header that shares a capcode with it (the file imported as list $1
// for the look); the newest first.
inline constexpr const char* kEarlierList =
    "SELECT id, name, header FROM capcode_list WHERE id <> $1 AND (name = $2 OR (header = $3"
    " AND id IN (SELECT o.list_id FROM list_capcode n JOIN list_capcode o"
    " ON o.capcode = n.capcode WHERE n.list_id = $1 AND o.list_id <> $1)))"
    " ORDER BY CASE WHEN name = $2 THEN 0 ELSE 1 END, id DESC LIMIT 1";
inline constexpr const char* kListRows =
    "SELECT line, fields FROM list_row WHERE list_id = $1 ORDER BY line";
inline constexpr const char* kDropList[] = {
    "DELETE FROM list_capcode WHERE list_id = $1",
    "DELETE FROM list_row WHERE list_id = $1",
    "DELETE FROM capcode_list WHERE id = $1",
};
inline constexpr const char* kListSha = "UPDATE capcode_list SET sha256 = $1 WHERE id = $2";

// An imported list as a changed file is compared with it.
struct ImportedList {
  std::int64_t id = 0;
  std::string name;
  std::string header;
  std::vector<ListRow> rows;  // line and fields, in file order
};

// How a file goes on from an imported list with its name or its capcodes: the rows the list
// takes (the file's rows past the list's end, numbered on after its last line) and whether the
// list becomes known by the file's SHA-256 (the file has all its rows). A file with the list's
// name and other rows is refused (why); one under another name whose rows are not the list's is
// a list of its own (`separate`).
struct ListGrowth {
  std::vector<ListRow> appended;
  bool takesFile = false;
  bool separate = false;
  std::string refused;
};
ListGrowth GrowList(const ListImport& file, const ImportedList& earlier);

// "no row of the list FILE is left".
std::string ListUsedUp(const std::string& name);
// "capcode 1500003 of line 4 of the list is already held by attempt #12".
std::string ListCapcodeHeld(std::uint32_t capcode, int line, std::int64_t attempt);

// A listing's query: the columns every store reads, each named as its rows are read (by name),
// and the WHERE and ORDER BY clauses built from a filter. `placeholder(n)` writes the n-th
// parameter's marker ("?" or "$n"); `takenColumn` is the store's expression that joins an attempt's
// taken rows (see ParseTaken), `held` its condition of a held capcode as its partial index states
// it.
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
// The WHERE clause (" WHERE ...", or empty) of the attempts `filter` lets through, its
// parameters added to `query`; `filter.limit` is not a condition.
std::string ListWhere(const ListFilter& filter, const std::string& held,
                      std::string (*placeholder)(int), ListQuery& query);
// `join`, when given, follows "FROM attempts a" (a listing that joins the taken rows instead of
// gathering them in `takenColumn`).
ListQuery BuildListQuery(const ListFilter& filter, const std::string& takenColumn,
                         const std::string& held, std::string (*placeholder)(int),
                         const std::string& join = {});

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, OpenMode mode,
                                             std::chrono::milliseconds busyTimeout,
                                             std::stop_token stop);
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& url, OpenMode mode,
                                               std::stop_token stop);

}  // namespace tuva::records
