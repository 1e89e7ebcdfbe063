// Source prompts: the slot format, alignment, the source modes and "Auto Cap.".
#include "FeatureEditorsTestSupport.h"
#include "app/CapcodePanel.h"

#include <QMouseEvent>

namespace tuva::testing {
namespace {

class PromptsPanelTest : public FeatureEditorsTest {
 protected:
  app::FieldEdit* Prompt(int index) { return prompts().edtPrompt[index]; }
  static std::size_t Slot(int index) { return 0x863 + 20 * index; }
  int Lead(int index) { return image().byte(Slot(index)) & 0x0F; }
  QString Stored(int index) {
    QString text;
    for (int i = 0; i < image().byte(Slot(index) + 1); ++i)
      text += QChar(image().byte(Slot(index) + 2 + i));
    return text;
  }
  void EnablePrompts() {
    window().ShowPage(Named<QWidget>(window(), "grpSrc"));
    Choose(prompts().cboSource, 1);
  }
};

TEST_F(PromptsPanelTest, LeadingSpacesGoToTheCountAndTheRestToTheText) {
  Open();
  EnablePrompts();
  image().setByte(Slot(0), 0xA0);  // the high nibble is the firmware's
  Enter(Prompt(0), "   ABC");
  EXPECT_EQ(image().byte(Slot(0)), 0xA3);
  EXPECT_EQ(Stored(0), "ABC");
  EXPECT_EQ(Prompt(0)->text(), "   ABC");

  Enter(Prompt(1), QString(17, ' ') + "AB");
  EXPECT_EQ(Lead(1), 15);
  EXPECT_EQ(Stored(1), "  AB");
  window().RefreshAll();
  EXPECT_EQ(Prompt(1)->text(), QString(17, ' ') + "AB");

  Enter(Prompt(2), "");
  EXPECT_EQ(Lead(2), 0);
  EXPECT_EQ(Stored(2), "");
  Enter(Prompt(3), "   " + QString(18, 'X'));
  EXPECT_EQ(Stored(3), QString(18, 'X'));
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(PromptsPanelTest, MoreThanEighteenCharactersAfterTheSpacesAreRefused) {
  Open();
  EnablePrompts();
  const ConfigImage before = image();
  for (const QString& text : {"  " + QString(19, 'Y'), "ABC" + QString(16, ' ')}) {
    dialogs.boxes.clear();
    Enter(Prompt(4), text);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(LastBox().caption, "KX40B_OTA");
    EXPECT_EQ(LastBox().text, "Can not exceed 18 characters exclude left space!");
    EXPECT_EQ(image(), before);
    EXPECT_EQ(Prompt(4)->text(), text);  // left for the user to shorten
    EXPECT_EQ(window().focusWidget(), Prompt(4));
    Prompt(4)->setText("ok");
  }
}

// Moving the pointer onto the bare page ends an entry; a refused one that the user has not yet
// changed keeps the focus, instead of bringing its message up on every move.
TEST_F(PromptsPanelTest, ThePointerDoesNotRepeatARefusal) {
  Open();
  EnablePrompts();
  const auto pointerOverPage = [this] {
    const QPoint bare(4, 4);
    ASSERT_EQ(Named<QWidget>(window(), "grpSrc")->childAt(bare), nullptr);
    QMouseEvent move(QEvent::MouseMove, bare, Named<QWidget>(window(), "grpSrc")->mapToGlobal(bare),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Named<QWidget>(window(), "grpSrc"), &move);
  };
  Enter(Prompt(5), QString(19, 'Z'));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  pointerOverPage();
  pointerOverPage();
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(window().focusWidget(), Prompt(5));

  Prompt(5)->setText("SHORT");
  pointerOverPage();
  EXPECT_EQ(window().focusWidget(), Named<QLineEdit>(window(), "edtNull"));
  EXPECT_EQ(Stored(5), "SHORT");
  EXPECT_EQ(dialogs.boxes.size(), 1u);
}

TEST_F(PromptsPanelTest, AlignmentWorksOnThePromptLeftLast) {
  Open();
  EnablePrompts();
  Prompt(0)->setText("ABCDE");
  prompts().btnCenterClick();  // nothing left yet: the first prompt
  EXPECT_EQ(Prompt(0)->text(), QString(8, ' ') + "ABCDE");
  EXPECT_EQ(window().focusWidget(), Prompt(0));
  window().FocusSink();
  EXPECT_EQ(Lead(0), 8);

  Enter(Prompt(6), "ABCDE");
  prompts().btnRightClick();
  window().FocusSink();
  EXPECT_EQ(Lead(6), 15);
  EXPECT_EQ(Stored(6), " ABCDE");
}

TEST_F(PromptsPanelTest, AutoCapLoadsTheCapcodesAsCentredPromptsAfterAsking) {
  Open();
  window().ShowPage(Named<QWidget>(window(), "grpSrc"));
  dialogs.yesNo = {false};
  Choose(prompts().cboSource, 2);
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0].caption, "Warning");
  EXPECT_EQ(dialogs.questions[0].text,
            "The setting will load capcodes as prompts ! \nAre you sure load capcodes ?");
  EXPECT_EQ(prompts().cboSource->currentIndex(), 0);
  EXPECT_EQ(image().byte(0x85E), 0);
  EXPECT_FALSE(Prompt(0)->isEnabled());

