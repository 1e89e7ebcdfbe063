// The settings of a series in the series window: the template, the capcode slots that count up
// (all sixteen at once, in two columns of eight), the number of boards, the records database and
// the ports. They make the plan of a run; a setting that is refused names the field it concerns,
// so the window can give it the focus. They are kept per user between sessions, so a window opened
// again counts on in the same database instead of starting over in the default one.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QWidget>
#include <array>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/LabelPrinting.h"
#include "image/CapcodeCodec.h"
#include "image/ConfigImage.h"
#include "series/Plan.h"

namespace tuva::app {

class Dialogs;

// What a series takes from the main window, as it is when asked: its configuration (the template
// unless a file is named), whether it is in service mode (firmware goes on boards only there),
// and the ports of its Pager > Port: the one chosen, or on Automatic the board search's candidates.
struct MainWindowValues {
  ConfigImage image = ConfigImage::StartupImage();
  bool serviceMode = false;
  bool automatic = true;
  std::vector<std::string> ports;
};

class SeriesSettings : public QWidget {
  Q_OBJECT
 public:
  // `dialogs` shows the file dialogs, which open in `folder`.
  SeriesSettings(Dialogs& dialogs, QString folder, QWidget* parent);

  // The plan the settings describe, checked as tuvactl series checks it, or the refusal of a
  // setting (FieldOf names its field).
  std::variant<series::SeriesPlan, series::PlanRefusal> Plan(const MainWindowValues& main);
  // The field a refusal of the plan or of its list concerns.
  QWidget* FieldOf(const series::PlanRefusal& refused) const;
  // The records database: an SQLite file or a postgresql:// URL, as typed.
  QString recordsWhere() const;
  // The records database the series window kept from its last use ("" for the default one).
  static QString KeptRecordsWhere();
  QLineEdit* recordsField() const { return recordsPath_; }
  QLineEdit* firstField(int slot) const { return firsts_.at(slot - 1); }
  LabelPrinting* labelPrinting() const { return labelPrinting_; }
  // Shows how far the list is used ("10 rows: 4 used, 5 free, 1 failed") once the records say.
  void ShowListState(const QString& text);
  // Names the main window's Pager > Port choice beside its radio button.
  void ShowWindowPorts(const MainWindowValues& main);
  // Keeps every setting in the user's settings, and puts them back as they were kept (a file named
  // is put back as its name, there or not: the run's checks say when it is gone).
  void Save() const;
  void Restore();

 private:
  // What the settings give for the plan, or the setting that is not a value (a capcode or a
  // number of boards that is not a number).
  std::variant<series::PlanInputs, series::PlanRefusal> Inputs(const MainWindowValues& main) const;
  QWidget* BuildSlots();
  QWidget* BuildTemplate();
  QWidget* BuildPorts();
  QWidget* BuildFirmware();
  QWidget* PathRow(QLineEdit*& path, const QString& name, const QString& browseName,
                   const QString& filter);
  QWidget* BuildList();
  QWidget* BuildRecords();
  // Each setting kept between sessions, by its key, and the field whose value (a line's text, a
  // box's check, the number of boards) it keeps.
  std::vector<std::pair<QString, QWidget*>> Kept() const;
  // The database the records go to, as its store names it, under the field.
  void ShowRecordsName();

  Dialogs& dialogs_;
  QString folder_;
  std::array<QCheckBox*, kCapcodeSlots> counts_{};
  std::array<QLineEdit*, kCapcodeSlots> firsts_{};
  std::array<QLineEdit*, kCapcodeSlots> steps_{};
  QRadioButton* templateWindow_ = nullptr;
  QRadioButton* templateFile_ = nullptr;
  QLineEdit* templatePath_ = nullptr;
  QSpinBox* count_ = nullptr;
  QLineEdit* recordsPath_ = nullptr;
  QLabel* recordsName_ = nullptr;
  LabelPrinting* labelPrinting_ = nullptr;
  QCheckBox* keepCapcodes_ = nullptr;  // re-provisioning: each board keeps its own capcodes
  QLineEdit* listPath_ = nullptr;
  QLabel* listState_ = nullptr;
  QRadioButton* portsOfWindow_ = nullptr;
  QRadioButton* portsTyped_ = nullptr;
  QLineEdit* portList_ = nullptr;
  QLineEdit* firmwarePath_ = nullptr;  // empty: the boards keep their firmware
  QCheckBox* firmwareFull_ = nullptr;
};

}  // namespace tuva::app
