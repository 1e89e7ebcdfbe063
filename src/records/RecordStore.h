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
// created on first use and carries a version.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tuva::records {

class RecordsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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
  std::string firmware;               // the board's firmware identification text
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

  bool operator==(const Attempt&) const = default;
};

struct ListFilter {
  std::optional<std::uint32_t> capcode;  // attempts whose board holds (or may hold) this capcode
  bool failedOnly = false;
};

class RecordStore {
 public:
  virtual ~RecordStore() = default;

  // In one transaction: takes for each counting slot the lowest free capcode of FIRST + k * STEP
  // (k = 0, 1, ...) not above `last`, and opens an attempt (result Reserved) that holds them.
  // The attempt's station (the host name when empty), port and whatever else `start` already
  // knows are recorded; its time is set by the store. Returns the
  // attempt with its id and `taken` filled. Throws RecordsError when a slot has no free capcode
  // left or the database fails.
  virtual Attempt Reserve(const Attempt& start, const std::vector<CountingSlot>& slots) = 0;

  // The first erase command is about to be sent: from now on the board may hold the capcodes.
  virtual void MarkErased(std::int64_t id) = 0;

  // Ends an attempt as Programmed, Failed or Skipped with everything it learned (firmware,
  // capcodes, frequency, sha256, message, seconds). A Failed attempt that was never marked erased
  // returns its capcodes to the pool. Throws RecordsError when the attempt is no longer open
  // (finished, or released by hand) or the result is none of the three.
  virtual void Finish(const Attempt& attempt) = 0;

  // Attempts, oldest first.
  virtual std::vector<Attempt> List(const ListFilter& filter) = 0;

  // Returns a capcode held by a failed attempt to the pool; false when no failed attempt holds it
  // (a programmed board's capcode is never released). An attempt left unfinished by a run that
  // was killed may be released too: it is closed as failed, and a Finish that arrives for it later
  // throws RecordsError.
  virtual bool Release(int slot, std::uint32_t capcode) = 0;
};

// Opens (creating on first use) the store named by `where`: a "postgresql://" or "postgres://"
// connection URL, or the path of an SQLite file (its folder is created). Throws RecordsError with
// a message that names the database when it cannot be opened, is locked or has a newer schema.
// An empty `where` opens DefaultRecordsPath(). `busyTimeout` is how long an SQLite store waits for
// another process that holds the file's write lock before it reports the database locked.
std::unique_ptr<RecordStore> OpenRecordStore(
    const std::string& where,
    std::chrono::milliseconds busyTimeout = std::chrono::milliseconds(10000));

// The default SQLite file: $XDG_DATA_HOME/tuva/records.sqlite, or
// ~/.local/share/tuva/records.sqlite.
std::string DefaultRecordsPath();

// "reserved", "erased", "programmed", "failed", "skipped"
std::string ResultName(Result result);

// This computer's host name: the station of an attempt that names none.
std::string DefaultStation();

// Whether `attempt` passes `filter`: a capcode matches an attempt that still holds it from the
// pool, or a programmed board that carries it in any slot.
bool Matches(const Attempt& attempt, const ListFilter& filter);

}  // namespace tuva::records
