// The operator's capcode list: whatever the file's bytes, the reader either refuses it with a
// message or gives rows as wide as the header. A list the check accepts against the start-up
// configuration is one whose every row, kept in the records' form and handed back, sets on that
// configuration as it was checked; and every row read back from its CSV form is the same row.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzTemp.h"
#include "series/CapcodeList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tuva;
  const std::string path = fuzz::WriteInput("list.csv", data, size);
  series::CapcodeList list;
  try {
    list = series::ReadCapcodeList(path);
  } catch (const series::ListError& error) {
    if (std::string(error.what()).empty()) std::abort();
    return 0;
  }
  if (!list.rows.empty() && list.header.empty()) std::abort();
  for (const series::CapcodeList::Row& row : list.rows) {
    if (row.values.size() != list.header.size()) std::abort();
    const auto again = series::ParseCsvLine(series::CsvLine(row.values));
    if (!again || *again != row.values) std::abort();
  }
  const ConfigImage start = ConfigImage::StartupImage();
  const auto refusal = series::CheckCapcodeList(list, start, "start-up", {});
  if (refusal) {
    if (refusal->empty()) std::abort();
    return 0;
  }
  series::ListCapcodes(list, start);
  const records::ListImport import = series::ListImportOf(list, start);
  if (import.rows.size() != list.rows.size()) std::abort();
  for (const records::ListRow& row : import.rows) {
    ConfigImage image = start;
    if (series::ApplyListRow(image, list, row)) std::abort();  // checked, so it must set
  }
  return 0;
}
