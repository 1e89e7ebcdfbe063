#include "app/OutputsPanel.h"

#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "features/FeatureLayout.h"
#include "features/FlagCodec.h"
#include "features/Periods.h"

namespace tuva::app {
namespace {

constexpr int kPeriodChars = 4;
constexpr int kPeriodTop = 174;
constexpr int kPeriodPitch = 23;
constexpr int kPeriodsPerColumn = 5;

}  // namespace

OutputsPanel::OutputsPanel(FeatureEditors& editors, QWidget* page)
    : QObject(page), editors_(editors) {
  GroupBox7 = MakeGroupBox(page, QStringLiteral("GroupBox7"), QStringLiteral("Output Features"),
                           384, 6, 324, 356);
  BuildPowerUp();
  BuildPeriods();
  BuildSpecialOutputs();
}

void OutputsPanel::BuildPowerUp() {
  GroupBox8 = MakeGroupBox(GroupBox7, QStringLiteral("GroupBox8"),
                           QStringLiteral("Power Up Output"), 8, 80, 308, 62);
  chkPower = InvertedFlagBox(GroupBox8, QStringLiteral("chkPower"),
                             QStringLiteral("Power Up Output"), layout::kPowerUpEnable, 16);
  for (int tag = 0; tag < layout::kOutputCount; ++tag) {
    chkOutput[tag] = MakeCheckBox(GroupBox8, QStringLiteral("chkOutput%1").arg(tag),
                                  QString::number(tag + 1), 8 + 33 * tag, 38, 32, 18, tag);
    connect(chkOutput[tag], &QCheckBox::toggled, this, [this, tag] { chkOutput0Click(tag); });
  }
}

void OutputsPanel::BuildPeriods() {
  MakeLabel(GroupBox7, QStringLiteral("lblPreScaler"), QStringLiteral("Pre-Scaler of Period"), 8,
            150, 108, 17);
  cboScaler = MakeComboBox(GroupBox7, QStringLiteral("cboScaler"),
                           Items(kPreScalerItems, &PreScalerItem::text), 118, 148, 72, 21);
  cboScaler->setCurrentIndex(0);
  lblScaler = MakeLabel(GroupBox7, QStringLiteral("lblScaler"), FromBytes(PreScalerLabel(0)), 198,
                        150, 118, 17);
  connect(cboScaler, &QComboBox::activated, this, [this] { cboScalerClick(); });

  for (int tag = 0; tag < layout::kOutputCount; ++tag) {
    const int left = 8 + (tag / kPeriodsPerColumn) * 156;
    const int top = kPeriodTop + (tag % kPeriodsPerColumn) * kPeriodPitch;
    MakeLabel(GroupBox7, QStringLiteral("lblPlsPer%1").arg(tag),
              QStringLiteral("Output %1 Period").arg(tag + 1), left, top + 2, 88, 17);
    FieldEdit* edit =
        MakeEdit(GroupBox7, QStringLiteral("edtPlsPer%1").arg(tag), left + 90, top, 40, 21, tag);
    edit->setAlignment(Qt::AlignRight);
    edit->SetMaxChars(kPeriodChars);
    edit->onEnter = [edit] { edit->clear(); };
    edit->onKeyPress = DecimalKeyPress(editors_.window());
    edit->onExit = [this, tag] { edtPlsPer0Exit(tag); };
    edtPlsPer[tag] = edit;
  }
}

// Each special output takes an ordinary output's pin; the hint says which. Nothing stops the
// user from using that output as well: the board's firmware decides.
void OutputsPanel::BuildSpecialOutputs() {
  const auto hint = [](std::string_view control) {
    for (const SpecialOutput& output : kSpecialOutputs)
      if (output.control == control) return FromBytes(output.hint);
    return QString();
  };
  chkROE = InvertedFlagBox(GroupBox7, QStringLiteral("chkROE"),
                           QStringLiteral("Power && Receiving Output Enable"),
                           layout::kReceivingOutput, 292);
  chkROE->setToolTip(hint("chkROE"));
  chkORC =
      InvertedFlagBox(GroupBox7, QStringLiteral("chkORC"),
                      QStringLiteral("Out Of Range Output Enable"), layout::kOutOfRangeOutput, 312);
  chkORC->setToolTip(hint("chkORC"));
  chkSyn = InvertedFlagBox(GroupBox7, QStringLiteral("chkSyn"),
                           QStringLiteral("SYN. Pin Output Enable"), layout::kSynOutput, 332);
  chkSyn->setToolTip(hint("chkSyn"));
}

QCheckBox* OutputsPanel::InvertedFlagBox(QWidget* parent, const QString& name,
                                         const QString& caption, std::size_t offset, int top) {
  QCheckBox* box = MakeCheckBox(parent, name, caption, 8, top, 300, 18);
  editors_.BindInvertedFlag(box, offset);
  return box;
}

// ---- handlers ----

void OutputsPanel::chkOutput0Click(int tag) {
  SetPowerUpOutput(editors_.image(), tag, chkOutput[tag]->isChecked());
}

void OutputsPanel::cboScalerClick() {
  const int item = cboScaler->currentIndex();
  if (item < 0) return;
  currentFactor_ = ApplyPreScaler(editors_.image(), item);
  lblScaler->setText(FromBytes(PreScalerLabel(item)));
  editors_.RefreshFeatures();
}

void OutputsPanel::edtPlsPer0Exit(int tag) {
  const EntryResult result =
      StorePeriod(editors_.image(), tag, ToBytes(edtPlsPer[tag]->text()), currentFactor_);
  // An accepted entry: the edit shows the period as stored.
  if (!editors_.ShowIfRefused(result, edtPlsPer[tag], true)) editors_.RefreshFeatures();
}

// ---- refill ----

void OutputsPanel::ShowPowerUpOutputs() {
  const ConfigImage& image = editors_.image();
  for (int tag = 0; tag < layout::kOutputCount; ++tag)
    chkOutput[tag]->setChecked(PowerUpOutputOn(image, tag));
}

void OutputsPanel::ShowSpecialOutputs() {
  const ConfigImage& image = editors_.image();
  chkORC->setChecked(ReadInvertedFlag(image, layout::kOutOfRangeOutput));
  chkSyn->setChecked(ReadInvertedFlag(image, layout::kSynOutput));
  chkROE->setChecked(ReadInvertedFlag(image, layout::kReceivingOutput));
}

void OutputsPanel::ShowPowerUpEnable() {
  chkPower->setChecked(ReadInvertedFlag(editors_.image(), layout::kPowerUpEnable));
}

void OutputsPanel::ShowPeriods() {
  const ConfigImage& image = editors_.image();
  for (int tag = 0; tag < layout::kOutputCount; ++tag)
    edtPlsPer[tag]->setText(FromBytes(PeriodText(image, tag)));
}

// A pre-scaler byte that is none of the six factors (an erased board) keeps the item shown; the
// handler then stores that item's factor.
void OutputsPanel::RefreshScaler() {
  if (const auto item = PreScalerItemOf(editors_.image())) cboScaler->setCurrentIndex(*item);
  cboScalerClick();
}

}  // namespace tuva::app
