// Everything a device operation shows or asks goes through this interface: the status text, the
// progress bar, messages, the Yes/No question, a line of text input and the processing of the
// front end's pending events while a transfer waits. The GUI, the command line and the tests each
// implement it; the core never shows anything itself.
#pragma once

#include <optional>
#include <string>

namespace tuva {

enum class MessageIcon { None, Information, Exclamation, Error };

class Frontend {
 public:
  virtual ~Frontend() = default;

  // Second panel of the status bar: " Ready", " Read ......", " Error" and so on.
  virtual void SetStatus(const std::string& text) = 0;

  // The progress bar: its maximum, its position, and a step forward by `count`.
  virtual void SetProgressMax(int maximum) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void StepProgress(int count) = 0;

  // The plain message: text and an OK button, captioned with the application title.
  virtual void ShowMessage(const std::string& text) = 0;

  // A message box with its own caption and icon ("Vantel", "Tuva", "File Error", ...).
  virtual void ShowMessageBox(const std::string& caption, const std::string& text,
                              MessageIcon icon) = 0;

  // A Yes/No box with an exclamation icon; true for Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;

  // A modal text-input box; nullopt when it was cancelled.
  virtual std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                             const std::string& initial) = 0;

  // The Write command is disabled while Write and Verify run and enabled as they end.
  virtual void SetWriteEnabled(bool enabled) = 0;

  // Called between polls of the serial line so the front end stays responsive.
  virtual void ProcessEvents() = 0;
};

}  // namespace tuva
