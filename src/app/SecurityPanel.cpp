#include "app/SecurityPanel.h"

#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "features/FeatureLayout.h"
#include "features/FlagCodec.h"
#include "features/Security.h"

namespace tuva::app {
namespace {

constexpr int kPasswordChars = 10;
constexpr int kLockChars = 3;

}  // namespace

SecurityPanel::SecurityPanel(FeatureEditors& editors, QWidget* page, QGroupBox* outputFeatures,
                             QGroupBox* parameters)
    : QObject(page), editors_(editors) {
  BuildFeatures(page);
  BuildPasswords(outputFeatures);

  chkFunPass = MakeCheckBox(parameters, QStringLiteral("chkFunPass"),
                            QStringLiteral("FC as a Password"), 470, 42, 124, 19);
  editors_.BindInvertedFlag(chkFunPass, layout::kFunctionCommandPassword);
}

void SecurityPanel::BuildFeatures(QWidget* page) {
  grpSerial = MakeGroupBox(page, QStringLiteral("grpSerial"), QStringLiteral("Features"), 384, 368,
                           324, 118);
  QGroupBox* g = grpSerial;

  MakeLabel(g, QStringLiteral("lblReadPass"), QStringLiteral("Read Password"), 10, 22, 130, 17);
  edtReadPass = MakeEdit(g, QStringLiteral("edtReadPass"), 142, 20, 94, 21);
  edtReadPass->SetMaxChars(kPasswordChars);
  edtReadPass->onEnter = [this] { edtReadPass->clear(); };
  edtReadPass->onKeyPress = DecimalKeyPress(editors_.window());
  edtReadPass->onExit = [this] { edtReadPassExit(); };
  MakeLabel(g, QStringLiteral("lblMaxPass"), QStringLiteral("( Max. 10 )"), 242, 22, 70, 17);

  const auto lockEdit = [&](const QString& name, const QString& caption, const QString& unit,
                            int tag, int top) {
    MakeLabel(g, QStringLiteral("lbl") + name.mid(3), caption, 10, top + 2, 130, 17);
    FieldEdit* edit = MakeEdit(g, name, 142, top, 40, 21, tag);
    edit->setAlignment(Qt::AlignRight);
    edit->SetMaxChars(kLockChars);
    edit->onEnter = [edit] { edit->clear(); };
    edit->onKeyPress = EnterLeavesField(editors_.window());
    edit->onExit = [this, tag] { edtSLCExit(tag); };
    MakeLabel(g, QStringLiteral("lbl") + name.mid(3) + QStringLiteral("Unit"), unit, 186, top + 2,
              50, 17);
    return edit;
  };
  edtSLC = lockEdit(QStringLiteral("edtSLC"), QStringLiteral("Sequential Lock"),
                    QStringLiteral("Seconds"), 0, 52);
  edtORC = lockEdit(QStringLiteral("edtORC"), QStringLiteral("Out Of Range Time Out"),
                    QStringLiteral("Minutes"), 1, 82);

  // The board's test mode: set only by the user, never refilled from the image, and shown only
  // after the window has been in service mode.
  CheckBox7 =
      MakeCheckBox(g, QStringLiteral("CheckBox7"), QStringLiteral("Test Mode"), 240, 53, 80, 19);
  CheckBox7->hide();
  editors_.BindInvertedFlag(CheckBox7, layout::kTestMode);
}

void SecurityPanel::BuildPasswords(QGroupBox* outputFeatures) {
  const auto password = [&](int which, int left) {
    MakeLabel(outputFeatures, QStringLiteral("lblOPW%1").arg(which),
              QStringLiteral("Fun. Cmd. Password %1").arg(which), left, 38, 148, 16);
    FieldEdit* edit =
        MakeEdit(outputFeatures, QStringLiteral("edtOPW%1").arg(which), left, 54, 148, 21);
    edit->SetMaxChars(kPasswordChars);
    edit->onKeyPress = EnterLeavesField(editors_.window());
    return edit;
  };
  edtOPW1 = password(1, 8);
  edtOPW1->onExit = [this] { edtOPW1Exit(); };
  edtOPW2 = password(2, 164);
  edtOPW2->onExit = [this] { edtOPW2Exit(); };
}

// ---- handlers ----

void SecurityPanel::edtSLCExit(int tag) {
  FieldEdit* edit = tag == kSequentialLockTag ? edtSLC : edtORC;
  const EntryResult result = StoreLockByte(editors_.image(), tag, ToBytes(edit->text()));
  // An empty edit shows the stored value again; a stored value stays as it was typed.
  if (!editors_.ShowIfRefused(result, edit, true) && !result.stored) editors_.RefreshFeatures();
}

// A refusal: text put there from outside the keyboard's limit.
void SecurityPanel::StorePassword(FieldEdit* edit, int which) {
  editors_.ShowIfRefused(StoreFunctionPassword(editors_.image(), which, ToBytes(edit->text())),
                         edit);
}

void SecurityPanel::edtOPW1Exit() {
  StorePassword(edtOPW1, 1);
}

void SecurityPanel::edtOPW2Exit() {
  StorePassword(edtOPW2, 2);
}

// The password is stored as the edit holds it, so entering and leaving without typing removes
// it: the edit is emptied on entry. Only pasted text gets past the key filter; a refused one
// stays for the user to correct.
void SecurityPanel::edtReadPassExit() {
  editors_.ShowIfRefused(StoreReadPassword(editors_.image(), ToBytes(edtReadPass->text())),
                         edtReadPass);
}

// ---- refill ----

void SecurityPanel::ShowLockBytes() {
  const ConfigImage& image = editors_.image();
  edtSLC->setText(QString::number(LockByte(image, kSequentialLockTag)));
  edtORC->setText(QString::number(LockByte(image, kOutOfRangeTimeoutTag)));
}

void SecurityPanel::ShowFunctionCommandPassword() {
  chkFunPass->setChecked(ReadInvertedFlag(editors_.image(), layout::kFunctionCommandPassword));
}

void SecurityPanel::RefreshFunctionPasswords() {
  const ConfigImage& image = editors_.image();
  edtOPW1->setText(FromBytes(FunctionPassword(image, 1)));
  edtOPW2->setText(FromBytes(FunctionPassword(image, 2)));
}

void SecurityPanel::RefreshReadPassword() {
  edtReadPass->setText(FromBytes(ReadPassword(editors_.image())));
}

}  // namespace tuva::app
