// Passwords and locks: the lock bytes, the function-command passwords and the read password.
#include "FeatureEditorsTestSupport.h"

namespace tuva::testing {
namespace {

using SecurityPanelTest = FeatureEditorsTest;

TEST_F(SecurityPanelTest, LockBytesTakeZeroTo255) {
  Open();
  Type(security().edtORC, "255");
  EXPECT_EQ(image().byte(0x006), 0xFF);
  EXPECT_TRUE(dialogs.boxes.empty());

  for (const char* text : {"256", "-3"}) {
    TypeAfresh(security().edtORC, text);
    EXPECT_EQ(LastBox().caption, "Vantel");
    EXPECT_EQ(LastBox().text, "Please insert a number between 0 and 255 !");
    EXPECT_EQ(image().byte(0x006), 0xFF);
    EXPECT_EQ(security().edtORC->text(), "255");
    EXPECT_EQ(window().focusWidget(), security().edtORC);
  }
  TypeAfresh(security().edtORC, "abc");
  EXPECT_EQ(LastBox().caption, "FVantel");
  EXPECT_EQ(LastBox().text, "Please insert a numeric!");

  TypeAfresh(security().edtSLC, "12");
  EXPECT_EQ(image().byte(0x1F3), 12);
  Type(security().edtSLC, "");
  EXPECT_EQ(image().byte(0x1F3), 12);
  EXPECT_EQ(security().edtSLC->text(), "12");
}

TEST_F(SecurityPanelTest, FunctionPasswordsAreCountedAndEndedByAZeroWhenShort) {
  Open();
  image().setByte(0x7D1, 0x03);
  Type(security().edtOPW1, "ABCDEFGHIJ");
  EXPECT_EQ(image().byte(0x7C6), 10);
  EXPECT_EQ(Bytes(0x7C7, 10), (std::vector<int>{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'}));
  EXPECT_EQ(image().byte(0x7D1), 0x03);

  image().setByte(0x7D6, 0x77);
  Type(security().edtOPW2, "xyz");
  EXPECT_EQ(Bytes(0x7D1, 6), (std::vector<int>{3, 'x', 'y', 'z', 0x00, 0x77}));

  // The edits are not emptied on entry: leaving without typing keeps the password.
  Type(security().edtOPW2, "");
  EXPECT_EQ(security().edtOPW2->text(), "xyz");

  image().setByte(0x7C6, 0xFF);  // an erased board
  window().RefreshAll();
  EXPECT_EQ(security().edtOPW1->text(), "ABCDEFGHIJ");
}

TEST_F(SecurityPanelTest, TheReadPasswordIsStoredAsLeftEvenWhenEmpty) {
  Open();
  Type(security().edtReadPass, "0123456789");
  EXPECT_EQ(Bytes(0x83C, 11),
            (std::vector<int>{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0}));
  EXPECT_EQ(image().byte(0x847), 0xFF);

  Type(security().edtReadPass, "1.2a");
  EXPECT_EQ(LastBox().caption, "Vantel");
  EXPECT_EQ(LastBox().text, "Please insert a numeric !");
  EXPECT_EQ(Bytes(0x83C, 4), (std::vector<int>{'1', '.', '2', 0}));

  // Entering and leaving without typing removes the password.
  Type(security().edtReadPass, "");
  EXPECT_EQ(image().byte(0x83C), 0x00);

  for (int i = 0; i < 11; ++i) image().setByte(0x83C + i, 0xFF);
  for (int i = 0; i < 10; ++i) image().setByte(0x83C + i, '5');
  window().RefreshAll();
  EXPECT_EQ(security().edtReadPass->text(), "5555555555");
}

TEST_F(SecurityPanelTest, TestModeShowsOnlyWhatTheUserClicked) {
  Open();
  security().CheckBox7->click();
  EXPECT_EQ(image().byte(0x008), 0x00);
  image().setByte(0x008, 0xFF);
  window().RefreshAll();
  EXPECT_TRUE(security().CheckBox7->isChecked());
}

}  // namespace
}  // namespace tuva::testing
