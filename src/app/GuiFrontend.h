// The window's side of the device operations: the status text and the progress bar of the status
// bar, the boxes through the window's Dialogs, the Write item, the editors' entries collected and
// refilled, and the processing of pending events while a transfer waits for the board.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>

#include "app/Dialogs.h"
#include "link/Frontend.h"

namespace tuva::app {

class TfrmAir;

class GuiFrontend : public Frontend {
 public:
  GuiFrontend(Dialogs& dialogs, QLabel* status, QProgressBar* progress, TfrmAir& window);

  void SetStatus(Status status) override;
  void ShowProgress(const Progress& progress) override;
  void ShowMessage(const std::string& text) override;
  void ShowMessageBox(const std::string& caption, const std::string& text,
                      MessageIcon icon) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& initial) override;
  void SetWriteEnabled(bool enabled) override;
  void CollectEntries() override;
  void ImageLoaded() override;
  void ProcessEvents() override;

 private:
  Dialogs& dialogs_;
  QPointer<QLabel> status_;
  QPointer<QProgressBar> progress_;
  TfrmAir& window_;
};

// Texts of the image and of the board are single-byte characters.
QString FromBytes(std::string_view text);
std::string ToBytes(const QString& text);
// The items of a drop-down list: each of `texts`, or the member `pick` of each.
template <typename Texts, typename Pick = std::identity>
QStringList Items(const Texts& texts, Pick pick = {}) {
  QStringList items;
  for (const auto& item : texts) items << FromBytes(std::invoke(pick, item));
  return items;
}

}  // namespace tuva::app
