#include "app/CapcodeStringsPanel.h"

#include "app/Controls.h"
#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "features/FeatureLayout.h"

namespace tuva::app {
namespace {

// The four group boxes fill the page below grpPara.
constexpr int kGroupTop = 122;
constexpr int kGroupPitch = 92;
constexpr int kGroupHeight = 90;
constexpr int kRowTop = 16;
constexpr int kRowPitch = 18;
constexpr int kEditLeft = 98;

}  // namespace

CapcodeStringsPanel::CapcodeStringsPanel(FeatureEditors& editors, QWidget* page,
                                         QGroupBox* parameters)
    : QObject(page), editors_(editors) {
  MakeLabel(parameters, QStringLiteral("lblRange"), QStringLiteral("Select Range"), 238, 43, 74,
            17);
  ComboBox1 = MakeComboBox(parameters, QStringLiteral("ComboBox1"), Items(kCapcodeRangeItems), 314,
                           41, 142, 21);
  ComboBox1->setCurrentIndex(0);
  connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Click(); });

  for (int position = 0; position < kCapcodesPerRange; ++position) BuildGroup(page, position);
}

void CapcodeStringsPanel::BuildGroup(QWidget* page, int k) {
  QGroupBox* group = MakeGroupBox(page, QStringLiteral("grpCap%1").arg(k + 1),
                                  FromBytes(CapcodeGroupCaption(0, k)), 6,
                                  kGroupTop + k * kGroupPitch, 702, kGroupHeight);
  group->setEnabled(false);  // until "Serial Out Enable" is checked
  QPalette palette = group->palette();
  for (QPalette::ColorGroup colours : {QPalette::Active, QPalette::Inactive})
    palette.setColor(colours, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  group->setPalette(palette);
  grpCap[k] = group;

  const auto pairEdit = [this, group, k](const QString& family, int pairs, int left, int top) {
    auto* edit = Named<PairEdit>(family + QString::number(k), pairs, group);
    SetTag(edit, k);
    SetFixedPitchFont(edit);
    edit->setGeometry(left, top, edit->FormWidth(), kRowPitch);
    edit->onEnterKey = [this] { editors_.window().FocusSink(); };
    return edit;
  };
  const auto row = [&](const QString& name, const QString& caption, const QString& family,
                       int index) {
    const int top = kRowTop + index * kRowPitch;
    MakeLabel(group, name + QString::number(k), caption, 10, top + 1, 86, 16);
    return pairEdit(family, static_cast<int>(layout::kStringCapacity), kEditLeft, top);
  };
  edtHeader[k] = row(QStringLiteral("lblHeader"), QStringLiteral("Header Chars."),
                     QStringLiteral("edtHeader"), 0);
  edtTrailer[k] = row(QStringLiteral("lblTrailer"), QStringLiteral("Trailer Chars."),
                      QStringLiteral("edtTrailer"), 1);
  edtTimeout[k] = row(QStringLiteral("lblTimeout"), QStringLiteral("Timeout Chars."),
                      QStringLiteral("edtTimeout"), 2);

  const int top = kRowTop + 3 * kRowPitch;
  chkOpCmd[k] =
      MakeCheckBox(group, QStringLiteral("chkOpCmd%1").arg(k),
                   FromBytes(kInternalFunctionCommandCaption), kEditLeft, top, 112, 18, k);
  chkOpCmd[k]->setEnabled(false);
  MakeLabel(group, QStringLiteral("lblFC%1").arg(k), QStringLiteral("Fun. Cmd. Code"), 226, top + 1,
            90, 16);
  edtFC[k] =
      pairEdit(QStringLiteral("edtFC"), static_cast<int>(layout::kFunctionCodeSize), 318, top);
  edtFC[k]->setEnabled(false);
}

void CapcodeStringsPanel::ComboBox1Click() {
  const int chosen = ComboBox1->currentIndex();
  if (chosen < 0) return;
  CollectCapcodeStrings(range_);
  range_ = chosen;
  ShowCapcodeStrings(range_);
}

void CapcodeStringsPanel::CollectCapcodeStrings(int range) {
  TfrmAir& window = editors_.window();
  for (int k = 0; k < kCapcodesPerRange; ++k) {
    CapcodeStringEdits edits;
    edits.header = ToBytes(edtHeader[k]->text());
    edits.trailer = ToBytes(edtTrailer[k]->text());
    edits.timeout = ToBytes(edtTimeout[k]->text());
    edits.functionCode = ToBytes(edtFC[k]->text());
    edits.internalFunctionCommand = chkOpCmd[k]->isChecked();
    // The pair edits take hexadecimal digits only, so every filled pair reads as a byte; should
    // one not, its capcode keeps the bytes it had and the user is told.
    const EntryResult result =
        CollectCapcodeEdits(editors_.image(), CapcodeInRange(range, k), edits);
    if (!result.ok) ShowRefusal(window.dialogs(), result);
  }
}

void CapcodeStringsPanel::ShowCapcodeStrings(int range) {
  const ConfigImage& image = editors_.image();
  for (int k = 0; k < kCapcodesPerRange; ++k) {
    grpCap[k]->setTitle(FromBytes(CapcodeGroupCaption(range, k)));
    const CapcodeStringEdits edits = ShowCapcodeEdits(image, CapcodeInRange(range, k));
    edtHeader[k]->SetPairsText(FromBytes(edits.header));
    edtTrailer[k]->SetPairsText(FromBytes(edits.trailer));
    edtTimeout[k]->SetPairsText(FromBytes(edits.timeout));
    edtFC[k]->SetPairsText(FromBytes(edits.functionCode));
    chkOpCmd[k]->setChecked(edits.internalFunctionCommand);  // the box has no handler
  }
}

void CapcodeStringsPanel::ShowFirstRange() {
  range_ = 0;
  ComboBox1->setCurrentIndex(0);
  ShowCapcodeStrings(0);
}

}  // namespace tuva::app
