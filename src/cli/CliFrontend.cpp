#include "cli/CliFrontend.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "image/Utf8.h"

namespace tuva::cli {
namespace {

constexpr int kBarWidth = 30;

// Turns off echo on the terminal for the life of the object; what it was is kept in `terminal`,
// for the signal thread to put back should the program end meanwhile.
class EchoOff {
 public:
  explicit EchoOff(CliFrontend::Terminal& terminal) : terminal_(terminal) {
    if (tcgetattr(STDIN_FILENO, &terminal_.saved) != 0) return;
    struct termios quiet = terminal_.saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    terminal_.echoOff = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (terminal_.echoOff.exchange(false)) tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal_.saved);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  CliFrontend::Terminal& terminal_;
};

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

}  // namespace

CliFrontend::CliFrontend(FrontendSettings settings)
    : settings_(std::move(settings)), barEnabled_(!settings_.quiet && isatty(STDERR_FILENO) == 1) {}

CliFrontend::~CliFrontend() {
  ClearBar();
}

void CliFrontend::RestoreTerminal() {
  if (terminal_.echoOff) tcsetattr(STDIN_FILENO, TCSANOW, &terminal_.saved);
}

void CliFrontend::SetStatus(Status status) {
  status_ = status;
  afterMessage_ = false;
  if (!Transferring(status_)) {
    ClearBar();
    return;
  }
  Redraw();
}

void CliFrontend::ShowProgress(const Progress& progress) {
  maximum_ = static_cast<int>(std::max(0L, progress.total));
  position_ = progress.done;
  Redraw();
}

void CliFrontend::ShowMessage(const std::string& text) {
  if (capturing_) {
    captured_.push_back(text);
    return;
  }
  Note(text);
}

void CliFrontend::ShowMessageBox(const std::string& caption, const std::string& text, MessageIcon) {
  ShowMessage(caption.empty() ? text : caption + ": " + text);
}

bool CliFrontend::AskYesNo(const std::string& caption, const std::string& text) {
  ClearBar();
  std::cerr << caption << ": " << text;
  if (settings_.yes) {
    std::cerr << " [y/N] yes (--yes)" << std::endl;
    return true;
  }
  if (!StdinIsTerminal()) {
    std::cerr << "\n  Not answered: there is no terminal to ask on; give --yes to answer Yes."
              << std::endl;
    return false;
  }
  std::cerr << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cerr << std::endl;
    return false;
  }
  answer = Trimmed(answer);
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

std::optional<std::string> CliFrontend::AskText(const std::string& caption,
                                                const std::string& prompt, const std::string&) {
  ClearBar();
  if (settings_.password) return settings_.password;
  if (!StdinIsTerminal()) {
    std::cerr << caption << ": " << prompt
              << "\n  Not answered: there is no terminal to ask on; give --password." << std::endl;
    return std::nullopt;
  }
  std::cerr << prompt << ": " << std::flush;
  std::string text;
  bool typed = false;
  {
    EchoOff echoOff(terminal_);
    typed = static_cast<bool>(std::getline(std::cin, text));
  }
  std::cerr << std::endl;
  if (!typed) return std::nullopt;  // end of input: the box was cancelled
  return text;
}

void CliFrontend::Note(const std::string& text) {
  ClearBar();
  // What follows a message belongs to the end of a step; the bar returns with the next one.
  afterMessage_ = true;
  std::cerr << ValidUtf8(text) << std::endl;
}

void CliFrontend::StartCapture() {
  capturing_ = true;
  captured_.clear();
}

std::vector<std::string> CliFrontend::StopCapture() {
  capturing_ = false;
  return std::move(captured_);
}

void CliFrontend::Redraw() {
  if (!barEnabled_ || afterMessage_ || !Transferring(status_)) return;
  const long clamped = std::clamp<long>(position_, 0, maximum_);
  const int percent = maximum_ > 0 ? static_cast<int>(clamped * 100 / maximum_) : 0;
  if (barShown_ && percent == drawnPercent_ && status_ == drawnStatus_) return;
  const int filled = percent * kBarWidth / 100;
  std::string line = "\r\033[K" + Trimmed(StatusText(status_));
  line.resize(std::max<std::size_t>(line.size(), 20), ' ');
  line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
          std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
          std::to_string(percent) + "%";
  std::cerr << line << std::flush;
  barShown_ = true;
  drawnPercent_ = percent;
  drawnStatus_ = status_;
}

void CliFrontend::ClearBar() {
  if (!barShown_) return;
  std::cerr << "\r\033[K" << std::flush;
  barShown_ = false;
  drawnPercent_ = -1;
}

}  // namespace tuva::cli
