// The record of every board a series programs, and the pool of capcodes that count up from board
// to board.
//
// A capcode of a counting slot is handed out once: the store reserves it and opens the attempt that
// uses it in one transaction, and the database's unique constraint, not a check in the program,
// keeps two attempts (two ports, two stations) from holding the same number. A reserved capcode
// whose board failed before its first erase command returns to the pool; once an erase has been
// sent the board may hold it, so it stays out of circulation until released by hand.
//
// Two stores implement this interface: SQLite (one file, the default) and PostgreSQL (several
// programming stations sharing one pool). Each state change is one transaction; the schema is
// created when asked (OpenMode::Create) and carries a version. Each open attempt carries a lease:
// its station, process and a heartbeat time that the running series renews; a fresh heartbeat
// means the attempt's board is being written now.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace tuva::records {

class RecordsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A call given up because the server did not answer within the store's own deadlines, after the
// store made the connection again and tried again itself: one more try would wait as long again.
class UnansweredError : public RecordsError {
 public:
  using RecordsError::RecordsError;
};

// A slot whose capcode counts up: slot 1..16 as the window numbers them, the first capcode and
// the step between boards.
struct CountingSlot {
  int slot = 1;
  std::uint32_t first = 0;
  std::uint32_t step = 1;
  std::uint32_t last = 0;  // the largest capcode the slot's address mode allows
};

// Skipped: a board that already held a capcode of a programmed attempt (a finished board put back
// on the jig); it takes no capcode and is not written.
enum class Result { Reserved, Erased, Programmed, Failed, Skipped };

struct Attempt {
  std::int64_t id = 0;
  std::string time;     // start, UTC, ISO 8601 ("2026-12-07T11:02:03Z")
  std::string station;  // programming station, by default the host name
  std::string port;
  std::string firmware;               // identification text of what the board runs after it
  std::vector<std::string> capcodes;  // the capcode of every slot 1..16 as the window shows it
  std::string frequency;              // MHz ("462.0125")
  std::string sha256;                 // of the 4100 bytes written, lower-case hex
  Result result = Result::Reserved;
  bool erased = false;  // an erase command was sent: the board may hold the capcodes
  std::string message;
  double seconds = 0;
  // The counting capcodes this attempt took from the pool: (slot, capcode), and whether each is
  // still held (false once returned to the pool or released).
  struct Taken {
    int slot = 0;
    std::uint32_t capcode = 0;
    bool held = true;
    bool operator==(const Taken&) const = default;
  };
  std::vector<Taken> taken;
  // The lease of an open attempt: the process that opened it and when that process last said it
  // is still writing the board (seconds since 1970, UTC).
  std::int64_t process = 0;
  std::int64_t heartbeat = 0;
  // The settable fields a re-provisioning took from the board itself instead of the template or
  // the pool ("capcodes", "capcodes,prompt.1"); empty for a board given the template's values. A
  // programmed attempt that kept fields is shown as "reprovisioned".
  std::string kept;
  // The firmware file programmed together with the configuration: its SHA-256 (lower-case hex),
  // empty when the run had none; and whether the board's firmware was written (false when it
  // was found equal to the file's and left alone).
  std::string firmwareFile;
  bool firmwareProgrammed = false;
  // How the configuration written was checked: "read-back" (the Write's own comparison of both
  // copies) or "verify" (a separate Verify pass after it); empty when nothing was written.
  std::string verification;
  // The image written, as the records keep it: the SHA-256 of the template it was made from
  // (lower-case hex; the template's 4100 bytes are kept once per SHA-256) and the runs of bytes
  // where the sealed image written differs from the template (see ImageRuns.h: the counted
  // capcodes, the list row's values, the fields kept from the board, the sum and check bytes).
  // Both empty for an attempt recorded before images were kept.
  std::string templateSha256;
  std::string imageRuns;
  // The template's 4100 bytes, given to Finish so that the store can keep them the first time it
  // meets their SHA-256; a listing leaves it empty (RecordStore::TemplateImage reads them).
  std::vector<std::uint8_t> templateImage;

  bool operator==(const Attempt&) const = default;
};