  dialogs.yesNo = {true};
  Choose(prompts().cboSource, 2);
  EXPECT_EQ(image().byte(0x85E), 2);
  EXPECT_EQ(Prompt(0)->text(), "      <1234567>");
  EXPECT_EQ(Lead(0), 6);
  EXPECT_EQ(Stored(0), "<1234567>");
  // The last prompt is stored centred too, though its edit has not been left.
  EXPECT_EQ(Prompt(15)->text(), "      <0000001>");
  EXPECT_EQ(Lead(15), 6);
  EXPECT_EQ(Stored(15), "<0000001>");
  EXPECT_TRUE(Prompt(15)->isEnabled());
}

TEST_F(PromptsPanelTest, AutoCapFollowsACapcodeEntryOnTheOtherPage) {
  Open();
  window().ShowPage(Named<QWidget>(window(), "grpSrc"));
  dialogs.yesNo = {true};
  Choose(prompts().cboSource, 2);
  window().ShowPage(Named<QWidget>(window(), "grpNormal"));
  Type(window().capcodes()->edit(2), "42");
  EXPECT_EQ(Prompt(2)->text(), "      <0000042>");
  EXPECT_EQ(Stored(2), "<0000042>");
  EXPECT_EQ(Lead(2), 6);
  EXPECT_EQ(prompts().lastPrompt(), 2);
}

TEST_F(PromptsPanelTest, DisableTurnsThePromptsOffAndKeepsTheirSlots) {
  Open();
  EnablePrompts();
  EXPECT_EQ(image().byte(0x85E), 1);
  EXPECT_TRUE(Prompt(7)->isEnabled());
  const std::vector<int> slots = Bytes(Slot(0), 16 * 20);
  Choose(prompts().cboSource, 0);
  EXPECT_EQ(image().byte(0x85E), 0);
  for (int i = 0; i < 16; ++i) EXPECT_FALSE(Prompt(i)->isEnabled());
  EXPECT_EQ(Bytes(Slot(0), 16 * 20), slots);
}

TEST_F(PromptsPanelTest, AnErasedSlotShowsNoMoreThanItsOwnBytes) {
  Open();
  for (int i = 0; i < 20; ++i) image().setByte(Slot(0) + i, 0xFF);
  for (int i = 0; i < 18; ++i) image().setByte(Slot(0) + 2 + i, 'A' + i);
  image().setByte(Slot(1), 'Z');
  window().RefreshAll();
  EXPECT_EQ(Prompt(0)->text(), QString(15, ' ') + "ABCDEFGHIJKLMNOPQR");

  // A loaded image brings its own mode without the question.
  image().setByte(0x85E, 2);
  {
    FlagRaiser loading(window().guards().imageLoad);
    window().RefreshAll();
  }
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_EQ(prompts().cboSource->currentIndex(), 2);
  EXPECT_TRUE(Prompt(0)->isEnabled());
}

}  // namespace
}  // namespace tuva::testing
