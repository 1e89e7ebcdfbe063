// The feature editors of the window: the board's serial output, the capcode output strings, the
// outputs and their periods, the passwords and locks, and the source prompts. Each group is a
// panel of its own; this object builds them on their pages, registers their refreshers with the
// window and holds RefreshFeatures, the one refill of every feature field.
#pragma once

#include <QObject>
#include <cstddef>
#include <functional>

class QCheckBox;
class QKeyEvent;

namespace tuva {
class ConfigImage;
struct EntryResult;
}  // namespace tuva

namespace tuva::app {

class TfrmAir;
class FieldEdit;
class SerialOutputPanel;
class CapcodeStringsPanel;
class OutputsPanel;
class SecurityPanel;
class PromptsPanel;

// What a refill does with the capcode strings shown in the four group boxes.
enum class CapcodeRange {
  First,  // go back to capcodes 1-4 and show them from the image (a new image was loaded)
  Keep,   // keep the range shown and the edits not yet collected
};

class Dialogs;

// Shared key handlers of the editors. Each returns true when it swallowed the key.
using KeyHandler = std::function<bool(QKeyEvent*)>;
// The common one: Enter ends the entry by moving the focus to the focus sink.
KeyHandler EnterLeavesField(TfrmAir& window);
// The decimal one (frequency, periods, read password): Enter as above; digits, the point and
// Backspace are typed; any other character is refused with the warning "Please insert a numeric !".
// Keys that type nothing (arrows, Delete, Tab) and shortcuts pass.
KeyHandler DecimalKeyPress(TfrmAir& window);
// Shows a refused entry: the plain message or the warning box the result names.
void ShowRefusal(Dialogs& dialogs, const EntryResult& result);

class FeatureEditors : public QObject {
  Q_OBJECT
 public:
  // Builds the panels on the window's pages (the frequency and capcode page, the serial output
  // page, the source prompts page); the window binds and scales them afterwards.
  FeatureEditors(TfrmAir& window, QWidget* normal, QWidget* serial, QWidget* sources);

  TfrmAir& window() const { return window_; }
  // The image the editors show and change: the window's document's.
  ConfigImage& image() const;
  SerialOutputPanel* serial() const { return serial_; }
  CapcodeStringsPanel* strings() const { return strings_; }
  OutputsPanel* outputs() const { return outputs_; }
  SecurityPanel* security() const { return security_; }
  PromptsPanel* prompts() const { return prompts_; }

  // Shows every feature field from the image. The whole-window refresh goes back to the first
  // capcode range; the refill after an entry in one field keeps the range and its pending edits.
  void RefreshFeatures(CapcodeRange range = CapcodeRange::Keep);

  // chkPower, chkROE, chkORC, chkSyn, chkFunPass, CheckBox7, CheckBox18 and CheckBox19: each change
  // of `box` writes the inverted flag at `offset`, 0x00 in the image when checked, 0xFF when not.
  void BindInvertedFlag(QCheckBox* box, std::size_t offset);

  // After an entry in `edit`: a refused one is shown, the feature fields are refilled when
  // `refill` says so, and the edit takes the focus back. Returns whether the entry was refused.
  bool ShowIfRefused(const EntryResult& result, FieldEdit* edit, bool refill = false);

 private:
  TfrmAir& window_;
  OutputsPanel* outputs_ = nullptr;
  SerialOutputPanel* serial_ = nullptr;
  SecurityPanel* security_ = nullptr;
  CapcodeStringsPanel* strings_ = nullptr;
  PromptsPanel* prompts_ = nullptr;
};

}  // namespace tuva::app