// Which attempts a listing shows. Every condition given must hold.
struct ListFilter {
  std::optional<std::uint32_t> capcode;  // attempts whose board holds (or may hold) this capcode
  bool failedOnly =
      false;              // every attempt not programmed: failed, and open ones (reserved, erased)
  bool openOnly = false;  // attempts still reserved or erased
  std::string since;      // attempts started on or after this time ("2026-12-07", ISO 8601)
  std::string station;    // attempts of this station
  std::optional<std::int64_t> id;  // this attempt
  std::size_t limit = 0;           // at most this many, the newest; 0 for all
};

// What the records hold of a capcode found on a board (0: no such attempt). The programmed attempt
// that took it from the pool or a list: the pool and the lists hand a capcode to one board only,
// so that board is the one it was made for. And the newest programmed attempt whose board holds
// it: that board again when it was re-provisioned since, keeping its capcodes; or, for a capcode
// nobody took, the newest of the boards given it alike (a template's group capcode) or of one
// board's re-provisionings that kept a capcode of its own.
struct CapcodeHolders {
  std::uint32_t capcode = 0;
  std::int64_t taker = 0;
  std::int64_t newest = 0;
  bool operator==(const CapcodeHolders&) const = default;
};

// What became of a request to return a capcode to the pool.
struct ReleaseOutcome {
  enum Kind {
    Released,    // back in the pool
    NotHeld,     // no attempt holds it
    Programmed,  // a programmed board holds it: never released
    Running,     // its attempt is open in a series that is running (fresh heartbeat)
    Erased,      // its attempt sent an erase, so the board may hold it: released only by force
  };
  Kind kind = NotHeld;
  Attempt attempt;  // the attempt that holds (or held) it, when there is one
};

// A list of per-board values the operator supplies (capcodes, prompts, any settable field): one
// row per board, handed out in file order, each once, across ports and stations, in the same
// transaction that opens the attempt, like a counting capcode. A row whose board failed before
// its first erase returns to the list; after the erase it stays out until its capcode is
// released by hand. A list is known by its file's SHA-256, so importing the same file again
// continues where it stopped. A file with another SHA-256 that has the name of an imported list,
// or shares capcodes with one, is that list changed: it continues the list when its rows are the
// list's, compared by their values (line ends and quoting aside), in the same order, with any new
// rows at the end (the list takes them); otherwise it is refused and nothing is imported.
struct ListRow {
  int line = 0;        // the row's line in the file (the header is line 1)
  std::string fields;  // the row's values as the list's reader keeps them
  std::vector<std::pair<int, std::uint32_t>> capcodes;  // (slot, capcode) the row gives
};

struct ListImport {
  std::string sha256;  // of the file, lower-case hex
  std::string name;    // the file as named by its first import
  std::string header;  // the header row as the list's reader keeps it
  std::vector<ListRow> rows;
};

struct ListState {
  std::int64_t id = 0;
  std::string name;
  std::size_t rows = 0;
  std::size_t used = 0;    // handed out to a board programmed or being written
  std::size_t free = 0;    // not handed out (or returned)
  std::size_t failed = 0;  // handed out to a board that failed after its erase: held
  // A capcode of a free row that these records already hold: an open or failed attempt holds it
  // in the pool, or a programmed board has it. The first such row in file order.
  struct Conflict {
    int line = 0;
    std::uint32_t capcode = 0;
    std::int64_t attempt = 0;
  };
  std::optional<Conflict> conflict;
  // Why the file was not imported: it changes an imported list other than by growing at its end.
  std::string refused;
};

// How a store is opened.
enum class OpenMode {
  ReadOnly,  // a listing: the file must be there and is never written
  Existing,  // the database must be there; opened for writing
  Create,    // created (schema included) when missing; an SQLite file's folder is created only
             // when it is the default one
};

// Thrown by ReserveRow when every row of the list has been handed out.
class ListUsedUpError : public RecordsError {
 public:
  using RecordsError::RecordsError;
};

// Thrown when the database named is not there (and the mode does not create it).
class MissingDatabase : public RecordsError {
 public:
  using RecordsError::RecordsError;
};

// The disk holding the database is full: the database and the command were right, the disk has no
// room for what they would write.
class DiskFullError : public RecordsError {
 public:
  using RecordsError::RecordsError;
};

// An open attempt whose heartbeat is older than this belongs to a run that ended without
// finishing it.
inline constexpr std::chrono::seconds kLeaseTimeout{60};
// How often a running series renews the heartbeat of its open attempts.
inline constexpr std::chrono::seconds kHeartbeatInterval{10};

