#include "app/PromptsPanel.h"

#include <QMouseEvent>

#include "app/CapcodePanel.h"
#include "app/FeatureEditors.h"
#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "app/PairEdit.h"
#include "features/FeatureLayout.h"

namespace tuva::app {
namespace {

constexpr int kPromptChars = 21;
constexpr int kRowTop = 62;
constexpr int kRowPitch = 46;
constexpr int kPromptsPerColumn = 8;

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, int top) {
  auto* button = Named<QPushButton>(name, caption, parent);
  button->setGeometry(590, top, 96, 25);
  SetDesignFont(button);
  return button;
}

}  // namespace

PromptsPanel::PromptsPanel(FeatureEditors& editors, QWidget* page)
    : QObject(page), editors_(editors), page_(page) {
  for (int tag = 0; tag < kPromptCount; ++tag) {
    const int left = 34 + (tag / kPromptsPerColumn) * 276;
    const int top = kRowTop + (tag % kPromptsPerColumn) * kRowPitch;
    MakeLabel(page, QStringLiteral("lblPrompt%1").arg(tag),
              QStringLiteral("Capcode #%1").arg(tag + 1), left, top + 2, 78, 17);
    // The width is fitted to 22 characters of the font whenever the window is scaled.
    FieldEdit* edit =
        MakeEdit(page, QStringLiteral("edtPrompt%1").arg(tag), left + 80, top, 160, 21, tag);
    SetFixedPitchFont(edit);
    edit->SetMaxChars(kPromptChars);
    edit->onKeyPress = EnterLeavesField(editors_.window());
    edit->onExit = [this, tag] { edtPrompt0Exit(tag); };
    edtPrompt[tag] = edit;
  }

  MakeLabel(page, QStringLiteral("lblSource"), QStringLiteral("Prompt Control"), 590, 62, 96, 17);
  cboSource =
      MakeComboBox(page, QStringLiteral("cboSource"), Items(kSourceModeItems), 590, 80, 96, 21);
  connect(cboSource, &QComboBox::activated, this, [this] { cboSourceClick(); });

  btnLeft = MakeButton(page, QStringLiteral("btnLeft"), QStringLiteral("Left"), 158);
  btnCenter = MakeButton(page, QStringLiteral("btnCenter"), QStringLiteral("Center"), 190);
  btnRight = MakeButton(page, QStringLiteral("btnRight"), QStringLiteral("Right"), 222);
  connect(btnLeft, &QPushButton::clicked, this, [this] { btnLeftClick(); });
  connect(btnCenter, &QPushButton::clicked, this, [this] { btnCenterClick(); });
  connect(btnRight, &QPushButton::clicked, this, [this] { btnRightClick(); });

  // Moving the pointer from an edit onto the bare page ends the entry.
  page->setMouseTracking(true);
  page->installEventFilter(this);
}

bool PromptsPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == page_ && event->type() == QEvent::MouseMove) {
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    if (!page_->childAt(at)) editors_.window().PointerFocusSink();
  }
  return QObject::eventFilter(watched, event);
}

// ---- handlers ----

void PromptsPanel::edtPrompt0Exit(int tag) {
  lastPrompt_ = tag;
  FieldEdit* edit = edtPrompt[tag];
  // A refused text stays in the edit until the user shortens it.
  editors_.ShowIfRefused(StorePrompt(editors_.image(), tag, ToBytes(edit->text())), edit);
}

void PromptsPanel::btnLeftClick() {
  Align(Alignment::Left);
}

void PromptsPanel::btnCenterClick() {
  Align(Alignment::Center);
}

void PromptsPanel::btnRightClick() {
  Align(Alignment::Right);
}

// Aligns the text of the prompt left last. The image takes it when the edit is left again; an
// edit that cannot take the focus (disabled, or on a page behind) stores it at once, so that
// what it shows is what the board gets.
void PromptsPanel::Align(Alignment alignment) {
  const int tag = lastPrompt_;
  FieldEdit* edit = edtPrompt[tag];
  const std::string text = ToBytes(edit->text());
  switch (alignment) {
    case Alignment::Left:
      edit->setText(FromBytes(AlignPromptLeft(text)));
      break;
    case Alignment::Center:
      edit->setText(FromBytes(AlignPromptCenter(text)));
      break;
    case Alignment::Right:
      edit->setText(FromBytes(AlignPromptRight(text)));
      break;
  }
  if (edit->isVisible() && edit->isEnabled())
    edit->setFocus(Qt::OtherFocusReason);
  else
    edtPrompt0Exit(tag);
}

void PromptsPanel::cboSourceClick() {
  TfrmAir& window = editors_.window();
  ConfigImage& image = window.document().image;
  const int item = cboSource->currentIndex();
  // A newly read or opened image brings its own mode: nothing is asked and nothing stored.
  if (window.guards().imageLoad || item < 0) {
    SetPromptsEnabled(PromptsEnabled(item));
    return;
  }
  const std::uint8_t oldMode = image.byte(layout::kSourceMode);
  StoreSourceMode(image, item);
  if (item == kSourceAutoCap) {
    if (!window.dialogs().YesNo(FromBytes(kAutoCapQuestionCaption), FromBytes(kAutoCapQuestion))) {
      cboSource->setCurrentIndex(oldMode < kSourceModeItems.size() ? oldMode : -1);
      image.setByte(layout::kSourceMode, oldMode);
      return;
    }
    SetPromptsEnabled(true);
    for (int slot = 0; slot < kPromptCount; ++slot) LoadCapcodePrompt(slot);
  }
  SetPromptsEnabled(PromptsEnabled(item));
}

// "<" + the capcode's text + ">", stored, centred, and the centred text stored as well: a
// centred prompt must not wait for its edit to be left, which may never happen before a Write.
void PromptsPanel::LoadCapcodePrompt(int slot) {
  const auto* capcode = editors_.window().controls().as<QLineEdit>(kCapcodeEditBase + slot);
  if (!capcode) return;
  edtPrompt[slot]->setText(QLatin1Char('<') + capcode->text() + QLatin1Char('>'));
  edtPrompt0Exit(slot);
  btnCenterClick();
  edtPrompt0Exit(slot);
}

void PromptsPanel::CapcodeLeft(int slot) {
  if (cboSource->currentIndex() == kSourceAutoCap) LoadCapcodePrompt(slot);
}

void PromptsPanel::SetPromptsEnabled(bool enabled) {
  for (FieldEdit* edit : edtPrompt) edit->setEnabled(enabled);
}

// ---- refill ----

void PromptsPanel::RefreshPrompts() {
  const ConfigImage& image = editors_.image();
  for (int tag = 0; tag < kPromptCount; ++tag)
    edtPrompt[tag]->setText(FromBytes(PromptText(image, tag)));
}

void PromptsPanel::RefreshSourceMode() {
  const auto item = SourceModeItem(editors_.image());
  cboSource->setCurrentIndex(item.value_or(-1));
  cboSourceClick();
}

}  // namespace tuva::app
