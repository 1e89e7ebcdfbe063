// Everything a device operation shows or asks goes through this interface: the status, the
// progress, messages, the Yes/No question, a line of text input and the processing of the
// front end's pending events while a transfer waits. The GUI, the command line and the tests each
// implement it; the core never shows anything itself.
#pragma once

#include <optional>
#include <string>

namespace tuva {

enum class MessageIcon { None, Information, Exclamation, Error };

// Second panel of the status bar. The transfer states (Read to Waiting) are the ones during which
// bytes move; Error and the two Ready states are shown between transfers.
enum class Status { Ready, Read, Write, Erase, Verify, Waiting, Error, ReadyDots };

// " Ready", " Read ......", " Error" and so on.
const char* StatusText(Status status);
inline bool Transferring(Status status) {
  return status != Status::Ready && status != Status::Error && status != Status::ReadyDots;
}

// What a transfer is doing: the probe that opens it, the short reads of identification texts and
// trailers, and the long phases that move a copy or the firmware.
enum class Phase {
  Probe,
  Check,
  Read,
  Erase,
  Write,
  ReadBack,
  Verify,
  FirmwareErase,
  FirmwareWrite,
  FirmwareRead
};

// `done` of `total` bytes of `phase` have moved (the frames as sent, the replies as received);
// `done` may run past `total`. A total of 0: no phase has begun.
struct Progress {
  Phase phase = Phase::Probe;
  long done = 0;
  long total = 0;
};

class Frontend {
 public:
  virtual ~Frontend() = default;

  virtual void SetStatus(Status status) = 0;

  // Each change of the progress. A new phase comes as two changes: its total with the count as it
  // stood, then the count from zero.
  virtual void ShowProgress(const Progress& progress) = 0;

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

  // The Write command is disabled while Write and Verify run and enabled as they end. A front end
  // without one ignores it.
  virtual void SetWriteEnabled(bool) {}

  // Before the document goes to the board or is compared with it (Write, Verify, the firmware
  // operations): a front end with editors stores what they hold that is not yet in the image.
  virtual void CollectEntries() {}
  // Read has put the board's configuration into the image: a front end with editors refills them.
  virtual void ImageLoaded() {}
  // An erase of a configuration copy is about to go out: from then on the board may hold the new
  // image.
  virtual void ErasingCopy() {}

  // Called between polls of the serial line so that a front end with events to process stays
  // responsive.
  virtual void ProcessEvents() {}
};

// The progress of one link, told to its front end at each change.
class ProgressMeter {
 public:
  explicit ProgressMeter(Frontend& frontend) : frontend_(frontend) {}

  void Begin(Phase phase, long total) {
    value_ = {phase, value_.done, total};
    frontend_.ShowProgress(value_);
    Restart();
  }
  void Step(long count) {
    value_.done += count;
    moved_ += count;
    frontend_.ShowProgress(value_);
  }
  // The count back to zero, the phase as it was.
  void Restart() {
    value_.done = 0;
    frontend_.ShowProgress(value_);
  }

  const Progress& value() const { return value_; }
  long moved() const { return moved_; }  // bytes over all phases

 private:
  Frontend& frontend_;
  Progress value_;
  long moved_ = 0;
};

}  // namespace tuva
