#include "app/FrequencyPanel.h"

#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"

namespace tuva::app {
namespace {

constexpr int kFrequencyChars = 7;

}  // namespace

FrequencyPanel::FrequencyPanel(TfrmAir& window, QWidget* page)
    : QGroupBox(QStringLiteral("Frequency"), page), window_(window) {
  setObjectName(QStringLiteral("grpFreq"));
  setGeometry(6, 8, 372, 116);
  SetDesignFont(this);

  MakeLabel(this, QStringLiteral("lblBand"), QStringLiteral("Band"), 10, 22, 56, 17);
  band_ = MakeComboBox(this, QStringLiteral("cboDft"), Items(kBands, &Band::text), 66, 20, 140, 21);
  connect(band_, &QComboBox::activated, this, [this](int) { cboDftClick(); });

  MakeLabel(this, QStringLiteral("lblFreq"), QStringLiteral("Frequency"), 10, 54, 56, 17);
  frequency_ = MakeEdit(this, QStringLiteral("edtFreq"), 66, 52, 70, 21);
  frequency_->SetMaxChars(kFrequencyChars);
  frequency_->setAlignment(Qt::AlignRight);
  MakeLabel(this, QStringLiteral("lblHz"), QStringLiteral("00Hz"), 138, 54, 40, 17);
  frequency_->onEnter = [this] { frequency_->clear(); };
  frequency_->onKeyPress = DecimalKeyPress(window_);
  frequency_->onExit = [this] { edtFreqExit(); };

  MakeLabel(this, QStringLiteral("lblPolarity"), QStringLiteral("Polarity"), 10, 86, 56, 17);
  polarity_ =
      MakeComboBox(this, QStringLiteral("cboPolarity"), Items(kPolarityItems), 66, 84, 90, 21);
  connect(polarity_, &QComboBox::activated, this, [this](int) { cboPolarityClick(); });

  panel_ = Named<QFrame>(QStringLiteral("Panel3"), this);
  panel_->setGeometry(224, 18, 140, 90);
  panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  SetDesignFont(panel_);
  const auto row = [this](int index, const QString& caption, const QString& name) {
    const int top = 4 + index * 21;
    MakeLabel(panel_, QStringLiteral("lblCaption%1").arg(index), caption, 8, top, 60, 17);
    return MakeLabel(panel_, name, QString(), 68, top, 62, 17);
  };
  pllr_ = row(0, QStringLiteral("PLLR:"), QStringLiteral("lblPLLR"));
  plln_ = row(1, QStringLiteral("PLLN:"), QStringLiteral("lblPLLN"));
  mult_ = row(2, QStringLiteral("MULT:"), QStringLiteral("lblMULT"));
  channel_ = row(3, QStringLiteral("CHANNEL:"), QStringLiteral("lblCHANNEL"));

  window_.AddRefresher(RefreshStep::Band, [this] { RefreshBand(); });
  window_.AddRefresher(RefreshStep::Pll, [this] { RefreshPll(); });
}

void FrequencyPanel::RefreshBand() {
  SelectStoredBand(window_.document().image, state_);
  band_->setCurrentIndex(state_.band.value_or(-1));
}

void FrequencyPanel::RefreshPll() {
  const PllReadout readout = tuva::RefreshPll(window_.document().image, state_);
  pllr_->setText(FromBytes(readout.pllr));
  plln_->setText(FromBytes(readout.plln));
  mult_->setText(FromBytes(readout.mult));
  channel_->setText(FromBytes(readout.channel));
  frequency_->setText(FromBytes(readout.frequency));
}

void FrequencyPanel::RefreshPolarity() {
  polarity_->setCurrentIndex(static_cast<int>(ReadPolarity(window_.document().image)));
}

void FrequencyPanel::cboDftClick() {
  const int band = band_->currentIndex();
  if (band < 0) return;
  ApplyBand(window_.document().image, state_, band);
  RefreshPll();
}

void FrequencyPanel::cboPolarityClick() {
  const int item = polarity_->currentIndex();
  if (item < 0) return;
  WritePolarity(window_.document().image, static_cast<Polarity>(item));
}

void FrequencyPanel::edtFreqExit() {
  const FrequencyResult result =
      ApplyFrequencyText(window_.document().image, state_, ToBytes(frequency_->text()));
  if (result.status == FrequencyStatus::Refused) {
    window_.dialogs().MessageBox(FromBytes(kFrequencyCaption), FromBytes(result.message),
                                 MessageIcon::Exclamation);
    frequency_->ReturnFocus();
    return;
  }
  RefreshPll();
}

}  // namespace tuva::app
