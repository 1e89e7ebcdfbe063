#include "features/FieldTable.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

#include "features/SerialOutput.h"

namespace tuva {
namespace {

std::vector<std::string> Names(const std::vector<const Field*>& fields) {
  std::vector<std::string> names;
  for (const Field* field : fields) names.push_back(field->name);
  return names;
}

TEST(FieldTable, RowsLieInsideTheImageAndCoverEveryBitOnce) {
  std::array<unsigned, kImageSize> covered{};
  std::set<std::string> names;
  for (const Field& field : ConfigFields()) {
    ASSERT_GE(field.width, 1u) << field.name;
    ASSERT_LE(field.offset + field.width, kImageSize) << field.name;
    EXPECT_TRUE(names.insert(field.name).second) << "duplicate " << field.name;
    EXPECT_TRUE(field.mask == 0xFF || field.width == 1) << field.name;
    for (std::size_t i = field.offset; i < field.offset + field.width; ++i) {
      EXPECT_EQ(covered[i] & field.mask, 0u) << field.name << " overlaps at " << i;
      covered[i] |= field.mask;
    }
  }
  for (std::size_t i = 0; i < kImageSize; ++i) EXPECT_EQ(covered[i], 0xFFu) << "byte " << i;
}

TEST(FieldTable, NamesTheFieldsOfTheBoard) {
  const ConfigImage image = ConfigImage::StartupImage();
  const auto text = [&](std::string_view name) {
    const Field* field = FindField(name);
    EXPECT_NE(field, nullptr) << name;
    return field ? field->Text(image) : std::string();
  };
  EXPECT_EQ(FindField("serial.baud")->offset, 0x003u);
  EXPECT_EQ(FindField("serial.baud")->control, "ComboBox5");
  EXPECT_EQ(text("serial.baud"), "9600");
  EXPECT_EQ(text("serial.parity"), "none");
  EXPECT_EQ(text("serial.time_update"), "off");
  EXPECT_EQ(text("outputs.1.period"), "1");
  EXPECT_EQ(text("outputs.pre_scaler"), "0.1 sec");
  EXPECT_EQ(text("capcode.1.address"), "1234567");
  EXPECT_EQ(text("capcode.2.address"), "1234560");
  EXPECT_EQ(text("capcode.1.enabled"), "on");
  EXPECT_EQ(text("capcode.3.enabled"), "off");
  EXPECT_EQ(text("capcode.5.function_code"), "78;10;00;00");
  EXPECT_EQ(text("capcode.address_mode"), "Short");
  EXPECT_EQ(text("pll.band"), "400-499MHz(12.5K)");
  EXPECT_EQ(text("pll.r"), "000300 (12.5KHz)");
  EXPECT_EQ(text("pll.n"), "0044D800 (462.0000 MHz)");
  EXPECT_EQ(text("receiver.polarity"), "Normal");
  EXPECT_EQ(text("prompt.10"), "       < 10 >");
  EXPECT_EQ(text("version"), "FLEX  V02.41");
  EXPECT_EQ(text("security.out_of_range_timeout"), "5");
  EXPECT_EQ(FindField("capcode.16.header")->offset, 0x206u + 30 * 15);
  EXPECT_EQ(FindField("capcode.16.header")->control, "edtHeader3");
  EXPECT_EQ(FindField("outputs.9.power_up")->mask, 0x10);
  EXPECT_EQ(FindField("no.such.field"), nullptr);
}

TEST(FieldTable, EveryRowShowsAnErasedBoard) {
  ConfigImage erased;
  for (std::size_t i = 0; i < kImageSize; ++i) erased.setByte(i, 0xFF);
  for (const Field& field : ConfigFields()) {
    EXPECT_NO_THROW((void)field.Text(erased)) << field.name;
  }
  EXPECT_EQ(FindField("serial.baud")->Text(erased), "? (0xFF)");
  EXPECT_EQ(FindField("capcode.1.header")->Text(erased).size(), 30u * 3 - 1);
  std::string tenErased;
  for (int i = 0; i < 10; ++i) tenErased += "\\xFF";
  EXPECT_EQ(FindField("security.read_password")->Text(erased), tenErased);
  EXPECT_EQ(FindField("security.function_password.1")->Text(erased), tenErased);
}

TEST(FieldTable, DiffNamesExactlyTheFieldChanged) {
  const ConfigImage a = ConfigImage::StartupImage();
  EXPECT_TRUE(DiffImages(a, a).empty());

  ConfigImage b = a;
  StoreBaudItem(b, 4);
  EXPECT_EQ(Names(DiffImages(a, b)), std::vector<std::string>{"serial.baud"});

  b = a;
  b.setByte(0x206 + 30 * 2 + 29, 0x55);  // last header byte of capcode 3
  EXPECT_EQ(Names(DiffImages(a, b)), std::vector<std::string>{"capcode.3.header"});

  b = a;
  b.setByte(0x037, a.byte(0x037) ^ 0x41);  // time-update bit and one pass-through bit
  EXPECT_EQ(Names(DiffImages(a, b)),
            (std::vector<std::string>{"raw.0x037", "serial.time_update.bit"}));

  b = a;
  b.setByte(0xFFF, 0x12);
  b.setByte(3000, 0x00);
  EXPECT_EQ(Names(DiffImages(a, b)), (std::vector<std::string>{"raw.0xBB0", "image.sum"}));
  const Field* sum = FindField("image.sum");
  EXPECT_EQ(sum->Hex(b), "FF 12");
}

}  // namespace
}  // namespace tuva
