// The board's nine outputs, in the "Output Features" box (GroupBox7) of the first page: which are
// on at power-up and whether that state is used ("Power Up Output", GroupBox8), the period of
// each output in units of the common pre-scaler cboScaler, and the three special outputs that
// take over an output pin. GroupBox7 also holds chkCtl0/chkCtl1 and the function-command
// passwords, which their own panels place in the room left for them.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <array>
#include <cstdint>

#include "app/Controls.h"

namespace tuva::app {

class FeatureEditors;

class OutputsPanel : public QObject {
  Q_OBJECT
 public:
  OutputsPanel(FeatureEditors& editors, QWidget* page);

  QGroupBox* GroupBox7 = nullptr;  // "Output Features"
  QGroupBox* GroupBox8 = nullptr;  // "Power Up Output"
  std::array<QCheckBox*, 9> chkOutput{};
  QCheckBox* chkPower = nullptr;
  QCheckBox* chkROE = nullptr;
  QCheckBox* chkORC = nullptr;
  QCheckBox* chkSyn = nullptr;
  QComboBox* cboScaler = nullptr;
  QLabel* lblScaler = nullptr;
  std::array<FieldEdit*, 9> edtPlsPer{};

  // The factor of the pre-scaler last applied, with which typed periods are converted.
  std::uint8_t currentFactor() const { return currentFactor_; }

  // Handlers.
  void chkOutput0Click(int tag);
  void cboScalerClick();
  void edtPlsPer0Exit(int tag);

  // The parts of RefreshFeatures that show this panel's fields.
  void ShowPowerUpOutputs();
  void ShowSpecialOutputs();
  void ShowPowerUpEnable();
  void ShowPeriods();
  // cboScaler from the image, then its handler (after every whole-window refresh).
  void RefreshScaler();

 private:
  void BuildPowerUp();
  void BuildPeriods();
  void BuildSpecialOutputs();
  QCheckBox* InvertedFlagBox(QWidget* parent, const QString& name, const QString& caption,
                             std::size_t offset, int top);

  FeatureEditors& editors_;
  std::uint8_t currentFactor_ = 1;
};

}  // namespace tuva::app