// Thread safety: both stores are safe to call from several threads at once. Each store keeps one
// connection and serialises its calls on it with a lock of its own; the series run relies on that
// and takes no lock of its own around store calls. Every call that waits on the database is
// bounded (SQLite's busy timeout; PostgreSQL's connect, statement and lock timeouts with a bounded
// number of reconnections), so no call holds that lock for ever.
class RecordStore {
 public:
  virtual ~RecordStore() = default;

  // The database as it may be shown in any message: the SQLite file's path, or the PostgreSQL URL
  // rebuilt without its password.
  virtual std::string Name() const = 0;

  // A random text made when the database was created: tells a database from another one that
  // took its place (same path or URL).
  virtual std::string Identity() = 0;

  // In one transaction: takes for each counting slot the lowest free capcode of FIRST + k * STEP
  // (k = 0, 1, ...) not above `last`, and opens an attempt (result Reserved) that holds them.
  // The attempt's station (the host name when empty), port and whatever else `start` already
  // knows are recorded; its time, process and heartbeat are set by the store. Returns the
  // attempt with its id and `taken` filled. Throws RecordsError when a slot has no free capcode
  // left or the database fails.
  virtual Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) = 0;

  // The first erase command is about to be sent: from now on the board may hold the capcodes.
  virtual void MarkErased(std::int64_t id) = 0;

  // Ends an attempt as Programmed, Failed or Skipped with everything it learned (firmware,
  // capcodes, frequency, sha256, message, seconds). A Failed attempt that was never marked erased
  // returns its capcodes to the pool. An attempt already finished with the same result is left as
  // it is (a second try of a Finish whose answer was lost). Throws RecordsError when the attempt is
  // no longer open (finished otherwise, or released by hand) or the result is none of the three.
  virtual void Finish(const Attempt& attempt) = 0;

  // Renews the heartbeat of every attempt this store opened and has not finished.
  virtual void Beat() = 0;

  // Whether an attempt ever took a capcode of the progression FIRST + k * STEP (k = 0, 1, ...; STEP
  // 1 or more) from the pool, under any slot, held still or returned since. A run counting a
  // progression these records have never handed out from starts a new series in this database.
  // The stores answer with one query; this one reads every attempt.
  virtual bool HasHandedOut(std::uint32_t first, std::uint32_t step);

  // Calls `row` with each attempt that passes `filter`, oldest first, one at a time as they are
  // read (memory does not grow with the number of attempts). Exceptions of `row` pass through.
  virtual void Each(const ListFilter& filter, const std::function<void(const Attempt&)>& row) = 0;

  // Who holds each capcode (CapcodeHolders), in the order given, in one read. The stores answer
  // with two index lookups per capcode, however many attempts they hold; this one reads every
  // attempt.
  virtual std::vector<CapcodeHolders> HoldersOf(const std::vector<std::uint32_t>& capcodes);

  // Calls `group` with the attempts that pass `filter` gathered as a summary counts them, each
  // group once with how many attempts it holds: one station, one hour, one result, kept fields or
  // not, and for a failed attempt one message and whether its erase was sent. The group's attempt
  // carries only those: `time` up to its hour ("2026-12-07T14", the whole time when it names no
  // hour), `station`, `result`, `kept` ("kept" or empty), and for a failed one `message` and
  // `erased`. The stores answer with a grouped query; this one reads every attempt.
  virtual void EachGroup(const ListFilter& filter,
                         const std::function<void(const Attempt&, std::size_t)>& group);

  // The 4100 bytes of the template image with this SHA-256, when an attempt kept it.
  virtual std::optional<std::vector<std::uint8_t>> TemplateImage(const std::string& sha256) {
    static_cast<void>(sha256);
    return std::nullopt;
  }

  // Attempts, oldest first: Each collected.
  std::vector<Attempt> List(const ListFilter& filter);

  // Checks the database's own structure (SQLite's quick_check) and throws RecordsError, naming
  // the database as damaged, when it fails. A series runs it before any board is touched.
  virtual void CheckIntegrity() {}

  // Returns the capcode of `slot` to the pool when a failed or abandoned attempt holds it. An
  // attempt left open by a run that is no longer running may be released too: it is closed as
  // failed, and a Finish that arrives for it later throws RecordsError. An attempt that sent an
  // erase is released only with `force` (the board may hold the capcode); one whose series is
  // running never.
  virtual ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) = 0;

  // Imports a list unless one with the same SHA-256 is there already, in one transaction, and
  // says how far it is used, with the first free row whose capcode these records hold. A changed
  // list is grown or refused (`refused`); an import whose first free row is held (`conflict`)
  // is undone: nothing of the file stays imported.
  virtual ListState ImportList(const ListImport& list);

  // The state of the list with this SHA-256, when it has been imported.
  virtual std::optional<ListState> FindList(const std::string& sha256);

  // Reserve, and in the same transaction the first free row of list `list` (file order): the
  // row's capcodes are held like counting ones (in `taken`, under their slots) and the row is
  // returned in `row`. Throws ListUsedUpError when no row is left, RecordsError when a capcode
  // of the row is held by another attempt or a programmed board.
  virtual Attempt ReserveRow(const Attempt& start, const std::vector<CountingSlot>& slots,
                             std::int64_t list, ListRow& row);
};

