// The records' transactions, written once over an SqlSession: opening an attempt with the
// capcodes it takes (the next free one of each counting slot, a list's next free row), finishing
// it, returning capcodes to the pool, releasing one by hand, importing and counting a list, and
// reading attempts back by column name. What differs between SQLite and PostgreSQL is only the
// text of some statements: the Dialect of each store.
//
// Each step that is a whole transaction begins and ends it itself; on a failure the session's
// store rolls back what was begun. A store keeps its connection, locking, retries and schema.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/SqlSession.h"
#include "records/StoreCommon.h"

namespace tuva::records {

// The statements whose text differs between the stores; parameters are numbered as noted.
struct Dialect {
  // A listing: the expression of an attempt's taken capcodes gathered in one column named
  // "taken" (see ParseTaken), the condition of a held capcode as the partial index states it, and
  // the parameter marker of the n-th parameter.
  const char* takenColumn;
  const char* held;
  std::string (*placeholder)(int);
  // An attempt opened: $1 time, $2 station, $3 port, $4 firmware, $5 capcodes, $6 frequency,
  // $7 sha256, $8 result, $9 message, $10 seconds, $11 process, $12 heartbeat and, where the
  // store keeps tokens, $13 token; answers its "id".
  const char* insertAttempt;
  // The attempt a reservation's token ($1) already opened; null for a store without tokens.
  const char* attemptByToken;
  // The next-free hint of a progression ($1 first, $2 step): made when missing (null when the
  // store does not), read ("next", locked where the store locks rows) and set ($3 next).
  const char* ensureHint;
  const char* readHint;
  const char* setHint;
  // Any row when capcode $1 is held in the pool or on a programmed board.
  const char* capcodeInUse;
  // $1 attempt takes capcode $3 under slot $2.
  const char* insertTaken;
  // The first free row of list $1 ("line", "fields") that no other writer is taking now.
  const char* freeListRow;
  // Attempt $1 ("erased", "result"), locked for the finishing.
  const char* openAttempt;
  // Attempt $15 finished: $1 firmware, $2 capcodes, $3 frequency, $4 sha256, $5 result, $6 erased,
  // $7 message, $8 seconds, $9 kept, $10 firmware file, $11 firmware programmed, $12 verification,
  // $13 template id, $14 image runs.
  const char* finishAttempt;
  // Template image $2 (hex) kept under SHA-256 $1, unless a row has that SHA-256 already.
  const char* keepTemplate;
  // Capcode $1 of the programmed board of attempt $2, once.
  const char* indexBoard;
  // The held capcodes of attempt $1 (of slot $2, or all when $2 is 0) returned: answers each
  // "capcode" freed.
  const char* returnTaken;
  // The attempt ("attempt_id") that holds capcode $2 under slot $1, locked for the release.
  const char* slotHolder;
  // Attempt $1, still open, marked erased.
  const char* markErased;
  // Any row when a capcode of the progression $1 + k * $2 was ever taken.
  const char* handedOut;
};

extern const Dialect kSqliteDialect;
extern const Dialect kPostgresDialect;

// A store whose transactions are these steps: a reservation with a list row or without one is
// one call of the store's own.
class SessionStore : public RecordStore {
 public:
  Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) final {
    return ReserveWith(start, slots, 0, nullptr);
  }
  Attempt ReserveRow(const Attempt& start, const std::vector<CountingSlot>& slots,
                     std::int64_t list, ListRow& row) final {
    return ReserveWith(start, slots, list, &row);
  }

 protected:
  virtual Attempt ReserveWith(const Attempt& start, const std::vector<CountingSlot>& slots,
                              std::int64_t list, ListRow* row) = 0;
};

namespace steps {

// Opens attempt `opened` and takes the capcodes of `slots` and, when `row` is given, the first
// free row of list `list`, in one transaction. `token` names the reservation where the dialect
// keeps tokens: a reservation already made under it (an earlier try whose answer was lost) is
// returned as it was made.
Attempt Reserve(SqlSession& session, const Dialect& dialect, Attempt opened,
                const std::vector<CountingSlot>& slots, const std::string& token, std::int64_t list,
                ListRow* row);

// Marks an open attempt erased (see RecordStore::MarkErased), on its own.
void MarkErased(SqlSession& session, const Dialect& dialect, std::int64_t id);

// Whether a capcode of the progression was ever taken (see RecordStore::HasHandedOut).
bool HasHandedOut(SqlSession& session, const Dialect& dialect, std::uint32_t first,
                  std::uint32_t step);

// Ends an attempt (see RecordStore::Finish) in one transaction. False when it had been finished
// already with the same result (left as it is). Throws RecordsError, before anything is begun,
// for a result other than programmed, failed or skipped.
bool Finish(SqlSession& session, const Dialect& dialect, const Attempt& attempt);

// The 4100 bytes of the template kept under `sha256`, when there is one.
std::optional<std::vector<std::uint8_t>> TemplateImage(SqlSession& session,
                                                       const std::string& sha256);

// Who holds each capcode (see RecordStore::HoldersOf), in one read transaction.
std::vector<CapcodeHolders> HoldersOf(SqlSession& session, const Dialect& dialect,
                                      const std::vector<std::uint32_t>& capcodes);

// The capcodes of a programmed board, for the lookup of the board that holds one.
void IndexBoard(SqlSession& session, const Dialect& dialect, const Attempt& board);

// Releases capcode `capcode` of `slot` (see RecordStore::Release) in one transaction.
ReleaseOutcome Release(SqlSession& session, const Dialect& dialect, int slot, std::uint32_t capcode,
                       bool force);

// Imports a list (see RecordStore::ImportList) in one transaction.
ListState ImportList(SqlSession& session, const ListImport& list);

// The state of the list with this SHA-256, in one read transaction.
std::optional<ListState> FindList(SqlSession& session, const std::string& sha256);

// Calls `row` with each attempt that passes `filter`, oldest first, within the caller's
// transaction.
void ReadAttempts(SqlSession& session, const Dialect& dialect, const ListFilter& filter,
                  const std::function<void(const Attempt&)>& row);

// Calls `group` with the attempts that pass `filter` as RecordStore::EachGroup gathers them, in
// one grouped query within the caller's transaction; `filter.limit` must be 0.
void ReadGroups(SqlSession& session, const Dialect& dialect, const ListFilter& filter,
                const std::function<void(const Attempt&, std::size_t)>& group);

// The listing's query as a store runs it: unless it is limited, the taken capcodes are joined in
// (a row per capcode, "slot", "capcode", "held"; NULL for an attempt without any), which saves
// the server a subquery per attempt; a limited one gathers them in the column "taken".
ListQuery AttemptQuery(const Dialect& dialect, const ListFilter& filter);

// Turns the rows of AttemptQuery into attempts, the columns found by their names: the rows of
// one attempt (joined) are gathered and it is handed on when the next one begins, or at End.
class AttemptRows {
 public:
  AttemptRows(const ListFilter& filter, const std::function<void(const Attempt&)>& row);
  void Add(const SqlRow& row);
  void End();

 private:
  struct Columns {
    int id, time, station, port, firmware, capcodes, frequency, sha256, result, erased, message,
        seconds, process, heartbeat, kept, firmwareFile, firmwareProgrammed, verification,
        imageRuns, templateSha256;
    int taken = -1, slot = -1, capcode = -1, held = -1;
  };
  void Emit();

  bool joined_;
  const std::function<void(const Attempt&)>& row_;
  std::optional<Columns> columns_;
  std::optional<Attempt> current_;
};

}  // namespace steps
}  // namespace tuva::records
