// The capcode output strings on the "Serial Output Features" page: four group boxes grpCap1..
// grpCap4 with the header, trailer and timeout characters, the "Int. Fun. Cmd." box and the
// function-command code of four capcodes, and the range selector ComboBox1 ("Select Range") in
// grpPara that says which four.
//
// Unlike the other editors these do not write the image on every key: the four capcodes shown are
// collected into the image when the range changes and before Write, Verify, Save and Save As.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QObject>
#include <array>

#include "app/PairEdit.h"
#include "features/CapcodeStrings.h"

namespace tuva::app {

class FeatureEditors;

class CapcodeStringsPanel : public QObject {
  Q_OBJECT
 public:
  // `page` is GroupBox1, `parameters` the grpPara box that takes ComboBox1.
  CapcodeStringsPanel(FeatureEditors& editors, QWidget* page, QGroupBox* parameters);

  // Position K (0..3) within the range: group box grpCap<K+1> and the editors with Tag K.
  std::array<QGroupBox*, kCapcodesPerRange> grpCap{};
  std::array<PairEdit*, kCapcodesPerRange> edtHeader{};
  std::array<PairEdit*, kCapcodesPerRange> edtTrailer{};
  std::array<PairEdit*, kCapcodesPerRange> edtTimeout{};
  std::array<PairEdit*, kCapcodesPerRange> edtFC{};
  std::array<QCheckBox*, kCapcodesPerRange> chkOpCmd{};
  QComboBox* ComboBox1 = nullptr;

  // The range shown (0..3): capcodes 4 x range + 1 .. 4 x range + 4.
  int range() const { return range_; }

  // The user picked a range: the one shown is collected, the new one shown.
  void ComboBox1Click();
  // Stores the editors of the four capcodes of `range` into the image.
  void CollectCapcodeStrings(int range);
  // Fills the four group boxes from the image.
  void ShowCapcodeStrings(int range);
  // Back to capcodes 1-4 without collecting: the image is new (start-up, Read, Open).
  void ShowFirstRange();

 private:
  void BuildGroup(QWidget* page, int position);

  FeatureEditors& editors_;
  int range_ = 0;
};

}  // namespace tuva::app
