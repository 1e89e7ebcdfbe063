// The same series set up from tuvactl's options and from the series window's fields: the same
// plan, or a refusal naming the same input; and the records prepared for it the same way.
#include <QAbstractButton>
#include <QLineEdit>
#include <QSpinBox>
#include <fstream>
#include <sstream>

#include "AppTestSupport.h"
#include "app/SeriesSettings.h"
#include "cli/CommandLine.h"
#include "features/FieldValues.h"
#include "files/ConfigFile.h"
#include "series/Plan.h"

namespace tuva::testing {
namespace {

// What a user gives, written once and turned into each front end's words.
struct Given {
  std::vector<std::string> capcodes = {};  // "SLOT=FIRST[:STEP]"; the window types FIRST and STEP
  std::optional<int> count = {};           // the window's number of boards is 0 when none is given
  std::string list = {};                   // the CSV list's lines, written to a file; empty: none
  bool keep = false;                       // --keep capcodes, "Keep the board's capcodes"
  bool firmware = false;                   // a file that is not firmware
  bool serviceMode = true;
  std::vector<std::string> ports = {"/dev/ttyS0"};
  bool portsOfWindow = false;  // the window's Pager > Port, not its typed ports
  std::string tbl = "template.tbl";
};

struct Row {
  std::string name;
  Given given;
  std::string expected;         // both front ends; a plan, then the records prepared for it
  std::string window = "same";  // the window's, when its words differ
  bool commandLine = true;      // false: the command line has no such input
};

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : ",") + part;
  return text;
}

std::string RefusalText(const series::PlanRefusal& refusal) {
  static const char* const kInputs[] = {"Template", "First", "Step",     "Count",
                                        "Ports",    "Keep",  "Firmware", "List"};
  return std::string(kInputs[static_cast<int>(refusal.input)]) + " " +
         std::to_string(refusal.index) + ": " + refusal.message;
}

class SeriesPlanParityTest : public WindowTest {
 protected:
  std::string Path(const std::string& name) {
    return cwd.file(QString::fromStdString(name)).toStdString();
  }

  void WriteFiles(const Given& given) {
    ASSERT_TRUE(SaveConfigFile(Path("template.tbl"), ConfigImage::StartupImage()).ok());
    ConfigImage longMode = ConfigImage::StartupImage();
    ASSERT_FALSE(ApplyFieldTexts(
        longMode, {{"capcode.address_mode", "Long"}, {"capcode.1.address", "2101249"}}));
    ASSERT_TRUE(SaveConfigFile(Path("long.tbl"), longMode).ok());
    std::ofstream(Path("list.csv"), std::ios::binary) << given.list;
    std::ofstream(Path("garbage.s19"), std::ios::binary) << "no firmware\n";
  }

  // tuvactl series with the options the row gives.
  std::string CommandLine(const Given& given) {
    std::vector<std::string> words = {"tuvactl", "series", Path(given.tbl)};
    for (const auto& capcode : given.capcodes) words.insert(words.end(), {"--capcode", capcode});
    if (given.count) words.insert(words.end(), {"--count", std::to_string(*given.count)});
    if (!given.list.empty()) words.insert(words.end(), {"--capcodes", Path("list.csv")});
    if (given.keep) words.insert(words.end(), {"--keep", "capcodes"});
    if (given.firmware) words.insert(words.end(), {"--firmware", Path("garbage.s19")});
    for (const auto& port : given.ports) words.insert(words.end(), {"--port", port});
    std::vector<const char*> argv;
    for (const auto& word : words) argv.push_back(word.c_str());
    const cli::CommandLine parsed =
        cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_TRUE(parsed.command) << parsed.output;
    try {
      return Outcome(series::BuildPlan(cli::SeriesPlanInputs(parsed.options)), "cli");
    } catch (const cli::UsageError& error) {
      return std::string("usage: ") + error.what();
    }
  }

