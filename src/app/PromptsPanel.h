// The source prompts on the "Source Prompts" page (grpSrc): sixteen one-line prompts, one per
// capcode, in a fixed-pitch font so that the leading spaces show the alignment; the Left, Center
// and Right buttons, which align the prompt left last; and "Prompt Control" (cboSource), whose
// "Auto Cap." mode makes the prompts from the capcodes.
#pragma once

#include <QComboBox>
#include <QObject>
#include <QPushButton>
#include <array>

#include "app/Controls.h"
#include "features/Prompts.h"

namespace tuva::app {

class FeatureEditors;

class PromptsPanel : public QObject {
  Q_OBJECT
 public:
  PromptsPanel(FeatureEditors& editors, QWidget* page);

  std::array<FieldEdit*, kPromptCount> edtPrompt{};
  QComboBox* cboSource = nullptr;
  QPushButton* btnLeft = nullptr;
  QPushButton* btnCenter = nullptr;
  QPushButton* btnRight = nullptr;

  // The prompt whose edit was left last; the alignment buttons work on it.
  int lastPrompt() const { return lastPrompt_; }

  // Handlers.
  void edtPrompt0Exit(int tag);
  void btnLeftClick();
  void btnCenterClick();
  void btnRightClick();
  void cboSourceClick();

  // Steps of the whole-window refresh: the sixteen slots, then the source mode and its handler.
  void RefreshPrompts();
  void RefreshSourceMode();

  // A capcode edit was left: in "Auto Cap." mode its prompt becomes "<capcode>", centred.
  void CapcodeLeft(int slot);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class Alignment { Left, Center, Right };
  void Align(Alignment alignment);
  void LoadCapcodePrompt(int slot);
  void SetPromptsEnabled(bool enabled);

  FeatureEditors& editors_;
  QWidget* page_;
  int lastPrompt_ = 0;
};

}  // namespace tuva::app
