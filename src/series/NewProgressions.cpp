#include "series/NewProgressions.h"

namespace tuva::series {

std::vector<CountingCapcode> NewProgressions(records::RecordStore& store, const SeriesPlan& plan) {
  std::vector<CountingCapcode> fresh;
  for (const CountingCapcode& counting : plan.counting) {
    if (!store.HasHandedOut(counting.first, counting.step)) fresh.push_back(counting);
  }
  return fresh;
}

}  // namespace tuva::series
