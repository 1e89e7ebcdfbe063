// The core's setters and the window's editors: the same text entered either way gives the same
// 4100 bytes, and a refused text the same message.
#include <QCheckBox>

#include "FeatureEditorsTestSupport.h"
#include "app/PairEdit.h"
#include "features/FieldValues.h"

namespace tuva::testing {
namespace {

struct Case {
  std::string field;
  std::string text;        // as the command line gives it
  std::string windowText;  // as the window's editor takes it, when that differs
  std::string message;     // empty: accepted
  std::vector<std::pair<std::string, std::string>> before = {};
};

const std::vector<std::pair<std::string, std::string>> kLong = {{"capcode.address_mode", "Long"},
                                                                {"capcode.1.address", "2101249"}};

// The edits of the serial output panel take entries while the output is on.
const std::vector<std::pair<std::string, std::string>> kSerialOn = {{"serial.enable", "on"}};

// The prompt edits take entries in every prompt mode but Disable.
const std::vector<std::pair<std::string, std::string>> kPromptsOn = {
    {"prompt.source_mode", "Backward"}};

const Case kCases[] = {
    {"capcode.4.address", "1500000", "", ""},
    {"capcode.4.address", "15x", "", "Please insert a numeric!"},
    {"capcode.4.address", "2031616", "", "Please insert a number between 0000007 to 2031615"},
    {"capcode.1.address", "3223326721", "", "", {{"capcode.address_mode", "Long"}}},
    {"capcode.1.address",
     "4291000001",
     "",
     "Please insert a number between 0000007 to 4291000000",
     {{"capcode.address_mode", "Long"}}},
    {"capcode.7.address", "0000077", "", "", {{"prompt.source_mode", "Auto Cap."}}},
    {"capcode.1.enabled", "off", "", "", kLong},
    {"capcode.address_mode", "Short", "", "", kLong},
    {"pll.n", "499.01", "4990100", "Frequency setting error( 4000000 < = Frequency < = 4990000 )"},
    {"pll.n", "462.013", "4620130", "Channel Spacing Error!"},
    {"serial.message_delay", "65001", "", "Please insert a number between 0 and 65000 !",
     kSerialOn},
    {"outputs.3.period", "30", "", "Please insert a number between 0 and 25.5"},
    {"prompt.source_mode", "Auto Cap.", "", ""},
    {"prompt.source_mode",
     "Auto Cap.",
     "",
     "",
     {{"prompt.source_mode", "Backward"}, {"capcode.16.address", "bytes:40 00 01"}}},
    {"prompt.5", "1234567890123456789", "", "Can not exceed 18 characters exclude left space!",
     kPromptsOn},
    {"security.sequential_lock", "256", "", "Please insert a number between 0 and 255 !"},
    {"security.read_password", "12a", "", "Please insert a numeric !"},
};

// Stands for the list box's item after the one it shows.
constexpr std::string_view kNextItem = "(next item)";

// A value for every field that has an editor in the window, other than the start-up one.
std::vector<Case> EveryEditorField() {
  const ConfigImage start = ConfigImage::StartupImage();
  std::vector<Case> cases;
  for (const Field* field : SettableFields()) {
    const std::string now = GetFieldText(start, *field);
    std::string text;
    switch (field->kind) {
      case FieldKind::PlainFlag:
      case FieldKind::InvertedFlag:
      case FieldKind::Bit:
        if (!field->control.empty()) text = now == "on" ? "off" : "on";
        break;
      case FieldKind::CapcodeRecord:
        text = std::to_string(1000 + field->offset);
        break;
      case FieldKind::PairString:
        text = "0D;0A";
        break;
      case FieldKind::FunctionCode:
        text = "77;10;00;01";
        break;
      case FieldKind::Period:
        text = "1.2";
        break;
      case FieldKind::Number:
        text = field->name.starts_with("security.") ? "17" : kNextItem;
        break;
      case FieldKind::MessageDelay:
        text = "300";
        break;
      case FieldKind::CountedText:
        text = "ab12";
        break;
      case FieldKind::ZeroText:
        if (!field->control.empty()) text = "12.5";
        break;
      case FieldKind::PromptSlot:
        text = "  Hello";
        break;
      case FieldKind::BaudCode:
      case FieldKind::Parity:
      case FieldKind::PreScaler:
      case FieldKind::SourceMode:
      case FieldKind::Band:
      case FieldKind::Polarity:
      case FieldKind::AddressMode:
        text = kNextItem;
        break;
      case FieldKind::PllWord:
        if (field->name == "pll.n") cases.push_back({field->name, "462.025", "4620250", ""});
        break;
      default:
        break;
    }
    if (!text.empty()) cases.push_back({field->name, text, "", "", {}});
  }
  for (Case& c : cases) {
    c.before = {{"serial.enable", "on"}, {"prompt.source_mode", "Backward"}};
    if (c.field == "serial.enable") c.before.clear();
  }
  return cases;
}

class FieldEntryParityTest : public FeatureEditorsTest {
 protected:
  void Load(const ConfigImage& start) {
    // A refused entry keeps the focus until its text changes; an empty text lets it go.
    if (auto* refused = qobject_cast<QLineEdit*>(window().focusWidget())) refused->clear();
    window().FocusSink();
    image() = start;
    {
      FlagRaiser loading(window().guards().imageLoad);
      window().RefreshAll();
    }
    dialogs.boxes.clear();
  }