// Opens the store named by `where`: a PostgreSQL connection URL or key=value string (as
// NamesPostgres in PostgresUrl.h tells them), or the path of an SQLite file; an empty `where` is
// DefaultRecordsPath(). Throws MissingDatabase when the database is not there and `mode` does not
// create it, and RecordsError with a message that names the database when it cannot be opened, is
// locked, is damaged, is not a records database or has a newer schema. `busyTimeout` is how long an
// SQLite store waits for another process that holds the file's write lock before it reports the
// database locked. An SQLite store opened for writing checks before every transaction that the path
// still leads to the file it opened.
//
// `stop` is the caller's stop (Ctrl+C, a Stop, a call given up). Once it is requested, also while
// the store is still being opened, a lost connection (PostgreSQL) is no longer waited for and made
// again, nor a lock another program holds (SQLite), also by a call already waiting: such calls
// (the boards being finished) fail at once instead. A PostgreSQL statement running then, or sent
// later, gets one second for its answer (a healthy server answers well within it, so the boards
// being finished are still recorded); then its connection is dropped and the call fails.
std::unique_ptr<RecordStore> OpenRecordStore(
    const std::string& where, OpenMode mode,
    std::chrono::milliseconds busyTimeout = std::chrono::milliseconds(10000),
    std::stop_token stop = {});

// How a series opens its records: the default database is created on first use; one named
// explicitly only when `startNew` is set.
OpenMode SeriesOpenMode(const std::string& where, bool startNew);

// The default SQLite file: $XDG_DATA_HOME/tuva/records.sqlite, or
// ~/.local/share/tuva/records.sqlite.
std::string DefaultRecordsPath();

// The database `where` names (as OpenRecordStore takes it), as its store's Name() gives it: the
// SQLite file's absolute path, or the PostgreSQL URL without its password. Throws RecordsError
// when `where` is empty and there is no home folder.
std::string RecordsName(const std::string& where);

// "reserved", "erased", "programmed", "failed", "skipped"
std::string ResultName(Result result);

// The result as a listing shows it: ResultName, except "reprovisioned" for a programmed attempt
// that kept fields of the board.
std::string ResultText(const Attempt& attempt);

// This computer's host name: the station of an attempt that names none.
std::string DefaultStation();

// What tells whether an open attempt's series still runs: the time now (seconds since 1970,
// UTC), this computer's station, and whether a process of this computer still exists.
struct LeaseCheck {
  std::int64_t now = 0;
  std::string station;
  std::function<bool(std::int64_t process)> processExists;
};

// The clock, DefaultStation() and kill(process, 0) (gone only when it fails with ESRCH).
LeaseCheck ThisComputer();

// Whether an open attempt's series is still running: its heartbeat is fresh and, when it was
// opened on this station, its process still exists. A run killed outright (kill -9) leaves a
// fresh heartbeat behind for a minute; its missing process tells at once that nobody writes.
bool Running(const Attempt& attempt, const LeaseCheck& check);
bool Running(const Attempt& attempt);  // Running(attempt, ThisComputer())

// A date or time as `ListFilter::since` wants it ("2026-12-07", "2026-12-07T14:03",
// "2026-12-07 14:03:00"), normalised to the form the records keep; throws RecordsError otherwise.
std::string ParseSince(const std::string& text);

}  // namespace tuva::records
