// The command line's front end for the device operations. Messages go to stderr (stdout carries
// data only); a progress bar is drawn on stderr when it is a terminal; questions are answered by
// --yes, asked on the terminal, or refused when there is no terminal to ask on; the read password
// comes from --password or is typed on the terminal without echo.
#pragma once

#include <termios.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "link/CommPort.h"
#include "link/Frontend.h"

namespace tuva::cli {

struct FrontendSettings {
  bool yes = false;                     // answer every Yes/No question with Yes
  std::optional<std::string> password;  // the board's read password, when given
  bool quiet = false;                   // no progress bar
};

class CliFrontend : public Frontend {
 public:
  explicit CliFrontend(FrontendSettings settings);
  ~CliFrontend() override;
  CliFrontend(const CliFrontend&) = delete;
  CliFrontend& operator=(const CliFrontend&) = delete;

  // The terminal as it was before the password prompt turned its echo off.
  struct Terminal {
    struct termios saved {};
    std::atomic<bool> echoOff{false};
  };
  // Puts the terminal's echo back when the password prompt has it off; safe from the signal
  // thread, for a program about to end.
  void RestoreTerminal();

  void SetStatus(Status status) override;
  void ShowProgress(const Progress& progress) override;
  void ShowMessage(const std::string& text) override;
  void ShowMessageBox(const std::string& caption, const std::string& text,
                      MessageIcon icon) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& initial) override;

  // Writes a line to stderr, out of the way of the progress bar.
  void Note(const std::string& text);

  // While capturing, messages are kept instead of printed (a command that turns the result
  // of an operation into output on stdout).
  void StartCapture();
  std::vector<std::string> StopCapture();

 private:
  // The bar is drawn while a transfer is under way.
  void Redraw();
  void ClearBar();

  FrontendSettings settings_;
  bool barEnabled_ = false;
  bool barShown_ = false;
  bool afterMessage_ = false;
  Status status_ = Status::Ready;
  int maximum_ = 0;
  long position_ = 0;
  int drawnPercent_ = -1;
  Status drawnStatus_ = Status::Ready;
  bool capturing_ = false;
  std::vector<std::string> captured_;
  Terminal terminal_;
};

}  // namespace tuva::cli