  // The user's entry in the field's own control.
  void EnterInWindow(const Field& field, const QString& text) {
    QWidget* control = window().findChild<QWidget*>(QString::fromStdString(field.control));
    ASSERT_NE(control, nullptr) << field.control;
    // The capcode output strings show four capcodes at a time: the range of this one first.
    for (std::string_view shared : {"edtHeader", "edtTrailer", "edtTimeout", "edtFC", "chkOpCmd"}) {
      if (field.control.starts_with(shared)) {
        Choose(window().findChild<QComboBox*>("ComboBox1"),
               (std::stoi(field.name.substr(8)) - 1) / 4);
      }
    }
    if (auto* box = qobject_cast<QComboBox*>(control)) {
      Choose(box, box->findText(text));
    } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
      // A box the refill leaves alone (test mode) may show the state already: click it twice.
      if (check->isChecked() == (text == "on")) check->setChecked(text != "on");
      check->setChecked(text == "on");
      window().CollectCapcodeStrings();
    } else if (auto* pairs = qobject_cast<app::PairEdit*>(control)) {
      pairs->SetPairsText(text);
      window().CollectCapcodeStrings();
    } else {
      auto* edit = qobject_cast<QLineEdit*>(control);
      edit->setFocus(Qt::MouseFocusReason);
      edit->selectAll();
      edit->insert(text);  // pasted over what it showed: the whole text at once
      window().FocusSink();
    }
  }
};

TEST_F(FieldEntryParityTest, TheWindowsEditorAndTheSetterWriteTheSameBytesAndRefuseAlike) {
  Open();
  dialogs.yesNo.assign(100, true);
  std::vector<Case> cases(std::begin(kCases), std::end(kCases));
  for (Case& c : EveryEditorField()) cases.push_back(std::move(c));
  for (Case& c : cases) {
    SCOPED_TRACE(c.field + "=" + c.text);
    const Field& field = *FindField(c.field);
    ConfigImage start = ConfigImage::StartupImage();
    ASSERT_FALSE(ApplyFieldTexts(start, c.before));
    Load(start);
    if (c.text == kNextItem) {
      auto* box = window().findChild<QComboBox*>(QString::fromStdString(field.control));
      c.text = box->itemText((box->currentIndex() + 1) % box->count()).toStdString();
    }
    const ConfigImage loaded = image();
    ConfigImage core = loaded;
    const EntryResult result = SetFieldText(core, field, c.text);
    EnterInWindow(
        field, QString::fromStdString(std::string(c.windowText.empty() ? c.text : c.windowText)));
    EXPECT_EQ(result.message, c.message);
    if (c.message.empty()) {
      EXPECT_TRUE(dialogs.boxes.empty());
      EXPECT_TRUE(!(core == loaded)) << "nothing changed";
    } else {
      ASSERT_EQ(dialogs.boxes.size(), 1u);
      EXPECT_EQ(dialogs.boxes[0].text.toStdString(), c.message);
      EXPECT_EQ(dialogs.boxes[0].caption.toStdString(),
                result.plain() ? app::kAppTitle.toStdString() : result.caption);
    }
    for (const Field* differing : DiffImages(core, image())) {
      ADD_FAILURE() << differing->name << ": set " << differing->Hex(core) << ", window "
                    << differing->Hex(image());
    }
  }
}

}  // namespace
}  // namespace tuva::testing
