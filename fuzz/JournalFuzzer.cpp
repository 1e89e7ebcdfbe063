// The journal of unrecorded boards: whatever a journal file holds (a line cut short by a crash,
// a stray byte, an edit by hand), reading it never fails on its lines, and every entry it gives,
// kept in a journal of its own and read back, is the same entry.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzTemp.h"
#include "records/Journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tuva::records::Journal;
  // The journal is kept only in a folder of the user's own, inside one that not every user may
  // write: the process's private folder holds it.
  static const bool made = ::mkdir(tuva::fuzz::TempPath("tuva").c_str(), 0700) == 0;
  if (!made) std::abort();
  Journal journal(tuva::fuzz::WriteInput("tuva/input.journal", data, size));
  const std::vector<Journal::Entry> entries = journal.Entries();
  if (entries.empty()) return 0;
  const std::string again = tuva::fuzz::TempPath("tuva/again.journal");
  std::remove(again.c_str());
  Journal copy(again);
  copy.Keep(entries.front());
  const std::vector<Journal::Entry> read = copy.Entries();
  if (read.size() != 1) std::abort();
  // The seconds are kept to the microsecond (and may be "nan"), so they are left out.
  Journal::Entry expected = entries.front();
  Journal::Entry got = read.front();
  expected.attempt.seconds = got.attempt.seconds = 0;
  if (!(got.identity == expected.identity && got.database == expected.database &&
        got.attempt == expected.attempt)) {
    std::abort();
  }
  return 0;
}
