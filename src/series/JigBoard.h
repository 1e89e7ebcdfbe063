// A board on a programming jig, as one port of a series sees it between two Writes: whether it
// answers the probe, what firmware it carries and which board it is.
//
// A board's identity is what copy 0 holds in its capcode records (image bytes 160..223) and in its
// trailer (the sum and its two checks): two short reads that take a few milliseconds on the line.
// A board just written and verified holds exactly the image that went out, so its identity is
// known without asking; a board swapped in its place holds other capcodes or another sum.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/Outcome.h"
#include "image/ConfigImage.h"
#include "link/Frontend.h"

namespace tuva::series {

// A port's front end: nothing is shown, the last message is kept for the record, the overwrite
// question for a board whose two copies are both bad is answered Yes (a new board) and the read
// password's with `password`.
// The transfers' progress, when someone follows it, becomes a percentage over the phases that
// move a copy or the firmware (a Write has four: each copy written and read back; a Verify has
// one; a firmware programming two). `erasing`, when given, runs before each erase of a copy.
class QuietFrontend : public Frontend {
 public:
  QuietFrontend() = default;
  explicit QuietFrontend(std::function<void(int)> percent, std::function<void()> erasing = {})
      : percent_(std::move(percent)), erasing_(std::move(erasing)) {}

  // A new operation with `bigPhases` phases begins.
  void Track(int bigPhases);

  void SetStatus(Status) override {}
  void ShowProgress(const Progress& progress) override;
  void ShowMessage(const std::string& text) override { message = text; }
  void ShowMessageBox(const std::string&, const std::string& text, MessageIcon) override {
    message = text;
  }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  std::optional<std::string> AskText(const std::string&, const std::string&,
                                     const std::string&) override {
    return password;
  }
  void ErasingCopy() override {
    if (erasing_) erasing_();
  }

  std::string message;
  std::optional<std::string> password;  // the answer to the Read's password question, if any

 private:
  int bigPhases_ = 0;
  std::function<void(int)> percent_;
  std::function<void()> erasing_;
  Progress last_;
  int phasesDone_ = 0;
};

using BoardIdentity = std::vector<std::uint8_t>;

struct BoardLook {
  enum class Answer {
    None,       // no acknowledgement: no board, or a contact that did not close this time
    ProbeOnly,  // acknowledged, but the firmware line or the identity did not come
    Full,       // everything below is known
  };
  Answer answer = Answer::None;
  bool inUse = false;  // another program holds the port: not even probed
  std::string firmwareLine;
  BoardIdentity identity;
};

// One probe of `device` and, when it answers, the firmware line and the identity.
BoardLook LookAtBoard(const std::string& device);

// The identity of a board that holds `image` (sealed) in copy 0.
BoardIdentity IdentityOf(const ConfigImage& sealed);

// The capcode a board with this identity holds in `slot` (1..16), read as the template's editors
// would; nullopt when its copy 0 has no well-formed trailer or the slot holds none.
std::optional<std::uint32_t> CapcodeHeld(const BoardIdentity& identity,
                                         const ConfigImage& templateImage, int slot);

// How often a step of a series (the Read of a board to re-provision, the firmware) tries its
// opening probe.
inline constexpr int kProbeTries = 5;

// Whether an operation that ended so on its try number `tries` (from 1) is tried again: only when
// the probe that opens it went unanswered, which sent nothing to the board (a contact that did not
// close this once), and at most `limit` tries in all.
bool TryAgain(OutcomeKind kind, int tries, int limit);

// Runs `operation` until TryAgain says no; returns its last outcome.
Outcome WithOpeningTries(int limit, const std::function<Outcome()>& operation);

}  // namespace tuva::series
