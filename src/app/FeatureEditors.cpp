#include "app/FeatureEditors.h"

#include <QCheckBox>
#include <QKeyEvent>

#include "app/CapcodePanel.h"
#include "app/CapcodeStringsPanel.h"
#include "app/FrequencyPanel.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "app/OutputsPanel.h"
#include "app/PromptsPanel.h"
#include "app/SecurityPanel.h"
#include "app/SerialOutputPanel.h"
#include "features/FeatureEntry.h"
#include "features/FlagCodec.h"
#include "features/Periods.h"

namespace tuva::app {

KeyHandler EnterLeavesField(TfrmAir& window) {
  return [&window](QKeyEvent* event) {
    if (!IsEnterKey(event)) return false;
    window.FocusSink();
    return true;
  };
}

KeyHandler DecimalKeyPress(TfrmAir& window) {
  return [&window, enter = EnterLeavesField(window)](QKeyEvent* event) {
    if (enter(event)) return true;
    const QString text = event->text();
    if (text.isEmpty() || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
      return false;
    const QChar key = text.front();
    if (key.unicode() < 0x20 || key.unicode() == 0x7F) return false;  // control keys type nothing
    if (key.unicode() < 0x80 && DecimalKeyAllowed(static_cast<char>(key.unicode()))) return false;
    window.dialogs().MessageBox(FromBytes(std::string(kWarningCaption)),
                                FromBytes(std::string(kNotNumericKeyMessage)),
                                MessageIcon::Exclamation);
    return true;
  };
}

void ShowRefusal(Dialogs& dialogs, const EntryResult& result) {
  if (result.plain())
    dialogs.Message(FromBytes(result.message));
  else
    dialogs.MessageBox(FromBytes(result.caption), FromBytes(result.message), result.icon);
}

// The panels share group boxes: "Output Features" takes chkCtl0/chkCtl1 and the function-command
// passwords, grpPara takes the strings' range selector and "FC as a Password". So the boxes are
// built first and the panels that add to them after.
FeatureEditors::FeatureEditors(TfrmAir& window, QWidget* normal, QWidget* serial, QWidget* sources)
    : QObject(&window), window_(window) {
  setObjectName(QStringLiteral("FeatureEditors"));
  outputs_ = new OutputsPanel(*this, normal);
  serial_ = new SerialOutputPanel(*this, serial, outputs_->GroupBox7);
  security_ = new SecurityPanel(*this, normal, outputs_->GroupBox7, serial_->grpPara);
  strings_ = new CapcodeStringsPanel(*this, serial, serial_->grpPara);
  prompts_ = new PromptsPanel(*this, sources);
  serial_->CompleteLayout();

  window.AddRefresher(RefreshStep::FunctionPasswords,
                      [this] { security_->RefreshFunctionPasswords(); });
  window.AddRefresher(RefreshStep::Features, [this] { RefreshFeatures(CapcodeRange::First); });
  window.AddRefresher(RefreshStep::ReadPassword, [this] { security_->RefreshReadPassword(); });
  window.AddRefresher(RefreshStep::Scaler, [this] { outputs_->RefreshScaler(); });
  window.AddRefresher(RefreshStep::Prompts, [this] { prompts_->RefreshPrompts(); });
  window.AddRefresher(RefreshStep::SourceMode, [this] { prompts_->RefreshSourceMode(); });

  // Write, Verify, Save and Save As take the strings shown into the image before using it.
  window.SetCapcodeStringCollector([this] { strings_->CollectCapcodeStrings(strings_->range()); });
  if (CapcodePanel* capcodes = window.capcodes())
    capcodes->onCapcodeExit = [this](int slot) { prompts_->CapcodeLeft(slot); };
}

void FeatureEditors::BindInvertedFlag(QCheckBox* box, std::size_t offset) {
  connect(box, &QCheckBox::toggled, this, [this, box, offset] {
    WriteInvertedFlag(window_.document().image, offset, box->isChecked());
  });
}

ConfigImage& FeatureEditors::image() const {
  return window_.document().image;
}

bool FeatureEditors::ShowIfRefused(const EntryResult& result, FieldEdit* edit, bool refill) {
  if (result.ok) return false;
  ShowRefusal(window_.dialogs(), result);
  if (refill) RefreshFeatures();
  edit->ReturnFocus();
  return true;
}

// Setting a check box runs its handler when its state changes (the flag is stored again and the
// panel's enabling follows); setting a combo box runs none.
void FeatureEditors::RefreshFeatures(CapcodeRange range) {
  serial_->ShowControlFlags();
  outputs_->ShowPowerUpOutputs();
  serial_->ShowSerialLed();
  if (FrequencyPanel* frequency = window_.frequency()) frequency->RefreshPolarity();
  serial_->ShowUartSelections();
  security_->ShowLockBytes();
  outputs_->ShowSpecialOutputs();
  serial_->ShowMessageDelay();
  outputs_->ShowPowerUpEnable();
  security_->ShowFunctionCommandPassword();
  outputs_->ShowPeriods();
  if (range == CapcodeRange::First) strings_->ShowFirstRange();
  serial_->ShowRtsAndTimeUpdate();
}

}  // namespace tuva::app