  // The series window with its fields set as the row gives.
  std::string Window(const Given& given) {
    app::SeriesSettings settings(dialogs, cwd.path(), nullptr);
    const auto text = [&settings](const std::string& name, const std::string& value) {
      Named<QLineEdit>(settings, name.c_str())->setText(QString::fromStdString(value));
    };
    const auto check = [&settings](const std::string& name, bool on) {
      Named<QAbstractButton>(settings, name.c_str())->setChecked(on);
    };
    check("rbTemplateFile", true);
    text("edtTemplate", Path(given.tbl));
    for (const auto& capcode : given.capcodes) {
      const auto equals = capcode.find('=');
      const auto colon = capcode.find(':');
      const std::string slot = capcode.substr(0, equals);
      check("chkCount" + slot, true);
      text("edtFirst" + slot, capcode.substr(equals + 1, colon - equals - 1));
      text("edtStep" + slot, colon == std::string::npos ? "1" : capcode.substr(colon + 1));
    }
    Named<QSpinBox>(settings, "spnCount")->setValue(given.count.value_or(0));
    if (!given.list.empty()) text("edtCapcodeList", Path("list.csv"));
    check("chkKeepCapcodes", given.keep);
    if (given.firmware) text("edtFirmware", Path("garbage.s19"));
    app::MainWindowValues main;
    main.serviceMode = given.serviceMode;
    check(given.portsOfWindow ? "rbPortsOfWindow" : "rbPortsTyped", true);
    std::string typed;
    for (const auto& port : given.ports) typed += port + ", ";
    text("edtPorts", given.portsOfWindow ? "/dev/ttyS9" : typed);  // a typed port not chosen
    if (given.portsOfWindow) main.ports = given.ports;
    return Outcome(settings.Plan(main), "window");
  }

  // The plan (or the refusal), then the records prepared for the plan in a database of its own.
  std::string Outcome(std::variant<series::SeriesPlan, series::PlanRefusal> built,
                      const std::string& database) {
    if (const auto* refused = std::get_if<series::PlanRefusal>(&built))
      return RefusalText(*refused);
    auto& plan = std::get<series::SeriesPlan>(built);
    std::ostringstream text;
    text << "count " << plan.count << (plan.countFromList ? " from the list" : "") << ", ports "
         << Join(plan.ports) << ", counting";
    for (const auto& counting : plan.counting) {
      text << " " << counting.slot << "=" << counting.first << ":" << counting.step;
    }
    if (!plan.keep.empty()) text << ", keep " << Join(plan.keep);
    if (plan.list) text << ", list of " << plan.list->rows.size();
    EXPECT_EQ(plan.station, records::DefaultStation());
    const auto prepared = series::Prepare(
        Path(database + "-" + std::to_string(++databases_) + ".sqlite"), true, false, plan, {});
    const auto& ready = std::get<series::Prepared>(prepared);
    // A database of its own has handed out from none of the plan's progressions.
    EXPECT_EQ(ready.newProgressions.size(), plan.counting.size());
    if (ready.refusal) return text.str() + "; prepared: " + RefusalText(*ready.refusal);
    return text.str() + "; prepared: count " + std::to_string(plan.count);
  }

  int databases_ = 0;
};

