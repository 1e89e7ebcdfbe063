// The boards whose record could not be finished in the database (a full disk, a lost server, a
// file removed during the run): everything the run learnt about each is kept in a small local
// file, written and flushed to the disk before the board's line is shown, until a later run
// finishes the record in the database it belongs to.
//
// The file holds one line per board, fields separated by tabs (a tab, line break or backslash in a
// field written as \t, \n, \\): the database's identity and name, then the attempt.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "records/RecordStore.h"

namespace tuva::records {

// $XDG_STATE_HOME/tuva/unrecorded.journal, or ~/.local/state/tuva/unrecorded.journal. Throws
// RecordsError when neither variable names a folder: the journal is never kept in a folder other
// users share.
std::string DefaultJournalPath();

class Journal {
 public:
  struct Entry {
    std::string identity;  // RecordStore::Identity() of the database
    std::string database;  // RecordStore::Name()
    Attempt attempt;
  };

  // The journal's folder must belong to `owner` (the effective user unless told): it is made
  // 0700 when missing, and refused when it is a link, another user's, or others may write it; the
  // folder above it is refused when another user owns it or any user may write it.
  explicit Journal(std::string path);
  Journal(std::string path, uid_t owner) : path_(std::move(path)), owner_(owner) {}
  const std::string& Path() const { return path_; }

  // Each call holds the journal's file lock from reading to rewriting, so the ports of one run,
  // and runs of other processes, keep and drop their boards one at a time.

  // Adds the finished attempt (replacing an entry of the same database and id) and flushes the
  // file to the disk. Throws RecordsError when it cannot.
  void Keep(const Entry& entry);
  // Removes the entry of this database and attempt, when there is one.
  void Drop(const std::string& identity, std::int64_t id);
  // Every entry kept. Throws RecordsError when the file cannot be read.
  std::vector<Entry> Entries();

 private:
  // Rewrites the file as `entries` (a new file renamed over the old one, flushed).
  void Write(const std::vector<Entry>& entries);
  std::vector<Entry> Read();
  // Makes the journal's folder when missing and checks it is this user's own.
  void OwnFolder() const;

  std::string path_;
  uid_t owner_;
};

}  // namespace tuva::records
