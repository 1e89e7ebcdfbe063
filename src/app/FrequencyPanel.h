// The frequency panel: the band selector cboDft, the receive frequency edtFreq in units of 100 Hz
// (the label "00Hz" completes the number), the readout panel Panel3 with the PLL words, the
// synthesiser multiplier and the channel step, and the receiver polarity cboPolarity.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>

#include "app/Controls.h"
#include "image/FrequencyCodec.h"

namespace tuva::app {

class TfrmAir;

class FrequencyPanel : public QGroupBox {
  Q_OBJECT
 public:
  FrequencyPanel(TfrmAir& window, QWidget* page);

  QComboBox* cboDft() const { return band_; }
  FieldEdit* edtFreq() const { return frequency_; }
  QComboBox* cboPolarity() const { return polarity_; }
  QLabel* lblPLLR() const { return pllr_; }
  QLabel* lblPLLN() const { return plln_; }
  QLabel* lblMULT() const { return mult_; }
  QLabel* lblCHANNEL() const { return channel_; }
  const PllState& pll() const { return state_; }

  // The band from byte 11 (first step of RefreshAll).
  void RefreshBand();
  // Readouts, channel step and frequency edit from the image.
  void RefreshPll();
  void RefreshPolarity();

  void cboDftClick();
  void cboPolarityClick();
  void edtFreqExit();

 private:
  TfrmAir& window_;
  PllState state_;
  QComboBox* band_ = nullptr;
  FieldEdit* frequency_ = nullptr;
  QComboBox* polarity_ = nullptr;
  QFrame* panel_ = nullptr;
  QLabel* pllr_ = nullptr;
  QLabel* plln_ = nullptr;
  QLabel* mult_ = nullptr;
  QLabel* channel_ = nullptr;
};

}  // namespace tuva::app
