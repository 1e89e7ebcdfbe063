// The main window frmAir: menus, status bar, page selectors, the three pages and the panels on
// them, the control table, the whole-window refresh and the device and file commands.
//
// Construction builds every control first (the chrome, then each page panel), then binds the
// control table, then runs the creation steps (layout capture, maximising, prompt offsets). A
// panel added to a page is constructed in BuildPanels(), so it is bound and scaled like the rest.
//
// Design layout: the canvas (the client area between menu bar and status bar) is 738 x 522. The
// selectors run along its top; the pages lie at left 12, top 20, 714 x 494. On grpNormal the
// frequency and capcode panels take the left column (x 6-378); the right column (x 384-708) holds
// the output-feature and feature group boxes.
#pragma once

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ControlTable.h"
#include "app/Dialogs.h"
#include "app/LayoutScaler.h"
#include "app/SeriesWindow.h"
#include "device/BoardLink.h"

namespace tuva::app {

class CapcodePanel;
class FrequencyPanel;
class PortMenu;
class RecentFiles;
class GuiFrontend;
class EntryShortcuts;
class TPasswordDlg;

inline const QString kMainCaption =
    QStringLiteral("Tarnhollow Vantel_Tuva Programmer Version 2.42");
inline constexpr int kDesignCanvasWidth = 738;
inline constexpr int kDesignCanvasHeight = 522;
inline const QRect kPageBounds{12, 20, 714, 494};

// The steps of RefreshAll, in the order they run. Each panel registers the refreshers of its
// steps; a step may have several, run in the order they were added.
enum class RefreshStep {
  Band,               // cboDft from byte 11, MULT
  Capcodes,           // the sixteen capcode edits and enable boxes
  AddressMode,        // cboSrtLng from byte 2106, and its click handler
  Pll,                // PLL readouts, channel step, frequency edit
  FunctionPasswords,  // edtOPW1, edtOPW2
  Features,           // every feature field, cboPolarity, the periods, the capcode strings
  ReadPassword,       // edtReadPass
  Scaler,             // cboScaler and its click handler
  CapcodeGroupMap,    // bytes 130-131 and copies
  Prompts,            // the sixteen source prompts
  SourceMode,         // cboSource from byte 2142, and its click handler
};
inline constexpr int kRefreshSteps = static_cast<int>(RefreshStep::SourceMode) + 1;

class TfrmAir : public QMainWindow, public SeriesHost {
  Q_OBJECT
 public:
  // `ports`, when not empty, replaces the enumeration of serial ports in the board search.
  explicit TfrmAir(Dialogs& dialogs, std::vector<std::string> ports = {},
                   QWidget* parent = nullptr);
  ~TfrmAir() override;

  Document& document() { return document_; }
  BoardLink& link() { return *link_; }
  // Raised while editors are refilled from the image, so that they do not write back.
  RefillGuards& guards() { return guards_; }
  bool serviceMode() const { return serviceMode_; }  // the firmware-download view is shown
  Dialogs& dialogs() { return dialogs_; }
  const ControlTable& controls() const { return controls_; }
  const LayoutScaler& layout() const { return scaler_; }
  QWidget* canvas() const { return canvas_; }
  CapcodePanel* capcodes() const { return capcodes_; }
  FrequencyPanel* frequency() const { return frequency_; }

  // Refills every editor from the image, step by step.
  void RefreshAll();
  // Stores the capcode strings the editors show into the image (before Write, Verify and Save);
  // the feature editors give the collector.
  void CollectCapcodeStrings();
  void SetCapcodeStringCollector(std::function<void()> collector) {
    collectCapcodeStrings_ = std::move(collector);
  }
  void AddRefresher(RefreshStep step, std::function<void()> refresher);

  // Moves the keyboard focus to the focus sink, which ends the editing of the focused field.
  void FocusSink();
  // The same when the pointer moves onto bare background; an entry that was refused and is not
  // yet changed keeps the focus, so the pointer does not bring its message up again and again.
  void PointerFocusSink();

  // Pages.
  void ShowPage(QWidget* page);
  QWidget* FrontPage() const { return frontPage_; }
  bool IsSelected(const QLabel* selector) const;
  // Shows or hides the pages and their selectors together (the firmware-download view).
  void SetPagesShown(bool shown);

  // Scales every control to the present canvas size and fits the prompt edits.
  void ScaleToCanvas();
  void FitPromptEdits();

  // Commands (menu handlers).
  void btnReadClick();
  void Write1Click();
  void Verify1Click();
  void CheckFirmware1Click();
  void CompareWithBoard1Click();     // CompareDialog.cpp
  void CheckAgainstRecords1Click();  // CompareDialog.cpp
  void Open2Click();
  void Save1Click();
  void SaveAs1Click();

  // Service mode (ServiceMode.cpp): S29 Mode shows the password dialog, whose right access code
  // runs EnterServiceMode; Normal Mode returns; Open1 loads a firmware file.
  void S29Mode1Click();
  void EnterServiceMode();
  void NormalMode1Click();
  void Open1Click();
  void SetPasswordDialog(TPasswordDlg* dialog);
  // The window-level action that keeps a hidden entry's key working (null for other entries).
  QAction* ShortcutTwin(const QAction* entry) const;

