#include "app/SerialOutputPanel.h"

#include <QEvent>

#include "app/CapcodePanel.h"
#include "app/CapcodeStringsPanel.h"
#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "features/FeatureLayout.h"
#include "features/FlagCodec.h"
#include "features/SerialOutput.h"

namespace tuva::app {
namespace {

constexpr int kDelayChars = 5;

// Selects `item`, or nothing when the image names no item; no handler runs.
void Select(QComboBox* box, std::optional<int> item, bool keepOnUnknown) {
  if (item)
    box->setCurrentIndex(*item);
  else if (!keepOnUnknown)
    box->setCurrentIndex(-1);
}

void SetCaptionColour(QWidget* box, std::uint32_t rgb) {
  QPalette palette = box->palette();
  const QColor colour(static_cast<QRgb>(rgb));
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    palette.setColor(group, QPalette::WindowText, colour);
  box->setPalette(palette);
}

}  // namespace

SerialOutputPanel::SerialOutputPanel(FeatureEditors& editors, QWidget* page,
                                     QGroupBox* outputFeatures)
    : QObject(page), editors_(editors) {
  // "Serial Out Enable" stands outside grpPara: it switches the panel and stays usable itself.
  chkCtl[5] = MakeCheckBox(page, QStringLiteral("chkCtl5"), QStringLiteral("Serial Out Enable"), 12,
                           3, 150, 19, 5);
  BuildParameters(page);
  chkCtl[0] = MakeCheckBox(outputFeatures, QStringLiteral("chkCtl0"),
                           QStringLiteral("Fun. Cmd. Checksum"), 8, 16, 150, 19, 0);
  chkCtl[1] = MakeCheckBox(outputFeatures, QStringLiteral("chkCtl1"),
                           QStringLiteral("Fun. Cmd. Enable"), 164, 16, 150, 19, 1);

  for (QCheckBox* box : chkCtl) {
    const int tag = TagOf(box);
    connect(box, &QCheckBox::toggled, this, [this, tag] { chkCtl0Click(tag); });
  }
  connect(ComboBox5, &QComboBox::activated, this, [this] { ComboBox5Click(); });
  connect(ComboBox2, &QComboBox::activated, this, [this] { ComboBox2Click(); });
  for (QComboBox* box : {ComboBox3, ComboBox4})
    connect(box, &QComboBox::activated, this, [this, box] { ComboBox3Click(TagOf(box)); });
  editors_.BindInvertedFlag(CheckBox18, layout::kSerialLed);
  editors_.BindInvertedFlag(CheckBox19, layout::kRtsEnable);
  connect(CheckBox20, &QCheckBox::toggled, this, [this] { CheckBox20Click(); });

  edtMDly->SetMaxChars(kDelayChars);
  edtMDly->onEnter = [this] { edtMDly->clear(); };
  edtMDly->onKeyPress = EnterLeavesField(editors_.window());
  edtMDly->onExit = [this] { edtMDlyExit(); };
}

// Three rows: the UART format and the LED; the delay, the strings' range, "FC as a Password" and
// RTS; the control flags and the time update. The range selector and "FC as a Password" are
// added by their own panels at the places left for them in the second row.
void SerialOutputPanel::BuildParameters(QWidget* page) {
  grpPara =
      MakeGroupBox(page, QStringLiteral("grpPara"), QStringLiteral("Parameters"), 6, 24, 702, 94);
  QGroupBox* g = grpPara;
  constexpr int r1 = 16, r2 = 41, r3 = 66;
  MakeLabel(g, QStringLiteral("lblBaud"), QStringLiteral("UART Baud Rate"), 10, r1 + 2, 92, 17);
  ComboBox5 = MakeComboBox(g, QStringLiteral("ComboBox5"), Items(kBaudItems), 104, r1, 66, 21);
  MakeLabel(g, QStringLiteral("lblParity"), QStringLiteral("Parity"), 184, r1 + 2, 34, 17);
  ComboBox2 = MakeComboBox(g, QStringLiteral("ComboBox2"), Items(kParityItems), 220, r1, 60, 21);
  MakeLabel(g, QStringLiteral("lblDataBits"), QStringLiteral("Data Bits"), 294, r1 + 2, 52, 17);
  ComboBox4 =
      MakeComboBox(g, QStringLiteral("ComboBox4"), Items(kDataBitsItems), 348, r1, 42, 21, 2);
  MakeLabel(g, QStringLiteral("lblStopBits"), QStringLiteral("Stop Bits"), 404, r1 + 2, 52, 17);
  ComboBox3 =
      MakeComboBox(g, QStringLiteral("ComboBox3"), Items(kStopBitsItems), 458, r1, 42, 21, 1);
  CheckBox18 = MakeCheckBox(g, QStringLiteral("CheckBox18"),
                            QStringLiteral("Serial O/P Tarnhollow LED"), 516, r1 + 1, 176, 19);

  MakeLabel(g, QStringLiteral("lblMDly"), QStringLiteral("Msg Time Out Delay"), 10, r2 + 2, 114,
            17);
  edtMDly = MakeEdit(g, QStringLiteral("edtMDly"), 126, r2, 46, 21);
  edtMDly->setAlignment(Qt::AlignRight);
  MakeLabel(g, QStringLiteral("lblSeconds"), QStringLiteral("Seconds"), 176, r2 + 2, 48, 17);
  // 238-456: "Select Range" and ComboBox1; 470-594: "FC as a Password".
  CheckBox19 = MakeCheckBox(g, QStringLiteral("CheckBox19"), QStringLiteral("RTS Enable"), 604,
                            r2 + 1, 92, 19);

  chkCtl[2] = MakeCheckBox(g, QStringLiteral("chkCtl2"),
                           QStringLiteral("Fun. Cmd. Out Filter Disable"), 10, r3, 182, 19, 2);
  chkCtl[3] = MakeCheckBox(g, QStringLiteral("chkCtl3"),
                           QStringLiteral("Insert CR Before Detected LF"), 200, r3, 188, 19, 3);
  chkCtl[4] = MakeCheckBox(g, QStringLiteral("chkCtl4"),
                           QStringLiteral("Insert LF After Detected CR"), 396, r3, 180, 19, 4);
  CheckBox20 = MakeCheckBox(g, QStringLiteral("CheckBox20"), QStringLiteral("Time Update"), 586, r3,
                            104, 19);

  SetCaptionColour(grpPara, kCaptionDisabledColour);
}

// ---- handlers ----

void SerialOutputPanel::ComboBox5Click() {
  if (ComboBox5->currentIndex() < 0) return;
  StoreBaudItem(editors_.image(), ComboBox5->currentIndex());
}

void SerialOutputPanel::ComboBox2Click() {
  if (ComboBox2->currentIndex() < 0) return;
  StoreParityItem(editors_.image(), ComboBox2->currentIndex());
}

// Stop bits (Tag 1) and data bits (Tag 2): the byte holds the number the item shows.
void SerialOutputPanel::ComboBox3Click(int tag) {
  ConfigImage& image = editors_.image();
  if (tag == 1 && ComboBox3->currentIndex() >= 0)
    StoreStopBitsItem(image, ComboBox3->currentIndex());
  if (tag == 2 && ComboBox4->currentIndex() >= 0)
    StoreDataBitsItem(image, ComboBox4->currentIndex());
}

void SerialOutputPanel::edtMDlyExit() {
  const EntryResult result = StoreMessageDelay(editors_.image(), ToBytes(edtMDly->text()));
  // An empty edit shows the stored value again; a stored delay stays as it was typed.
  if (!editors_.ShowIfRefused(result, edtMDly, true) && !result.stored) editors_.RefreshFeatures();
}

// "Serial Out Enable" switches the page; every flag then settles the function-command controls.
void SerialOutputPanel::chkCtl0Click(int tag) {
  SetControlFlag(editors_.image(), tag, chkCtl[tag]->isChecked());
  if (tag == kSerialOutEnableTag) ApplyParameterEnabling();
  ApplyCapcodeStringEnabling();
}

void SerialOutputPanel::CheckBox20Click() {
  SetTimeUpdate(editors_.image(), CheckBox20->isChecked());
}

// ---- refill ----

void SerialOutputPanel::ShowControlFlags() {
  const ConfigImage& image = editors_.image();
  for (int tag = 0; tag < kControlFlagCount; ++tag)
    chkCtl[tag]->setChecked(ControlFlag(image, tag));
}

void SerialOutputPanel::ShowSerialLed() {
  CheckBox18->setChecked(ReadInvertedFlag(editors_.image(), layout::kSerialLed));
}

// A byte that names no item leaves parity and baud rate as they were, and shows no selection
// for the stop and data bits.
void SerialOutputPanel::ShowUartSelections() {
  const ConfigImage& image = editors_.image();
  Select(ComboBox2, ParityItem(image), true);
  Select(ComboBox3, StopBitsItem(image), false);
  Select(ComboBox4, DataBitsItem(image), false);
  Select(ComboBox5, BaudItem(image), true);
}

void SerialOutputPanel::ShowMessageDelay() {
  edtMDly->setText(QString::number(MessageDelay(editors_.image())));
}

void SerialOutputPanel::ShowRtsAndTimeUpdate() {
  const ConfigImage& image = editors_.image();
  CheckBox19->setChecked(ReadInvertedFlag(image, layout::kRtsEnable));
  CheckBox20->setChecked(TimeUpdateOn(image));
}

// ---- enabling ----

SerialPanelEnabling SerialOutputPanel::Enabling() const {
  return PanelEnabling(chkCtl[kSerialOutEnableTag]->isChecked(),
                       chkCtl[kFunctionCommandEnableTag]->isChecked());
}

void SerialOutputPanel::ApplyParameterEnabling() {
  const SerialPanelEnabling enabling = Enabling();
  grpPara->setEnabled(enabling.parameters);
  SetCaptionColour(grpPara, enabling.captionColour);
  for (QWidget* child : grpPara->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    child->setEnabled(enabling.parameters);
}

void SerialOutputPanel::ApplyCapcodeStringEnabling() {
  CapcodeStringsPanel* strings = editors_.strings();
  if (applying_ || !strings) return;
  FlagRaiser applying(applying_);
  const SerialPanelEnabling enabling = Enabling();
  // While capcode 1 is long, capcode 2 has no strings of its own.
  const CapcodePanel* capcodes = editors_.window().capcodes();
  const bool capcode2 = !(capcodes && capcodes->longMode());
  for (int k = 0; k < kCapcodesPerRange; ++k) {
    const bool exists = k != 1 || capcode2;
    strings->grpCap[k]->setEnabled(enabling.parameters && exists);
    SetCaptionColour(strings->grpCap[k], enabling.captionColour);
    strings->chkOpCmd[k]->setEnabled(enabling.functionCommands && exists);
    strings->edtFC[k]->setEnabled(enabling.functionCommands);
  }
}

// Until "Serial Out Enable" is checked the page's controls are disabled; grpPara itself is not.
// The Short/Long selector of the capcodes switches capcode 2's strings too; when it does, the
// rules of this panel are applied again so that neither overrides the other.
void SerialOutputPanel::CompleteLayout() {
  for (QWidget* child : grpPara->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    child->setEnabled(false);
  CapcodeStringsPanel* strings = editors_.strings();
  watched_ = {strings->grpCap[1], strings->chkOpCmd[1]};
  for (QWidget* control : watched_) control->installEventFilter(this);
}

bool SerialOutputPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !applying_) ApplyCapcodeStringEnabling();
  return QObject::eventFilter(watched, event);
}

}  // namespace tuva::app
