// The control table: 128 slots through which one handler reaches every member of a family of
// like controls. Slot numbers are fixed; a handler addresses a member as family base + Tag.
//
//   0-15    Edit1..Edit16          capcode edits
//   16-31   CheckBox1..6, 8..17    capcode enable boxes (CheckBox7 is the test-mode box)
//   64-67   chkOpCmd0..3           83-86   edtHeader0..3      99-107  edtPlsPer0..8
//   68-73   chkCtl0..5             87-90   edtTrailer0..3     108-123 edtPrompt0..15
//   74-82   chkOutput0..8          91-94   edtTimeout0..3
//                                  95-98   edtFC0..3
//
// The table is filled once, after every control of the window exists, and never changes.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <vector>

#include "features/FeatureLayout.h"

namespace tuva::app {

inline constexpr int kControlSlots = 128;

// Family base slots.
inline constexpr int kCapcodeEditBase = 0;
inline constexpr int kEnableBoxBase = 16;
inline constexpr int kOpCmdBase = 64;
inline constexpr int kCtlBase = 68;
inline constexpr int kOutputBase = 74;
inline constexpr int kHeaderBase = 83;
inline constexpr int kTrailerBase = 87;
inline constexpr int kTimeoutBase = 91;
inline constexpr int kFcBase = 95;
inline constexpr int kPlsPerBase = 99;
inline constexpr int kPromptBase = 108;

// Image offset of the 20-byte source prompt slot of prompt edit `tag`.
inline constexpr int PromptOffset(int tag) {
  return static_cast<int>(layout::kPromptSlots +
                          layout::kPromptSlotSize * static_cast<std::size_t>(tag));
}

class ControlTable {
 public:
  // Slots 0-31 from the explicit lists, then every descendant of `window` in creation order whose
  // name starts with a family prefix, at the prefix's base + the control's Tag. A Tag outside the
  // family's range is not bound.
  void Bind(QWidget* window, const std::vector<QWidget*>& capcodeEdits,
            const std::vector<QWidget*>& enableBoxes);

  QWidget* at(int slot) const;
  template <typename T>
  T* as(int slot) const {
    return qobject_cast<T*>(at(slot));
  }
  // The slot holding `control`, or -1.
  int SlotOf(const QWidget* control) const;

 private:
  std::array<QPointer<QWidget>, kControlSlots> slots_{};
};

}  // namespace tuva::app
