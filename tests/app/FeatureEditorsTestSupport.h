// The fixture of the feature editors' tests: the window with its panels, and the user's ways of
// choosing a list item, clicking a box and leaving a field.
#pragma once

#include <QComboBox>
#include <QFile>
#include <vector>

#include "AppTestSupport.h"
#include "app/CapcodeStringsPanel.h"
#include "app/FeatureEditors.h"
#include "app/OutputsPanel.h"
#include "app/PromptsPanel.h"
#include "app/SecurityPanel.h"
#include "app/SerialOutputPanel.h"

namespace tuva::testing {

class FeatureEditorsTest : public WindowTest {
 protected:
  app::FeatureEditors& editors() { return *window().findChild<app::FeatureEditors*>(); }
  app::SerialOutputPanel& serial() { return *editors().serial(); }
  app::CapcodeStringsPanel& strings() { return *editors().strings(); }
  app::OutputsPanel& outputs() { return *editors().outputs(); }
  app::PromptsPanel& prompts() { return *editors().prompts(); }
  app::SecurityPanel& security() { return *editors().security(); }

  // The user picks an item: the box shows it and its handler runs.
  static void Choose(QComboBox* box, int item) {
    box->setCurrentIndex(item);
    Q_EMIT box->activated(item);
  }

  // Leaves the field being edited (a refused entry keeps the focus), then enters `edit`, types
  // `text` key by key and leaves with Enter.
  void TypeAfresh(QLineEdit* edit, const QString& text) {
    window().FocusSink();
    Type(edit, text);
  }

  // Puts `text` into an edit the way a user who selects it and types over it would, then leaves.
  void Enter(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::MouseFocusReason);
    edit->setText(text);
    window().FocusSink();
  }

  std::vector<int> Bytes(std::size_t offset, std::size_t count) {
    std::vector<int> bytes;
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(image().byte(offset + i));
    return bytes;
  }

  const RecordingDialogs::Box& LastBox() {
    static const RecordingDialogs::Box none{};
    return dialogs.boxes.empty() ? none : dialogs.boxes.back();
  }

  QByteArray ReadFile(const QString& name) {
    QFile file(name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
  }
};

}  // namespace tuva::testing
