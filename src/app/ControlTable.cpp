#include "app/ControlTable.h"

#include "app/Controls.h"

namespace tuva::app {
namespace {

struct Family {
  const char* prefix;
  int base;
  int size;
};

// Compared in this order; the first prefix that the name starts with decides.
constexpr Family kFamilies[] = {
    {"chkOpCmd", kOpCmdBase, 4},     {"edtPrompt", kPromptBase, 16},
    {"chkCtl", kCtlBase, 6},         {"chkOutput", kOutputBase, 9},
    {"edtHeader", kHeaderBase, 4},   {"edtTrailer", kTrailerBase, 4},
    {"edtTimeout", kTimeoutBase, 4}, {"edtFC", kFcBase, 4},
    {"edtPlsPer", kPlsPerBase, 9},
};

}  // namespace

void ControlTable::Bind(QWidget* window, const std::vector<QWidget*>& capcodeEdits,
                        const std::vector<QWidget*>& enableBoxes) {
  for (std::size_t i = 0; i < capcodeEdits.size() && i < 16; ++i)
    slots_[kCapcodeEditBase + i] = capcodeEdits[i];
  for (std::size_t i = 0; i < enableBoxes.size() && i < 16; ++i)
    slots_[kEnableBoxBase + i] = enableBoxes[i];

  // findChildren walks the object tree depth first, each parent's children in creation order.
  const auto controls = window->findChildren<QWidget*>();
  for (QWidget* control : controls) {
    const QString name = control->objectName();
    for (const Family& family : kFamilies) {
      if (!name.startsWith(QLatin1String(family.prefix), Qt::CaseSensitive)) continue;
      const int tag = TagOf(control);
      if (tag >= 0 && tag < family.size) slots_[family.base + tag] = control;
      break;
    }
  }
}

QWidget* ControlTable::at(int slot) const {
  if (slot < 0 || slot >= kControlSlots) return nullptr;
  return slots_[slot].data();
}

int ControlTable::SlotOf(const QWidget* control) const {
  for (int slot = 0; slot < kControlSlots; ++slot)
    if (control && slots_[slot] == control) return slot;
  return -1;
}

}  // namespace tuva::app
