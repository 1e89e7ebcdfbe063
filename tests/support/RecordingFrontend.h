// A front end for tests: records everything a device operation shows and answers its questions
// from queues prepared by the test.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/Frontend.h"

namespace tuva::testing {

class RecordingFrontend : public Frontend {
 public:
  struct Box {
    std::string caption;
    std::string text;
    MessageIcon icon;
  };

  void SetStatus(Status status) override { statuses.push_back(StatusText(status)); }
  void ShowProgress(const Progress& value) override {
    progressMax = static_cast<int>(value.total);
    progress = static_cast<int>(value.done);
    phases.push_back(value.phase);
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowMessageBox(const std::string& caption, const std::string& text,
                      MessageIcon icon) override {
    boxes.push_back({caption, text, icon});
    messages.push_back(text);
  }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    questions.push_back({caption, text, MessageIcon::Exclamation});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string&) override {
    textPrompts.push_back({caption, prompt, MessageIcon::None});
    if (textAnswers.empty()) return std::nullopt;
    auto answer = textAnswers.front();
    textAnswers.pop_front();
    return answer;
  }
  void SetWriteEnabled(bool enabled) override { writeEnabled = enabled; }
  void ProcessEvents() override { ++eventPumps; }

  std::string status() const { return statuses.empty() ? std::string() : statuses.back(); }
  std::string lastMessage() const { return messages.empty() ? std::string() : messages.back(); }

  std::vector<std::string> statuses;
  std::vector<std::string> messages;  // plain messages and box texts, in order
  std::vector<Box> boxes;
  std::vector<Box> questions;
  std::vector<Box> textPrompts;
  std::deque<bool> answers;                            // Yes/No answers to give
  std::deque<std::optional<std::string>> textAnswers;  // nullopt: Cancel
  std::vector<Phase> phases;                           // the phase of each change of the progress
  int progressMax = 0;
  int progress = 0;
  bool writeEnabled = true;
  long eventPumps = 0;
};

}  // namespace tuva::testing