TEST_F(SeriesPlanParityTest, BothFrontEndsMakeTheSamePlanOrRefuseTheSameInput) {
  const std::string twoRows = "capcode.1.address\n1500001\n1500002\n";
  const Row rows[] = {
      {"a port named twice is served once",
       {.capcodes = {"1=1500000:3"},
        .count = 2,
        .ports = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS0"}},
       "count 2, ports /dev/ttyS0,/dev/ttyS1, counting 1=1500000:3; prepared: count 2"},
      {"the main window's ports",
       {.capcodes = {"1=1500000"},
        .count = 1,
        .ports = {"/dev/ttyS0", "/dev/ttyS1"},
        .portsOfWindow = true},
       "count 1, ports /dev/ttyS0,/dev/ttyS1, counting 1=1500000:1; prepared: count 1"},
      {"no port typed",
       {.capcodes = {"1=1500000"}, .count = 1, .ports = {}},
       "Ports 0: Type the ports to program on, separated by commas.",
       "same",
       false},
      {"no port in Pager > Port",
       {.capcodes = {"1=1500000"}, .count = 1, .ports = {}, .portsOfWindow = true},
       "Ports 0: No serial port to look for boards on; choose one in Pager > Port or type the "
       "ports.",
       "same",
       false},
      {"the last slot, disabled in the template",
       {.capcodes = {"16=1500000"}, .count = 1},
       "First 16: capcode slot 16 is disabled in " + Path("template.tbl") +
           ": enable it with `tuvactl set " + Path("template.tbl") +
           " capcode.16.enabled=on`, or count another slot"},
      {"no count with a list: every row left",
       {.list = twoRows},
       "count 2 from the list, ports /dev/ttyS0, counting, list of 2; prepared: count 2"},
      {"a count of 0 with a list: every row left",
       {.count = 0, .list = twoRows},
       "count 2 from the list, ports /dev/ttyS0, counting, list of 2; prepared: count 2"},
      {"a count of exactly the rows left",
       {.count = 2, .list = twoRows},
       "count 2, ports /dev/ttyS0, counting, list of 2; prepared: count 2"},
      {"a count above the rows left",
       {.count = 3, .list = twoRows},
       "count 3, ports /dev/ttyS0, counting, list of 2; prepared: Count 0: the list " +
           Path("list.csv") + " has 2 rows left, fewer than the count 3"},
      {"a count of 0 without a list",
       {.capcodes = {"1=1500000"}, .count = 0},
       "Count 0: the count must be 1 or more"},
      {"no count without a list",
       {.capcodes = {"1=1500000"}},
       "usage: --count is required",
       "Count 0: the count must be 1 or more"},
      {"a slot's first capcode that is not a number",
       {.capcodes = {"2=15x"}, .count = 1},
       "usage: --capcode 2=15x: expected SLOT=FIRST or SLOT=FIRST:STEP",
       "First 2: Capcode slot 2: the first capcode and the step are whole numbers."},
      {"no capcode source",
       {.count = 1},
       "usage: --capcode is required (or --capcodes FILE.csv, or --keep capcodes)",
       "First 0: no capcode slot counts up: give one its first capcode"},
      {"the board's capcodes kept, and given by the list",
       {.count = 1, .list = twoRows, .keep = true},
       "List 0: capcode.1.address comes from the list and is kept from the board too: keep "
       "fewer fields or take it out of the list"},
      {"two slots that would meet one board past the count",
       {.capcodes = {"1=1500000", "2=1500002"}, .count = 2},
       "count 2, ports /dev/ttyS0, counting 1=1500000:1 2=1500002:1; prepared: count 2"},
      {"the other way round",
       {.capcodes = {"1=1500002", "2=1500000"}, .count = 2},
       "count 2, ports /dev/ttyS0, counting 1=1500002:1 2=1500000:1; prepared: count 2"},
      {"two slots that meet on the last board",
       {.capcodes = {"1=1500000", "2=1500002"}, .count = 3},
       "First 2: capcode slots 1 and 2 would both hand out capcode 1500002"},
      {"a slot that would hand out a list's capcode one board past the count",
       {.capcodes = {"2=1500000"}, .count = 1, .list = twoRows},
       "count 1, ports /dev/ttyS0, counting 2=1500000:1, list of 2; prepared: count 1"},
      {"a run whose middle capcodes the board cannot store",
       {.capcodes = {"1=2031000"}, .count = 100000, .tbl = "long.tbl"},
       "First 1: capcode slot 1: capcode 2031615 of board 616: Capcode 2031615 has no form the "
       "board can store in Long address mode !"},
      {"firmware that is not firmware",
       {.capcodes = {"1=1500000"}, .count = 1, .firmware = true},
       "Firmware 0: " + Path("garbage.s19") + ": line 1: not an S-record"},
      {"firmware outside service mode",
       {.capcodes = {"1=1500000"}, .count = 1, .firmware = true, .serviceMode = false},
       "Firmware 0: " + Path("garbage.s19") + ": line 1: not an S-record",
       "Firmware 0: Firmware is put on boards in service mode only: press Ctrl+Shift+S in the "
       "main window and give its password, or clear the firmware file."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFiles(row.given);
    const std::string window = row.window == "same" ? row.expected : row.window;
    if (row.commandLine) {
      EXPECT_EQ(CommandLine(row.given), row.expected);
    }
    EXPECT_EQ(Window(row.given), window);
  }
}

}  // namespace
}  // namespace tuva::testing
