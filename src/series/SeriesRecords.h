// What a series does with its records beyond reserving and finishing: a result that cannot be
// recorded is kept in the local journal and tried again, the attempts being written are kept
// alive by a heartbeat, and a run's start finishes what an earlier run kept and names what it left
// open.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "records/Journal.h"
#include "records/RecordStore.h"

namespace tuva::series {

// Finishes attempts in the store; one that will not finish is kept in the journal.
class RecordKeeper {
 public:
  struct Unrecorded {
    std::string port;
    std::string capcodes;  // the counting capcodes, "1500000,1600000"
    std::int64_t id = 0;
    bool programmed = false;
  };

  RecordKeeper(records::RecordStore& store, const std::string& journalPath);

  // Finishes `attempt`, trying again (with the store's own reconnection) a few times; returns ""
  // when recorded, otherwise why not, after the attempt has been kept in the journal.
  std::string Record(const records::Attempt& attempt);

  // The run is stopping: a result the store did not take is kept in the journal without waiting
  // to try again, also by a Record already pausing. Safe from any thread.
  void StopWaiting();

  std::vector<Unrecorded> unrecorded() const;
  const std::string& journalPath() const { return journal_.Path(); }

 private:
  records::RecordStore& store_;
  std::atomic<bool> stopping_{false};
  records::Journal journal_;
  std::string identity_;
  mutable std::mutex mutex_;
  std::vector<Unrecorded> unrecorded_;
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
