// What a series does with its records beyond reserving and finishing: a result that cannot be
// recorded is kept in the local journal and tried again, the attempts being written are kept
// alive by a heartbeat, and a run's start finishes what an earlier run kept and names what it left
// open.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "records/Journal.h"
#include "records/RecordStore.h"

namespace tuva::series {

// Finishes attempts in the store; one that will not finish is kept in the journal.
//
// The store is called by a worker of the keeper's own, so that a store that does not answer
// holds up no port: a port waits for the store's answers, never for its silence. When one call
// has gone unanswered for `patience`, the ports waiting stop waiting, their results are kept in the
// journal before their boards' lines are shown, and the worker goes on: a result the store takes
// later leaves the journal again, one it never takes stays there for the next run.
class RecordKeeper {
 public:
  struct Unrecorded {
    std::string port;
    std::string capcodes;  // the counting capcodes, "1500000,1600000"
    std::int64_t id = 0;
    bool programmed = false;
  };

  // `failed` is told, from the worker, why a result could not be recorded (it is then in the
  // journal), once per result, before Record returns for it when Record still waits. Once `stop`
  // is requested (the run is stopping), a result the store did not take is kept in the journal
  // without waiting to try again, also by a Record already pausing between its tries.
  RecordKeeper(records::RecordStore& store, const std::string& journalPath,
               std::stop_token stop = {}, std::function<void(const std::string&)> failed = {},
               std::chrono::milliseconds patience = kRecordPatience);
  // Waits until every result is recorded or kept in the journal, then ends the worker.
  ~RecordKeeper();
  RecordKeeper(const RecordKeeper&) = delete;
  RecordKeeper& operator=(const RecordKeeper&) = delete;

  // How long a port waits for one call of the store to be answered.
  static constexpr std::chrono::milliseconds kRecordPatience{2000};

  // Finishes `attempt`, trying again (with the store's own reconnection) a few times; returns ""
  // when recorded, otherwise why not, after the attempt has been kept in the journal: why the
  // store refused it, or that it did not answer within the patience (the worker still trying).
  std::string Record(const records::Attempt& attempt);

  // Until every result given to Record is recorded, or kept in the journal for good.
  void Drain();

  // The results kept in the journal for good (not those the worker may still record).
  std::vector<Unrecorded> unrecorded() const;
  const std::string& journalPath() const { return journal_.Path(); }

 private:
  struct Pending {
    records::Attempt attempt;
    bool kept = false;  // in the journal
    bool done = false;  // recorded, or in the journal for good
    std::string reason;
  };

  void Work();
  // The tries of one result, with `lock` held between them; "" when recorded, otherwise why not
  // (`unanswered`: the last call went unanswered).
  std::string Finish(Pending& job, std::unique_lock<std::mutex>& lock, bool& unanswered);
  // Keeps the result in the journal, with the lock held; false with the journal's failure added
  // to `reason` when it cannot.
  bool Keep(Pending& job, std::string& reason);

  records::RecordStore& store_;
  std::function<void(const std::string&)> failed_;
  std::chrono::milliseconds patience_;
  std::stop_token stop_;
  records::Journal journal_;
  std::string identity_;
  mutable std::mutex mutex_;             // guards what follows, and every write of the journal
  std::condition_variable_any changed_;  // its waits between tries end at the stop
  std::deque<std::shared_ptr<Pending>> queue_;  // the front one is the worker's
  bool calling_ = false;                        // the worker is in a call of the store
  std::chrono::steady_clock::time_point callStarted_;
  bool closing_ = false;
  std::vector<Unrecorded> unrecorded_;
  std::thread worker_;
};

// Renews the heartbeat of the store's open attempts every kHeartbeatInterval while it lives.
class Heartbeat {
 public:
  explicit Heartbeat(records::RecordStore& store);
  ~Heartbeat();
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

// The journal holds results of another records database (one that was lost or replaced, or is
// not the one this run opened): their boards may hold capcodes this database would hand out
// again. The message names them and the two ways on: --adopt-journal, or dropping them by hand.
class ForeignJournal : public records::RecordsError {
 public:
  using records::RecordsError::RecordsError;
};

// Before a series: checks the database (RecordStore::CheckIntegrity), finishes in `store` the
// results an earlier run kept in the journal at `journalPath`, and names the attempts an earlier
// run left open (stale heartbeat). Returns the lines to show once, on the error stream.
//
// A result of another database is refused (ForeignJournal, before anything is written) unless
// `adopt` is set: then it is recorded here as an attempt that holds its capcodes (programmed, or
// failed after its erase), its message saying it was adopted from the journal, and leaves the
// journal.
std::vector<std::string> PrepareRecords(records::RecordStore& store, const std::string& journalPath,
                                        bool adopt = false);

// Drops from the journal the results of another database than `store`: the one of attempt `id`
// (its number in that database), or every one when `id` is 0. Returns the results dropped, as
// "1500001 (#2, programmed)".
std::vector<std::string> DiscardForeignResults(records::RecordStore& store,
                                               const std::string& journalPath, std::int64_t id);

// "2 attempts of an earlier run are still open: 1500001 (erased, /dev/ttyUSB0, station bench2,
// 2026-12-07 14:03), ..."
std::string StaleOpenMessage(const std::vector<records::Attempt>& open);

// "programmed, NOT RECORDED: 2 boards are programmed but not recorded: /dev/ttyUSB0 1500003
// (#4), ...; kept in JOURNAL for the next run to record"
std::string UnrecordedMessage(const std::vector<RecordKeeper::Unrecorded>& boards,
                              const std::string& journalPath);

}  // namespace tuva::series
