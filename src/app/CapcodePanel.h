// The capcode panel "Capcode(Decimal Address)": the sixteen capcode edits Edit1..Edit16 with their
// "ON" enable boxes, and the Short/Long selector cboSrtLng. The text of each edit follows the image
// key by key; leaving an edit shows the stored capcode in its padded form.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <array>
#include <functional>

#include "app/Controls.h"
#include "image/CapcodeCodec.h"

namespace tuva::app {

class TfrmAir;

class CapcodePanel : public QGroupBox {
  Q_OBJECT
 public:
  CapcodePanel(TfrmAir& window, QWidget* page);

  FieldEdit* edit(int slot) const { return edits_[slot]; }
  QCheckBox* enableBox(int slot) const { return boxes_[slot]; }
  QLabel* label(int slot) const { return labels_[slot]; }
  QComboBox* cboSrtLng() const { return srtLng_; }
  bool longMode() const { return srtLng_->currentIndex() == static_cast<int>(AddressMode::Long); }

  // Refills the sixteen edits and enable boxes from the image, then the group map.
  void RefreshCapcodes();
  void UpdateCapcodeGroupMap();
  void SetAddressMode(AddressMode mode);

  // The Short/Long selector as RefreshAll sets it: the item of byte 2106, then its click handler.
  void RefreshAddressMode();
  void cboSrtLngClick();

  // Runs after a capcode edit has been left and refilled; the source prompts fill the slot's
  // prompt from it when they follow the capcodes.
  std::function<void(int slot)> onCapcodeExit;

 private:
  void EditEnter(int slot);
  void EditKeyUp(int slot);
  void EditExit(int slot);
  void CheckBoxClick(int slot, bool checked);

  TfrmAir& window_;
  std::array<FieldEdit*, kCapcodeSlots> edits_{};
  std::array<QCheckBox*, kCapcodeSlots> boxes_{};
  std::array<QLabel*, kCapcodeSlots> labels_{};
  QComboBox* srtLng_ = nullptr;
};

}  // namespace tuva::app
