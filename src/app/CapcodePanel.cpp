#include "app/CapcodePanel.h"

#include "app/ControlTable.h"
#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "features/CapcodeEntry.h"

namespace tuva::app {
namespace {

constexpr int kShortEditChars = 7;
constexpr int kLongEditChars = 10;

// Two columns of eight capcodes: label, edit, "ON" box, with a gap before the second column.
constexpr int kColumnWidth = 182;
constexpr int kRowHeight = 36;
constexpr int kFirstRowTop = 56;

}  // namespace

CapcodePanel::CapcodePanel(TfrmAir& window, QWidget* page)
    : QGroupBox(QStringLiteral("Capcode(Decimal Address)"), page), window_(window) {
  setObjectName(QStringLiteral("grpCapcode"));
  setGeometry(6, 130, 372, 358);
  SetDesignFont(this);

  MakeLabel(this, QStringLiteral("lblSrtLng"), QStringLiteral("Address Mode"), 10, 24, 80, 17);
  srtLng_ = MakeComboBox(this, QStringLiteral("cboSrtLng"),
                         {QStringLiteral("Short"), QStringLiteral("Long")}, 94, 22, 84, 21);
  connect(srtLng_, &QComboBox::activated, this, [this](int) { cboSrtLngClick(); });

  // Enable boxes are named CheckBox1..CheckBox6 and CheckBox8..CheckBox17: CheckBox7 is the
  // board's test-mode box elsewhere on the window.
  for (int slot = 0; slot < kCapcodeSlots; ++slot) {
    const int left = 4 + (slot / 8) * kColumnWidth;
    const int top = kFirstRowTop + (slot % 8) * kRowHeight;
    const int boxNumber = slot < 6 ? slot + 1 : slot + 2;
    labels_[slot] = MakeLabel(this, QStringLiteral("lblCapcode%1").arg(slot + 1),
                              QStringLiteral("Capcode #%1").arg(slot + 1), left, top + 2, 66, 17);
    FieldEdit* edit =
        MakeEdit(this, QStringLiteral("Edit%1").arg(slot + 1), left + 66, top, 72, 21, slot);
    edit->SetMaxChars(kShortEditChars);
    edit->onEnter = [this, slot] { EditEnter(slot); };
    edit->onKeyPress = EnterLeavesField(window_);
    edit->onKeyRelease = [this, slot](QKeyEvent*) { EditKeyUp(slot); };
    // Text pasted from the context menu or dropped on the edit comes without a key; it is
    // checked and stored at once, as a typed key would be, instead of being lost on exit.
    connect(edit, &QLineEdit::textEdited, this, [this, slot, edit] {
      if (!edit->typing()) EditKeyUp(slot);
    });
    edit->onExit = [this, slot] { EditExit(slot); };
    edits_[slot] = edit;

    QCheckBox* box = MakeCheckBox(this, QStringLiteral("CheckBox%1").arg(boxNumber),
                                  QStringLiteral("ON"), left + 140, top, 38, 21, slot);
    // A change of state made by the program runs the handler too, as a click would; the refill
    // raises the capcode refresh flag around its changes.
    connect(box, &QCheckBox::toggled, this,
            [this, slot](bool checked) { CheckBoxClick(slot, checked); });
    boxes_[slot] = box;
  }

  window_.AddRefresher(RefreshStep::Capcodes, [this] { RefreshCapcodes(); });
  window_.AddRefresher(RefreshStep::AddressMode, [this] { RefreshAddressMode(); });
  window_.AddRefresher(RefreshStep::CapcodeGroupMap, [this] { UpdateCapcodeGroupMap(); });
}

void CapcodePanel::RefreshCapcodes() {
  RefillGuards& guards = window_.guards();
  const CapcodeRefill refill = DecodeCapcodes(window_.document().image);
  for (int slot = 0; slot < kCapcodeSlots; ++slot) {
    const CapcodeSlotView& view = refill.slots[slot];
    if (!view.refilled) continue;
    {
      FlagRaiser refreshing(guards.capcodeRefresh);
      boxes_[slot]->setChecked(view.enabled);
    }
    if (view.textRefilled) edits_[slot]->setText(FromBytes(view.text));
    if (view.longPair) {
      {
        FlagRaiser refreshing(guards.capcodeRefresh);
        srtLng_->setCurrentIndex(static_cast<int>(AddressMode::Long));
      }
      SetAddressMode(AddressMode::Long);
    }
  }
  UpdateCapcodeGroupMap();
}

// The map follows the capcodes the edits show after a refill; the hidden edit of a long pair's
// second word names no capcode of the board and adds no group.
void CapcodePanel::UpdateCapcodeGroupMap() {
  UpdateCapcodeGroupMapFromImage(window_.document().image);
}

void CapcodePanel::SetAddressMode(AddressMode mode) {
  const bool isShort = mode == AddressMode::Short;
  labels_[1]->setVisible(isShort);
  edits_[1]->setVisible(isShort);
  boxes_[1]->setVisible(isShort);
  edits_[0]->SetMaxChars(isShort ? kShortEditChars : kLongEditChars);

  // The output strings of capcode 2 have no capcode of their own while capcode 1 is long.
  if (auto* strings = window_.findChild<QWidget*>(QStringLiteral("grpCap2")))
    strings->setEnabled(isShort);
  const ControlTable& controls = window_.controls();
  for (int slot : {kHeaderBase + 1, kTrailerBase + 1, kTimeoutBase + 1, kOpCmdBase + 1})
    if (QWidget* control = controls.at(slot)) control->setEnabled(isShort);
}

void CapcodePanel::RefreshAddressMode() {
  const auto stored = StoredAddressMode(window_.document().image);
  {
    FlagRaiser refreshing(window_.guards().capcodeRefresh);
    srtLng_->setCurrentIndex(stored ? static_cast<int>(*stored) : -1);
  }
  cboSrtLngClick();
}

void CapcodePanel::cboSrtLngClick() {
  if (window_.guards().capcodeRefresh) return;
  const int item = srtLng_->currentIndex();
  if (item < 0) return;  // the image names neither mode: nothing to store or re-encode
  const auto mode = static_cast<AddressMode>(item);
  ChooseAddressMode(window_.document().image, mode);
  SetAddressMode(mode);
  RefreshCapcodes();
}

void CapcodePanel::EditEnter(int slot) {
  edits_[slot]->clear();
}

void CapcodePanel::EditKeyUp(int slot) {
  const QString text = edits_[slot]->text();
  if (text.isEmpty()) return;
  const EntryResult result =
      StoreCapcodeEntry(window_.document().image, slot, ToBytes(text), longMode());
  if (result.ok) return;
  window_.dialogs().Message(FromBytes(result.message));
  RefreshCapcodes();
  edits_[slot]->ReturnFocus();
}

void CapcodePanel::EditExit(int slot) {
  // Key by key, 2031615 to 2101248 pass (they begin longer Long capcodes) and write nothing; the
  // whole text left in the edit is refused when the board cannot store it.
  if (const auto refusal = RefuseUnstoredCapcode(window_.document().image, slot,
                                                 ToBytes(edits_[slot]->text()), longMode())) {
    ShowRefusal(window_.dialogs(), *refusal);
    edits_[slot]->ReturnFocus();
    return;
  }
  RefreshCapcodes();
  if (onCapcodeExit) onCapcodeExit(slot);
}

void CapcodePanel::CheckBoxClick(int slot, bool checked) {
  if (window_.guards().capcodeRefresh) return;
  ClickCapcodeEnable(window_.document().image, slot, checked, longMode());
}

}  // namespace tuva::app