  // Opens `path` through Open's checks and messages, as File > Open would with it chosen.
  void OpenPath(const QString& path);
  // Opens files handed over from outside (dropped, or named on the command line): the first
  // one, when it is a configuration (.tbl); then a message names the others, which are left.
  void OpenGivenFiles(const QStringList& paths);
  // Files named on the command line: opened through OpenGivenFiles once the window is on the
  // screen, after the default file, so that a refusal appears over the window.
  void SetStartupFiles(const QStringList& paths) { startupFiles_ = paths; }
  // True while the image differs from what was last opened, saved, read or written.
  bool HasUnsavedChanges();

  PortMenu* portMenu() const { return portMenu_; }
  RecentFiles* recentFiles() const { return recentFiles_; }

  // File state.
  QString currentFileName() const { return currentFileName_; }
  QString startupDirectory() const { return startupDirectory_; }
  bool deviceBusy() const override { return busy_; }

  // System > Series Programming: shows the series window. While a series runs the editors, the
  // file commands and the device commands are disabled as during a device operation: BeginSeries
  // commits the entry being typed and collects the capcode strings, so the image is the template
  // as the window shows it; false when a device operation runs or the entry is refused.
  // EndSeries enables them again. Closing the window during a series asks the series window's
  // question (stop, then close; or keep running).
  // SeriesValues is what a series takes from the window: its configuration, service mode and ports.
  void SeriesProgramming1Click();
  bool BeginSeries() override;
  void EndSeries() override;
  MainWindowValues SeriesValues() const override;

  // Called by the front end: the Write item as the device operations want it.
  void SetWriteWanted(bool enabled);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildChrome();
  void BuildMenus();
  void KeepHiddenMenuMnemonicsFree();
  void ConnectMenus();
  void BuildStatusBar();
  void BuildSelectors();
  void BuildPageKeys();
  void BuildPanels();
  void CreateWindow();
  void FirstShow();
  void UpdateSelectorLooks();
  void AssignPromptOffsets();
  // Leaves the field being edited, which stores its entry; false when the entry was refused.
  bool CommitPendingEntry();
  // Holds the window for a device operation or a series (false when one runs already or the
  // entry being typed is refused), and releases it.
  bool HoldForOperation();
  void ReleaseAfterOperation();
  void RunDeviceCommand(const std::function<void()>& operation);
  void SetCommandsEnabled(bool enabled);
  void OpenFile(bool withDialog);
  // Opens `name` with Open's checks and messages; true when the image now holds it.
  bool OpenNamedFile(const QString& name);
  void SaveFile(bool withDialog);
  // Remembers the image as it is in the file or on the board now.
  void MarkUnchanged();
  // Before closing over unsaved changes: Save, Discard or Cancel. True when the window may close.
  bool MayClose();
  void BuildServiceView();

  // The named controls, menus and items, each with its name as its object name (tests find them
  // by it).
  QLineEdit* edtNull = nullptr;
  QLabel* stcCode = nullptr;
  QLabel* stcFeatures = nullptr;
  QLabel* stcSrc = nullptr;
  QWidget* grpNormal = nullptr;
  QWidget* GroupBox1 = nullptr;
  QWidget* grpSrc = nullptr;
  QLabel* lblLen = nullptr;
  QLabel* lblFilename = nullptr;  // path of the loaded firmware file, shown in service mode
  QStatusBar* StatusBar1 = nullptr;
  QProgressBar* PB1 = nullptr;
  QLabel* StatusText = nullptr;  // panel 1 of the status bar
  QLabel* StatusPort = nullptr;  // at the right of the status bar: the port in use (Pager > Port)
  QMenu* File2 = nullptr;        // configuration files
  QMenu* File1 = nullptr;        // firmware file (service mode), hidden
  QMenu* Pager1 = nullptr;
  QMenu* System1 = nullptr;
  QAction* Open2 = nullptr;
  QAction* Save1 = nullptr;
  QAction* SaveAs1 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Read1 = nullptr;
  QAction* Write1 = nullptr;
  QAction* Verify1 = nullptr;
  QAction* CompareWithBoard1 = nullptr;
  QAction* CheckAgainstRecords1 = nullptr;
  QAction* NormalMode1 = nullptr;
  QAction* CheckFirmware1 = nullptr;
  QAction* S29Mode1 = nullptr;
  QAction* SeriesProgramming1 = nullptr;

  Dialogs& dialogs_;
  std::unique_ptr<GuiFrontend> frontend_;
  Document document_;
  std::unique_ptr<BoardLink> link_;
  RefillGuards guards_;
  bool serviceMode_ = false;
  std::function<void()> collectCapcodeStrings_;
  QWidget* canvas_ = nullptr;
  ControlTable controls_;
  LayoutScaler scaler_;
  std::array<std::vector<std::function<void()>>, kRefreshSteps> refreshers_;
  CapcodePanel* capcodes_ = nullptr;
  FrequencyPanel* frequency_ = nullptr;
  QWidget* frontPage_ = nullptr;
  bool pagesShown_ = true;
  bool shownOnce_ = false;
  bool busy_ = false;
  bool writeWanted_ = true;
  bool closeRequested_ = false;
  bool noDialog_ = false;
  QString currentFileName_;
  QStringList startupFiles_;
  bool startingUp_ = false;
  ConfigImage unchangedImage_ = ConfigImage::StartupImage();
  std::vector<std::string> commandLinePorts_;
  PortMenu* portMenu_ = nullptr;        // owned by the window
  RecentFiles* recentFiles_ = nullptr;  // owned by the window
  QString startupDirectory_;
  QString openFilter_;  // the filter the configuration Open dialog was shown with last
  QPointer<TPasswordDlg> passwordDlg_;
  EntryShortcuts* shortcuts_ = nullptr;  // owned by the window
};

}  // namespace tuva::app
