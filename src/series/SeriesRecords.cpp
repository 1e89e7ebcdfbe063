#include "series/SeriesRecords.h"

#include <chrono>

#include "records/RecordText.h"

namespace tuva::series {
namespace {

// Recording a result is tried this often, with these pauses between.
constexpr int kRecordTries = 3;
constexpr std::chrono::milliseconds kFirstPause{1000};

std::string Counting(const records::Attempt& attempt) {
  std::string text;
  for (const auto& taken : attempt.taken) {
    records::AppendListed(text, std::to_string(taken.capcode));
  }
  if (text.empty()) {
    text = '#';
    text += std::to_string(attempt.id);
  }
  return text;
}

// How long a wait was: whole seconds, or milliseconds below one.
std::string Took(std::chrono::milliseconds wait) {
  if (wait < std::chrono::seconds(1)) return std::to_string(wait.count()) + " ms";
  return std::to_string(std::chrono::ceil<std::chrono::seconds>(wait).count()) + " s";
}

// "2026-12-07T14:03:09Z" as "2026-12-07 14:03".
std::string Minute(const std::string& time) {
  if (time.size() < 16) return time;
  return time.substr(0, 10) + " " + time.substr(11, 5);
}

// Whether attempt `id` is still open; true when the store cannot tell.
bool StillOpen(records::RecordStore& store, std::int64_t id) {
  records::ListFilter one;
  one.id = id;
  try {
    const auto found = store.List(one);
    return !found.empty() && (found[0].result == records::Result::Reserved ||
                              found[0].result == records::Result::Erased);
  } catch (const records::RecordsError&) {
    return true;
  }
}

// The capcodes the board of a kept result may hold: those it took, or else those it was given
// ("1960001", "1500000,1600000").
std::string BoardCapcodes(const records::Attempt& attempt) {
  if (!attempt.taken.empty()) return Counting(attempt);
  std::string text;
  for (const auto& capcode : attempt.capcodes) {
    if (!capcode.empty()) records::AppendListed(text, capcode);
  }
  return text;
}

// "capcode 1960001, programmed on /dev/pts/3 at 2026-12-07 14:03, attempt #2 of DB"
std::string ForeignText(const records::Journal::Entry& entry) {
  const records::Attempt& a = entry.attempt;
  const std::string capcodes = BoardCapcodes(a);
  std::string text;
  if (!capcodes.empty()) {
    text = (capcodes.find(',') == std::string::npos ? "capcode " : "capcodes ") + capcodes + ", ";
  }
  return text + records::ResultName(a.result) + " on " + a.port + " at " + Minute(a.time) +
         ", attempt #" + std::to_string(a.id) + " of " + entry.database;
}

std::string RefusalOf(const std::vector<records::Journal::Entry>& foreign,
                      const std::string& database, const std::string& journalPath) {
  const bool one = foreign.size() == 1;
  std::string text = "the journal " + journalPath + " holds " + std::to_string(foreign.size()) +
                     (one ? " result" : " results") + " of another records database (";
  std::string elsewhere;
  for (std::size_t i = 0; i < foreign.size(); ++i) {
    if (i > 0) text += "; ";
    text += ForeignText(foreign[i]);
    if (elsewhere.empty() && foreign[i].database != database) elsewhere = foreign[i].database;
  }
  text += one ? "): record it here with --adopt-journal, or drop it with `tuvactl records "
              : "): record them here with --adopt-journal, or drop them with `tuvactl records ";
  text += "--records " + database + " --discard-journal " +
          (one ? std::to_string(foreign[0].attempt.id) : std::string("all")) + "`";
  if (!elsewhere.empty()) text += ", or run on " + elsewhere + " to record it there";
  return text;
}

// Records a result of another database in `store` as an attempt holding the capcodes its board
// may hold, so that the pool never hands them out again. A capcode this database already gives
// another board is said in `lines` (two boards may share it) and not taken twice.
void Adopt(records::RecordStore& store, const records::Journal::Entry& entry,
           std::vector<std::string>& lines) {
  const records::Attempt& was = entry.attempt;
  std::vector<records::CountingSlot> slots;
  for (const auto& taken : was.taken) {
    if (!taken.held) continue;
    records::ListFilter holders;
    holders.capcode = taken.capcode;
    const auto found = store.List(holders);
    if (!found.empty()) {
      lines.push_back("capcode " + std::to_string(taken.capcode) + " of the adopted attempt #" +
                      std::to_string(was.id) + " is held here too, by " +
                      records::AttemptText(found.front()) + ": two boards may share it");
      continue;
    }
    slots.push_back({taken.slot, taken.capcode, 1, taken.capcode});
  }
  records::Attempt adopted = was;
  adopted.id = store.Reserve(was, slots).id;
  const bool erased = was.erased || was.result == records::Result::Programmed;
  if (erased) store.MarkErased(adopted.id);
  adopted.erased = erased;
  adopted.message = "adopted from the journal: attempt #" + std::to_string(was.id) + " of " +
                    entry.database + " at " + Minute(was.time) +
                    (was.message.empty() ? "" : "; " + was.message);
  store.Finish(adopted);
}

}  // namespace

RecordKeeper::RecordKeeper(records::RecordStore& store, const std::string& journalPath,
                           std::stop_token stop, std::function<void(const std::string&)> failed,
                           std::chrono::milliseconds patience)
    : store_(store),
      failed_(std::move(failed)),
      patience_(patience),
      stop_(std::move(stop)),
      journal_(journalPath) {
  try {
    identity_ = store_.Identity();
  } catch (const records::RecordsError&) {
    // Kept under the database's name alone; the first failure to record says why.
  }
  worker_ = std::thread(&RecordKeeper::Work, this);
}

RecordKeeper::~RecordKeeper() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

std::string RecordKeeper::Record(const records::Attempt& attempt) {
  const auto job = std::make_shared<Pending>();
  job->attempt = attempt;
  std::unique_lock lock(mutex_);
  queue_.push_back(job);
  changed_.notify_all();
  for (;;) {
    if (job->done) return job->reason;
    const auto unanswered = callStarted_ + patience_;
    if (calling_ && std::chrono::steady_clock::now() >= unanswered) break;
    if (calling_) {
      changed_.wait_until(lock, unanswered);
    } else {
      changed_.wait(lock);
    }
  }
  // The store has gone silent (on this result, or on one before it): what the board came to is
  // kept before its line is shown, and the worker records it if the store answers after all.
  std::string reason =
      "records database " + store_.Name() + " did not answer within " + Took(patience_);
  if (job->kept || Keep(*job, reason)) {
    reason += "; the result is kept in " + journal_.Path() + " until it answers";
  }
  return reason;
}

void RecordKeeper::Work() {
  std::unique_lock lock(mutex_);
  std::string unanswered;  // why the store's last call went unanswered; empty once it answered
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;
    const std::shared_ptr<Pending> job = queue_.front();
    std::string reason;
    if (job->kept && !unanswered.empty()) {
      // In the journal already and nobody waits for it: not another wait as long on a store
      // that just went unanswered; the next run records it.
      reason = unanswered;
    } else {
      bool silent = false;
      reason = Finish(*job, lock, silent);
      unanswered = silent ? reason : "";
    }
    if (!reason.empty()) {
      unrecorded_.push_back({job->attempt.port, Counting(job->attempt), job->attempt.id,
                             job->attempt.result == records::Result::Programmed});
      if (failed_) {
        lock.unlock();
        failed_(reason);
        lock.lock();
      }
    }
    job->reason = reason;
    job->done = true;
    queue_.pop_front();
    changed_.notify_all();
  }
}

