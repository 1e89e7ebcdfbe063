// The operator's list of per-board values: a CSV file whose header row names settable fields as
// `tuvactl set` takes them ("capcode.1.address,capcode.3.address,prompt.1") and whose every
// further row gives one board's values. The values are set through the same setters as `set`, so
// a value the editor would refuse is refused here too, with the editor's message.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "image/ConfigImage.h"
#include "records/RecordStore.h"

namespace tuva::series {

struct CapcodeList {
  std::string path;    // as given
  std::string sha256;  // of the file's bytes: the same file imported again is the same list
  std::vector<std::string> header;
  struct Row {
    int line = 0;  // in the file, the header being line 1
    std::vector<std::string> values;
  };
  std::vector<Row> rows;
};

// A list file that cannot be read or is not CSV of the header's width; the message names the
// file and, for a row, its line.
class ListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the file: CSV with commas, values optionally in double quotes ("" for a quote inside),
// spaces and tabs around a value dropped (a quoted value keeps those inside its quotes), LF or
// CRLF line ends, a UTF-8 byte-order mark ignored, blank lines skipped. A value does not span
// lines. Throws ListError; one for a file in another form (semicolons, lone CRs) says the form.
CapcodeList ReadCapcodeList(const std::string& path);

// One CSV row and back: the form in which the records keep a row.
std::string CsvLine(const std::vector<std::string>& values);
std::optional<std::vector<std::string>> ParseCsvLine(std::string_view line);

// Everything about the list that can be refused before the records are opened: a header naming
// an unknown field (with the nearest names) or a field twice, a row the setters refuse against
// the template (with its line), a capcode column whose slot then names no capcode or is disabled
// (`templateName` names the template), a capcode on two rows or twice on one, an empty list, a
// capcode slot that is also counted (`countingSlots`: its capcode or ON box in a column). The
// first fault, as one line; nullopt when good.
std::optional<std::string> CheckCapcodeList(const CapcodeList& list,
                                            const ConfigImage& templateImage,
                                            std::string_view templateName,
                                            const std::vector<int>& countingSlots);

// The slots (1..16) whose capcode the list gives.
std::vector<int> ListSlots(const CapcodeList& list);

// Every capcode the list gives, with its line: each row applied to the template and every listed
// slot's capcode read back as the board holds it, whatever form the value was given in.
struct ListCapcode {
  int line = 0;
  std::uint32_t capcode = 0;
};
std::vector<ListCapcode> ListCapcodes(const CapcodeList& list, const ConfigImage& templateImage);

// The list as the records import it, each row's capcodes read back as ListCapcodes does.
records::ListImport ListImportOf(const CapcodeList& list, const ConfigImage& templateImage);

// Sets a row handed out by the records on `image`; the setter's message, with the row's line,
// when it is refused (the image is then left as it was).
std::optional<std::string> ApplyListRow(ConfigImage& image, const CapcodeList& list,
                                        const records::ListRow& row);

}  // namespace tuva::series
