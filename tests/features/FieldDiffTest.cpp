#include "features/FieldDiff.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "features/FieldValues.h"

namespace tuva {
namespace {

// The start-up configuration with `entries` typed into their editors (or, for fields no editor
// shows, their bytes), as a technician would change it.
ConfigImage Changed(const std::vector<std::pair<std::string, std::string>>& entries) {
  ConfigImage image = ConfigImage::StartupImage();
  for (const auto& [name, text] : entries) {
    const Field* field = FindField(name);
    if (field == nullptr) {
      ADD_FAILURE() << "no field " << name;
      continue;
    }
    EXPECT_TRUE(SetFieldText(image, *field, text).stored) << name << "=" << text;
  }
  return image;
}

TEST(FieldDiff, EditorFieldsComeFirstInTheWindowsOrderAndDerivedOnesFoldByFamily) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> entries;
    std::vector<std::string> rows;
    std::string count;
  };
  const Case cases[] = {
      {{{"capcode.1.address", "1234580"}},
       {"capcode.1.address", "capcode.group_map"},
       "1 field differs (and the group map that follows from it)"},
      // The three pages in turn, whatever the order of the table's offsets.
      {{{"prompt.2", "hello"}, {"serial.baud", "19200"}, {"capcode.1.address", "1234580"}},
       {"capcode.1.address", "serial.baud", "prompt.2", "capcode.group_map"},
       "3 fields differ (and the group map that follows from them)"},
      {{{"serial.time_update", "on"}},
       {"serial.time_update", "serial.time_update.copies"},
       "1 field differs (and the time update copies that follow from it)"},
      // Bytes no editor shows come after the editors' fields.
      {{{"raw.0x0E0", "31 30 30 31 32 33 34 35 36 37 01 02 03 04 05 06"},
        {"security.test_mode", "on"}},
       {"security.test_mode", "raw.0x0E0"},
       "2 fields differ"},
      {{{"capcode.group_map.copy.3", "01 80"}}, {"capcode.group_map"}, "The group map differs"},
  };
  const ConfigImage startup = ConfigImage::StartupImage();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    const ReadableDiff diff = ReadableDifferences(startup, Changed(c.entries));
    std::vector<std::string> rows;
    for (const DiffRow& row : diff.rows) rows.push_back(row.name);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(DiffCount(diff), c.count);
  }

  const ReadableDiff capcode =
      ReadableDifferences(startup, Changed({{"capcode.1.address", "1234580"}}));
  const DiffRow& map = capcode.rows.at(1);
  EXPECT_EQ(map.label, "Capcode group map (8 copies)");
  EXPECT_EQ(map.fields.size(), 8u);
  EXPECT_EQ(std::make_pair(map.a, map.b), std::make_pair(std::string("0100"), std::string("0300")));
  EXPECT_TRUE(map.derived);
  EXPECT_EQ(DiffCount(ReadableDifferences(startup, startup)), "");
}

// Every field an editor shows has its place in the window's order, or folds into a family; a
// field added to the table without one would drop to the end of a comparison.
TEST(FieldDiff, EveryEditorFieldHasItsPlace) {
  std::set<std::string> placed(WindowFieldOrder().begin(), WindowFieldOrder().end());
  EXPECT_EQ(placed.size(), WindowFieldOrder().size());
  for (const std::string& name : placed) EXPECT_NE(FindField(name), nullptr) << name;
  for (const Field& field : ConfigFields()) {
    if (field.control.empty() || placed.contains(field.name)) continue;
    ConfigImage other = ConfigImage::StartupImage();
    other.setByte(field.offset, static_cast<std::uint8_t>(other.byte(field.offset) ^ field.mask));
    const ReadableDiff diff = ReadableDifferences(ConfigImage::StartupImage(), other);
    ASSERT_EQ(diff.rows.size(), 1u) << field.name;
    EXPECT_TRUE(diff.rows[0].derived) << field.name << " has no place in the window's order";
  }
}

}  // namespace
}  // namespace tuva