std::string RecordKeeper::Finish(Pending& job, std::unique_lock<std::mutex>& lock,
                                 bool& unanswered) {
  std::string reason;
  std::chrono::milliseconds pause = kFirstPause;
  for (int tries = 1;; ++tries) {
    calling_ = true;
    callStarted_ = std::chrono::steady_clock::now();
    changed_.notify_all();
    lock.unlock();
    bool recorded = false;
    unanswered = false;
    try {
      store_.Finish(job.attempt);
      recorded = true;
    } catch (const records::UnansweredError& error) {
      reason = error.what();
      unanswered = true;  // the store waited and tried again already
    } catch (const std::exception& error) {
      reason = error.what();  // a fault of the store's own is this result's failure, too
    }
    lock.lock();
    calling_ = false;
    if (recorded) {
      if (job.kept) {
        try {
          journal_.Drop(identity_, job.attempt.id);
        } catch (const std::exception&) {
          // Recorded all the same; the next run finds the attempt finished and drops it.
        }
      }
      return "";
    }
    // Before anything else: what the board came to must outlive this run.
    if (!job.kept) Keep(job, reason);
    if (tries == kRecordTries || unanswered) return reason;
    // A run that is stopping does not wait to try again: the pause ends at the stop, or does not
    // begin when the stop came first.
    changed_.wait_for(lock, stop_, pause, [] { return false; });
    if (stop_.stop_requested()) return reason;
    pause *= 2;
  }
}

bool RecordKeeper::Keep(Pending& job, std::string& reason) {
  try {
    journal_.Keep({identity_, store_.Name(), job.attempt});
    job.kept = true;
  } catch (const std::exception& error) {
    reason += "; ";
    reason += error.what();
  }
  return job.kept;
}

void RecordKeeper::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty(); });
}

