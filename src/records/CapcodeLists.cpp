// The parts of the operator's lists that do not depend on the database: the messages, and what a
// store that keeps no lists answers.
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

std::string ListUsedUp(const std::string& name) {
  return "no row of the list " + name + " is left";
}

std::string ListCapcodeHeld(std::uint32_t capcode, int line, std::int64_t attempt) {
  return "capcode " + std::to_string(capcode) + " of line " + std::to_string(line) +
         " of the list is already held by attempt #" + std::to_string(attempt);
}

}  // namespace tuva::records
