// The board's serial output (its own UART): the "Parameters" group box grpPara on the "Serial
// Output Features" page with baud rate, parity, data and stop bits, the message time-out delay,
// the control flags chkCtl2..chkCtl4 and the LED, RTS and time-update boxes; "Serial Out Enable"
// (chkCtl5) above it, which switches the whole page; and "Fun. Cmd. Checksum" / "Fun. Cmd.
// Enable" (chkCtl0, chkCtl1) in the "Output Features" box of the first page.
//
// Every entry is stored in the image at once. A check box runs its handler whenever its state
// changes, also when a refill sets it; a combo box only when the user picks an item.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QObject>
#include <array>
#include <vector>

#include "app/Controls.h"
#include "features/SerialOutput.h"

namespace tuva::app {

class FeatureEditors;

class SerialOutputPanel : public QObject {
  Q_OBJECT
 public:
  // `page` is GroupBox1; `outputFeatures` the "Output Features" box that takes chkCtl0, chkCtl1.
  SerialOutputPanel(FeatureEditors& editors, QWidget* page, QGroupBox* outputFeatures);

  QGroupBox* grpPara = nullptr;
  std::array<QCheckBox*, 6> chkCtl{};
  QComboBox* ComboBox5 = nullptr;  // UART Baud Rate
  QComboBox* ComboBox2 = nullptr;  // Parity
  QComboBox* ComboBox3 = nullptr;  // Stop Bits, Tag 1
  QComboBox* ComboBox4 = nullptr;  // Data Bits, Tag 2
  FieldEdit* edtMDly = nullptr;
  QCheckBox* CheckBox18 = nullptr;  // Serial O/P Tarnhollow LED
  QCheckBox* CheckBox19 = nullptr;  // RTS Enable
  QCheckBox* CheckBox20 = nullptr;  // Time Update

  // Handlers.
  void ComboBox5Click();
  void ComboBox2Click();
  void ComboBox3Click(int tag);
  void edtMDlyExit();
  void chkCtl0Click(int tag);
  void CheckBox20Click();

  // The parts of RefreshFeatures that show this panel's fields.
  void ShowControlFlags();
  void ShowSerialLed();
  void ShowUartSelections();
  void ShowMessageDelay();
  void ShowRtsAndTimeUpdate();

  // Completes the initial layout once every panel has added its controls: the children of
  // grpPara start disabled, and the controls of capcode 2's strings, which the Short/Long
  // selector of the capcodes switches as well, are watched.
  void CompleteLayout();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildParameters(QWidget* page);
  SerialPanelEnabling Enabling() const;
  // Enable the page after "Serial Out Enable" and the function-command controls of the capcode
  // strings after it and "Fun. Cmd. Enable"; the captions of the five group boxes follow.
  void ApplyParameterEnabling();
  void ApplyCapcodeStringEnabling();

  FeatureEditors& editors_;
  bool applying_ = false;
  std::vector<QWidget*> watched_;  // controls the address mode also switches
};

}  // namespace tuva::app
