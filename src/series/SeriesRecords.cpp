#include "series/SeriesRecords.h"

#include <chrono>

namespace tuva::series {
namespace {

// Recording a result is tried this often, with these pauses between.
constexpr int kRecordTries = 3;
constexpr std::chrono::milliseconds kFirstPause{1000};

std::string Counting(const records::Attempt& attempt) {
  std::string text;
  for (const auto& taken : attempt.taken) {
    if (!text.empty()) text += ",";
    text += std::to_string(taken.capcode);
  }
  if (text.empty()) {
    text = '#';
    text += std::to_string(attempt.id);
  }
  return text;
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

}  // namespace

RecordKeeper::RecordKeeper(records::RecordStore& store, const std::string& journalPath)
    : store_(store), journal_(journalPath) {
  try {
    identity_ = store_.Identity();
  } catch (const records::RecordsError&) {
    // Kept under the database's name alone; the first failure to record says why.
  }
}

std::string RecordKeeper::Record(const records::Attempt& attempt) {
  std::string reason;
  bool kept = false;
  std::chrono::milliseconds pause = kFirstPause;
  for (int tries = 1; tries <= kRecordTries; ++tries) {
    try {
      store_.Finish(attempt);
      if (kept) journal_.Drop(identity_, attempt.id);
      return "";
    } catch (const records::RecordsError& error) {
      reason = error.what();
    }
    if (!kept) {
      // Before anything else: what the board came to must outlive this run.
      try {
        journal_.Keep({identity_, store_.Name(), attempt});
        kept = true;
      } catch (const records::RecordsError& error) {
        reason += "; ";
        reason += error.what();
      }
    }
    if (tries < kRecordTries) std::this_thread::sleep_for(pause);
    pause *= 2;
  }
  std::lock_guard lock(mutex_);
  unrecorded_.push_back(
      {attempt.port, Counting(attempt), attempt.id, attempt.result == records::Result::Programmed});
  return reason;
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

std::vector<std::string> PrepareRecords(records::RecordStore& store,
                                        const std::string& journalPath) {
  store.CheckIntegrity();  // a damaged database is refused before any board is touched
  std::vector<std::string> lines;
  records::Journal journal(journalPath);
  const std::string identity = store.Identity();
  int finished = 0;
  for (const auto& entry : journal.Entries()) {
    if (entry.identity != identity) {
      if (entry.database == store.Name()) {
        lines.push_back("the result of attempt #" + std::to_string(entry.attempt.id) + " (" +
                        Counting(entry.attempt) + ", " + records::ResultName(entry.attempt.result) +
                        ") belongs to an earlier database at " + entry.database + " and stays in " +
                        journalPath);
      }
      continue;
    }
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
