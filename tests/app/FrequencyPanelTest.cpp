// The frequency panel: PLL words from a typed frequency, the band, the refusals and the polarity.
#include "AppTestSupport.h"

namespace tuva::testing {
namespace {

class FrequencyPanelTest : public WindowTest {
 protected:
  app::FrequencyPanel& panel() { return *window().frequency(); }
  void ChooseBand(int band) {
    panel().cboDft()->setCurrentIndex(band);
    panel().cboDftClick();
  }
};

TEST_F(FrequencyPanelTest, FrequencyOnTheRasterBecomesThePllWords) {
  Open();
  Type(panel().edtFreq(), "4620125");
  EXPECT_EQ(ReadPlln(image()), 0x0044D880u);
  EXPECT_EQ(ReadPllr(image()), 0x000300u);
  EXPECT_EQ(panel().lblPLLN()->text(), "0044D880");
  EXPECT_EQ(panel().edtFreq()->text(), "4620125");
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(FrequencyPanelTest, RefusalsKeepTheImageAndTheTypedText) {
  Open();
  const ConfigImage before = image();
  struct Case {
    const char* typed;
    const char* message;
  };
  const Case cases[] = {
      {"4620100", "Channel Spacing Error!"},
      {"3999999", "Frequency setting error( 4000000 < = Frequency < = 4990000 )"},
      {"4620.12", kFrequencyNotWholeMessage.data()},
  };
  for (const Case& c : cases) {
    Type(panel().edtFreq(), c.typed);
    ASSERT_FALSE(dialogs.boxes.empty()) << c.typed;
    EXPECT_EQ(dialogs.boxes.back().caption, "Vantel");
    EXPECT_EQ(dialogs.boxes.back().icon, MessageIcon::Exclamation);
    EXPECT_EQ(dialogs.boxes.back().text, c.message);
    EXPECT_EQ(panel().edtFreq()->text(), c.typed);
    EXPECT_EQ(window().focusWidget(), panel().edtFreq());
    EXPECT_EQ(image(), before);
    panel().edtFreq()->clear();  // an empty edit may be left: the stored frequency comes back
    window().FocusSink();
    EXPECT_EQ(panel().edtFreq()->text(), "4620000");
  }
}

TEST_F(FrequencyPanelTest, ALetterIsSwallowedWithAWarning) {
  Open();
  Type(panel().edtFreq(), "46a2", /*pressEnter=*/false);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "Vantel");
  EXPECT_EQ(dialogs.boxes[0].text, "Please insert a numeric !");
  EXPECT_EQ(panel().edtFreq()->text(), "462");
  EXPECT_EQ(panel().edtFreq()->maxChars(), 7);
}

TEST_F(FrequencyPanelTest, BandTwoHasItsOwnRaster) {
  Open();
  ChooseBand(2);
  EXPECT_EQ(image().byte(11), 2);
  EXPECT_EQ(panel().lblCHANNEL()->text(), "9.375KHz");
  EXPECT_EQ(panel().lblMULT()->text(), "3");
  EXPECT_EQ(panel().edtFreq()->text(), "2780125");
  Type(panel().edtFreq(), "2800001");  // 100 Hz off the 9375 Hz raster
  EXPECT_EQ(dialogs.boxes.back().text, "Channel Spacing Error!");
  panel().edtFreq()->clear();
  window().FocusSink();
  dialogs.boxes.clear();
  Type(panel().edtFreq(), "2800375");
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(panel().edtFreq()->text(), "2800375");
}

}  // namespace
}  // namespace tuva::testing