std::vector<RecordKeeper::Unrecorded> RecordKeeper::unrecorded() const {
  std::lock_guard lock(mutex_);
  return unrecorded_;
}

Heartbeat::Heartbeat(records::RecordStore& store) {
  thread_ = std::thread([this, &store] {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, records::kHeartbeatInterval, [this] { return done_; })) {
      lock.unlock();
      try {
        store.Beat();
      } catch (const records::RecordsError&) {
        // The next transaction of the run meets the same fault and reports it.
      }
      lock.lock();
    }
  });
}

Heartbeat::~Heartbeat() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::vector<std::string> PrepareRecords(records::RecordStore& store, const std::string& journalPath,
                                        bool adopt) {
  store.CheckIntegrity();  // a damaged database is refused before any board is touched
  std::vector<std::string> lines;
  records::Journal journal(journalPath);
  const std::string identity = store.Identity();
  const std::vector<records::Journal::Entry> entries = journal.Entries();
  std::vector<records::Journal::Entry> foreign;
  for (const auto& entry : entries) {
    if (entry.identity != identity) foreign.push_back(entry);
  }
  // A board of a lost database may hold capcodes this one would hand out again: nothing starts
  // until the technician says what those results are to this database.
  if (!foreign.empty() && !adopt)
    throw ForeignJournal(RefusalOf(foreign, store.Name(), journalPath));
  for (const auto& entry : foreign) {
    Adopt(store, entry, lines);
    journal.Drop(entry.identity, entry.attempt.id);
  }
  if (!foreign.empty()) {
    lines.push_back("recorded " + std::to_string(foreign.size()) +
                    (foreign.size() == 1 ? " result" : " results") +
                    " of another records database here, adopted from " + journalPath);
  }
  int finished = 0;
  for (const auto& entry : entries) {
    if (entry.identity != identity) continue;
    try {
      store.Finish(entry.attempt);
      ++finished;
      journal.Drop(identity, entry.attempt.id);
    } catch (const records::RecordsError& error) {
      // Kept unless the attempt was closed meanwhile (released by hand): then there is nothing
      // left to finish, and the technician is told what the board came to.
      const bool closed = !StillOpen(store, entry.attempt.id);
      lines.push_back("the result of attempt #" + std::to_string(entry.attempt.id) + " (" +
                      Counting(entry.attempt) + ", " + records::ResultName(entry.attempt.result) +
                      ") cannot be recorded: " + error.what() +
                      (closed ? "" : "; it stays in " + journalPath));
      if (closed) journal.Drop(identity, entry.attempt.id);
    }
  }
  if (finished > 0) {
    lines.push_back("recorded " + std::to_string(finished) + " result" +
                    (finished == 1 ? "" : "s") + " an earlier run kept in " + journalPath);
  }
  records::ListFilter open;
  open.openOnly = true;
  std::vector<records::Attempt> stale;
  store.Each(open, [&](const records::Attempt& a) {
    if (!records::Running(a)) stale.push_back(a);
  });
  if (!stale.empty()) lines.push_back(StaleOpenMessage(stale));
  return lines;
}

std::vector<std::string> DiscardForeignResults(records::RecordStore& store,
                                               const std::string& journalPath, std::int64_t id) {
  records::Journal journal(journalPath);
  const std::string identity = store.Identity();
  std::vector<std::string> dropped;
  for (const auto& entry : journal.Entries()) {
    if (entry.identity == identity || (id != 0 && entry.attempt.id != id)) continue;
    journal.Drop(entry.identity, entry.attempt.id);
    dropped.push_back(ForeignText(entry));
  }
  return dropped;
}

std::string StaleOpenMessage(const std::vector<records::Attempt>& open) {
  std::string text = std::to_string(open.size());
  text += open.size() == 1 ? " attempt of an earlier run is still open: "
                           : " attempts of an earlier run are still open: ";
  for (std::size_t i = 0; i < open.size(); ++i) {
    const records::Attempt& a = open[i];
    if (i > 0) text += ", ";
    text += Counting(a) + " (" + records::ResultName(a.result) + ", " + a.port + ", station " +
            a.station + ", " + Minute(a.time) + ")";
  }
  return text;
}

std::string UnrecordedMessage(const std::vector<RecordKeeper::Unrecorded>& boards,
                              const std::string& journalPath) {
  std::string text = std::to_string(boards.size());
  text += boards.size() == 1 ? " board's result is not recorded: "
                             : " boards' results are not recorded: ";
  for (std::size_t i = 0; i < boards.size(); ++i) {
    if (i > 0) text += ", ";
    text += boards[i].port + " " + boards[i].capcodes + " (#" + std::to_string(boards[i].id) +
            (boards[i].programmed ? ", programmed" : ", failed") + ")";
  }
  return text + "; kept in " + journalPath + " for the next run to record";
}

}  // namespace tuva::series
