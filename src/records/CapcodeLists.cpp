// The parts of the operator's lists that do not depend on the database: the messages, and what a
// store that keeps no lists answers.
#include <algorithm>

#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

[[noreturn]] void NoLists(const RecordStore& store) {
  throw RecordsError("records database " + store.Name() + " keeps no lists");
}

}  // namespace

ListState RecordStore::ImportList(const ListImport&) {
  NoLists(*this);
}

std::optional<ListState> RecordStore::FindList(const std::string&) {
  NoLists(*this);
}

Attempt RecordStore::ReserveRow(const Attempt&, const std::vector<CountingSlot>&, std::int64_t,
                                ListRow&) {
  NoLists(*this);
}

ListGrowth GrowList(const ListImport& file, const ImportedList& earlier) {
  ListGrowth growth;
  const std::string changed =
      file.name + " changed since it was imported as list #" + std::to_string(earlier.id);
  const std::string onlyGrows =
      "; a list may only grow at its end: keep its rows as they were and append new ones, or "
      "give the changed rows in a list under another name";
  growth.separate = file.name != earlier.name;
  if (file.header != earlier.header) {
    growth.refused = changed + ": its header was \"" + earlier.header + "\", now \"" + file.header +
                     "\"" + onlyGrows;
    return growth;
  }
  const std::size_t shared = std::min(file.rows.size(), earlier.rows.size());
  for (std::size_t i = 0; i < shared; ++i) {
    if (file.rows[i].fields != earlier.rows[i].fields) {
      growth.refused = changed + ": line " + std::to_string(file.rows[i].line) + " was \"" +
                       earlier.rows[i].fields + "\", now \"" + file.rows[i].fields + "\"" +
                       onlyGrows;
      return growth;
    }
  }
  growth.separate = false;
  growth.takesFile = file.rows.size() >= earlier.rows.size();
  int last = earlier.rows.empty() ? 1 : earlier.rows.back().line;
  for (std::size_t i = shared; i < file.rows.size(); ++i) {
    ListRow row = file.rows[i];
    row.line = std::max(row.line, last + 1);
    last = row.line;
    growth.appended.push_back(std::move(row));
  }
  return growth;
}

std::string ListUsedUp(const std::string& name) {
  return "no row of the list " + name + " is left";
}

std::string ListCapcodeHeld(std::uint32_t capcode, int line, std::int64_t attempt) {
  return "capcode " + std::to_string(capcode) + " of line " + std::to_string(line) +
         " of the list is already held by attempt #" + std::to_string(attempt);
}

}  // namespace tuva::records
