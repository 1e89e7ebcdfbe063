// Passwords and locks: the "Features" box (grpSerial) of the first page with the board's read
// password, the sequential lock, the out-of-range time-out and the test-mode box CheckBox7 (hidden
// until the window comes back from service mode); the two function-command passwords in the
// "Output Features" box; and "FC as a Password" (chkFunPass) in grpPara of the serial output page.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QObject>

#include "app/Controls.h"

namespace tuva::app {

class FeatureEditors;

class SecurityPanel : public QObject {
  Q_OBJECT
 public:
  SecurityPanel(FeatureEditors& editors, QWidget* page, QGroupBox* outputFeatures,
                QGroupBox* parameters);

  QGroupBox* grpSerial = nullptr;
  FieldEdit* edtReadPass = nullptr;
  FieldEdit* edtSLC = nullptr;  // Tag 0, seconds
  FieldEdit* edtORC = nullptr;  // Tag 1, minutes
  FieldEdit* edtOPW1 = nullptr;
  FieldEdit* edtOPW2 = nullptr;
  QCheckBox* chkFunPass = nullptr;
  QCheckBox* CheckBox7 = nullptr;  // Test Mode

  // Handlers.
  void edtSLCExit(int tag);
  void edtOPW1Exit();
  void edtOPW2Exit();
  void edtReadPassExit();

  // The parts of RefreshFeatures that show this panel's fields.
  void ShowLockBytes();
  void ShowFunctionCommandPassword();
  // Steps of the whole-window refresh.
  void RefreshFunctionPasswords();
  void RefreshReadPassword();

 private:
  void BuildFeatures(QWidget* page);
  void BuildPasswords(QGroupBox* outputFeatures);
  void StorePassword(FieldEdit* edit, int which);

  FeatureEditors& editors_;
};

}  // namespace tuva::app
