#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <algorithm>
#include <utility>

#include "app/CapcodePanel.h"
#include "app/Controls.h"
#include "app/FeatureEditors.h"
#include "app/FrequencyPanel.h"
#include "app/GuiFrontend.h"
#include "app/PortMenu.h"
#include "app/RecentFiles.h"
#include "app/SeriesWindow.h"
#include "link/Discovery.h"

namespace tuva::app {

TfrmAir::TfrmAir(Dialogs& dialogs, std::vector<std::string> ports, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("frmAir"));
  setWindowTitle(kMainCaption);
  BuildChrome();
  frontend_ = std::make_unique<GuiFrontend>(dialogs_, StatusText, PB1, *this);
  link_ = std::make_unique<BoardLink>(*frontend_, document_);
  commandLinePorts_ = std::move(ports);
  link_->ports = commandLinePorts_;
  Pager1->addSeparator();
  portMenu_ = new PortMenu(*this, Pager1, StatusText, StatusPort);
  recentFiles_ = new RecentFiles(*this, File2, Exit1);
  File2->insertSeparator(Exit1);
  setAcceptDrops(true);
  BuildPanels();

  std::vector<QWidget*> edits;
  std::vector<QWidget*> boxes;
  for (int slot = 0; slot < 16; ++slot) {
    edits.push_back(capcodes_->edit(slot));
    boxes.push_back(capcodes_->enableBox(slot));
  }
  controls_.Bind(this, edits, boxes);
  CreateWindow();
}

TfrmAir::~TfrmAir() {
  qApp->removeEventFilter(this);
}

// ---- construction ----

void TfrmAir::BuildChrome() {
  BuildMenus();
  BuildStatusBar();

  canvas_ = Named<QWidget>(QStringLiteral("canvas"), this);
  canvas_->setMouseTracking(true);
  canvas_->installEventFilter(this);
  setCentralWidget(canvas_);

  // The focus sink comes first, so it is first in the tab order.
  edtNull = MakeEdit(canvas_, QStringLiteral("edtNull"), 0, 0, 1, 1);
  edtNull->setFrame(false);
  BuildSelectors();

  const auto makePage = [this](const QString& name) {
    auto* page = MakeGroupBox(canvas_, name, QString(), kPageBounds.left(), kPageBounds.top(),
                              kPageBounds.width(), kPageBounds.height());
    page->setAutoFillBackground(true);
    return page;
  };
  grpNormal = makePage(QStringLiteral("grpNormal"));
  GroupBox1 = makePage(QStringLiteral("GroupBox1"));
  grpSrc = makePage(QStringLiteral("grpSrc"));
  BuildPageKeys();

  // Measures the width of 22 characters in the prompt edits' font; never shown.
  lblLen = MakeLabel(canvas_, QStringLiteral("lblLen"), QString(), 0, 0, 0, 0);
  lblLen->hide();
  BuildServiceView();

  qApp->installEventFilter(this);
}

void TfrmAir::BuildMenus() {
  QMenuBar* bar = menuBar();
  const auto item = [](QMenu* menu, const char* name, const QString& text,
                       const QKeySequence& keys = {}) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(keys);
    return action;
  };

  File2 = bar->addMenu(QStringLiteral("&File"));
  File2->setObjectName(QStringLiteral("File2"));
  Open2 = item(File2, "Open2", QStringLiteral("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O));
  Save1 = item(File2, "Save1", QStringLiteral("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
  SaveAs1 =
      item(File2, "SaveAs1", QStringLiteral("Save &As..."), QKeySequence(Qt::CTRL | Qt::Key_A));
  File2->addSeparator();
  Exit1 = item(File2, "Exit1", QStringLiteral("E&xit"));

  // The firmware file menu of the service mode.
  File1 = bar->addMenu(QStringLiteral("&File"));
  File1->setObjectName(QStringLiteral("File1"));
  File1->menuAction()->setVisible(false);
  Open1 = item(File1, "Open1", QStringLiteral("&Open"));

  Pager1 = bar->addMenu(QStringLiteral("&Pager"));
  Pager1->setObjectName(QStringLiteral("Pager1"));
  Read1 = item(Pager1, "Read1", QStringLiteral("&Read"), QKeySequence(Qt::Key_F3));
  Write1 = item(Pager1, "Write1", QStringLiteral("&Write"), QKeySequence(Qt::Key_F4));
  Verify1 = item(Pager1, "Verify1", QStringLiteral("&Verify"), QKeySequence(Qt::Key_F9));
  CompareWithBoard1 = item(Pager1, "CompareWithBoard1", QStringLiteral("&Compare with Board"));
  CheckAgainstRecords1 =
      item(Pager1, "CheckAgainstRecords1", QStringLiteral("Check &Against Records"));

  System1 = bar->addMenu(QStringLiteral("&System"));
  System1->setObjectName(QStringLiteral("System1"));
  NormalMode1 = item(System1, "NormalMode1", QStringLiteral("&Normal Mode"));
  NormalMode1->setCheckable(true);
  NormalMode1->setChecked(true);
  NormalMode1->setVisible(false);
  CheckFirmware1 = item(System1, "CheckFirmware1", QStringLiteral("&Check Firmware"));
  S29Mode1 = item(System1, "S29Mode1", QStringLiteral("S&29 Mode"));
  S29Mode1->setCheckable(true);
  S29Mode1->setVisible(false);
  System1->addSeparator();
  SeriesProgramming1 =
      item(System1, "SeriesProgramming1", QStringLiteral("S&eries Programming..."));

  KeepHiddenMenuMnemonicsFree();
  ConnectMenus();
}

void TfrmAir::KeepHiddenMenuMnemonicsFree() {
  // The two File menus share their title, and one of them is hidden at any time. The menu bar
  // grabs the mnemonic of every entry, shown or hidden, and a key grabbed twice goes to its owners
  // in turn: every second Alt+F went to the hidden menu and opened nothing, leaving the bar in its
  // Alt mode. A hidden menu's title therefore carries no mnemonic.
  for (QMenu* menu : {File2, File1}) {
    QAction* entry = menu->menuAction();
    const QString title = menu->title();
    const auto apply = [entry, title] {
      QString shown = title;
      if (!entry->isVisible()) shown.remove(QLatin1Char('&'));
      entry->setText(shown);
    };
    connect(entry, &QAction::visibleChanged, this, apply);
    apply();
  }
}

void TfrmAir::ConnectMenus() {
  connect(Open2, &QAction::triggered, this, [this] { Open2Click(); });
  connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
  connect(SaveAs1, &QAction::triggered, this, [this] { SaveAs1Click(); });
  connect(Exit1, &QAction::triggered, this, [this] { close(); });
  connect(Read1, &QAction::triggered, this, [this] { btnReadClick(); });
  connect(Write1, &QAction::triggered, this, [this] { Write1Click(); });
  connect(Verify1, &QAction::triggered, this, [this] { Verify1Click(); });
  connect(CheckFirmware1, &QAction::triggered, this, [this] { CheckFirmware1Click(); });
  connect(CompareWithBoard1, &QAction::triggered, this, [this] { CompareWithBoard1Click(); });
  // Comparing configurations belongs to the normal mode, as Read does.
  connect(CheckAgainstRecords1, &QAction::triggered, this, [this] { CheckAgainstRecords1Click(); });
  connect(Read1, &QAction::visibleChanged, CompareWithBoard1, [this] {
    CompareWithBoard1->setVisible(Read1->isVisible());
    CheckAgainstRecords1->setVisible(Read1->isVisible());
  });
  connect(SeriesProgramming1, &QAction::triggered, this, [this] { SeriesProgramming1Click(); });
}

void TfrmAir::BuildStatusBar() {
  StatusBar1 = statusBar();
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  PB1 = Named<QProgressBar>(QStringLiteral("PB1"), StatusBar1);
  PB1->setRange(0, 100);
  PB1->setValue(0);
  PB1->setTextVisible(false);
  PB1->setFixedWidth(370);
  StatusBar1->addWidget(PB1);
  StatusText = Named<QLabel>(QStringLiteral("StatusText"), QStringLiteral(" Ready"), StatusBar1);
  StatusText->setMinimumWidth(100);
  StatusBar1->addWidget(StatusText, 1);
  StatusPort = Named<QLabel>(QStringLiteral("StatusPort"), StatusBar1);
  StatusBar1->addPermanentWidget(StatusPort);
}

void TfrmAir::BuildSelectors() {
  const auto make = [this](const QString& name, const QString& text, int left, int width) {
    QLabel* label = MakeLabel(canvas_, name, text, left, 2, width, 17);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    label->setLineWidth(2);
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
    return label;
  };
  // A label shows '&' as it stands: the caption "Capcode && Freq && Features" appears with single
  // ampersands.
  stcCode = make(QStringLiteral("stcCode"), QStringLiteral("Capcode & Freq & Features"), 12, 170);
  stcFeatures =
      make(QStringLiteral("stcFeatures"), QStringLiteral("Serial Output Features"), 184, 140);
  stcSrc = make(QStringLiteral("stcSrc"), QStringLiteral("Source Prompts"), 326, 110);
}

// The pages by keyboard: Ctrl+PgDown and Ctrl+PgUp step through them as the selectors do.
void TfrmAir::BuildPageKeys() {
  const auto step = [this](int by) {
    if (!pagesShown_) return;
    const std::array<QWidget*, 3> pages{grpNormal, GroupBox1, grpSrc};
    const int count = static_cast<int>(pages.size());
    const int at =
        static_cast<int>(std::find(pages.begin(), pages.end(), frontPage_) - pages.begin());
    ShowPage(pages[static_cast<std::size_t>((at + by + count) % count)]);
  };
  const auto key = [this](const char* name, const QKeySequence& keys, auto&& run) {
    auto* action = Named<QAction>(QLatin1String(name), this);
    action->setShortcut(keys);
    addAction(action);
    connect(action, &QAction::triggered, this, run);
  };
  key("NextPage", QKeySequence(Qt::CTRL | Qt::Key_PageDown), [step] { step(1); });
  key("PreviousPage", QKeySequence(Qt::CTRL | Qt::Key_PageUp), [step] { step(-1); });
  for (QLabel* selector : {stcCode, stcFeatures, stcSrc})
    selector->setToolTip(QStringLiteral("Ctrl+PgDown and Ctrl+PgUp change the page"));
}

MainWindowValues TfrmAir::SeriesValues() const {
  const BoardLink& link = *link_;
  MainWindowValues values{document_.image, serviceMode_, link.ports.empty(), link.ports};
  if (values.automatic)
    values.ports = CandidateDevices(EnumeratePorts(link.sysfsRoot, link.devRoot));
  return values;
}

void TfrmAir::BuildPanels() {
  // Each panel builds its controls on its page and registers its refreshers.
  frequency_ = new FrequencyPanel(*this, grpNormal);
  capcodes_ = new CapcodePanel(*this, grpNormal);
  // The feature editors of all three pages; owned by the window.
  new FeatureEditors(*this, grpNormal, GroupBox1, grpSrc);
}

// Creation: the design layout is recorded, the window is maximised when it is first shown, and
// the prompt edits learn the image offsets of their slots.
void TfrmAir::CreateWindow() {
  PB1->setValue(0);
  startupDirectory_ = QDir::currentPath();
  scaler_.Capture(canvas_, QSize(kDesignCanvasWidth, kDesignCanvasHeight));
  frontPage_ = grpNormal;
  ShowPage(grpNormal);

  resize(kDesignCanvasWidth,
         kDesignCanvasHeight + menuBar()->sizeHint().height() + StatusBar1->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  setWindowState(windowState() | Qt::WindowMaximized);
  AssignPromptOffsets();
}

void TfrmAir::AssignPromptOffsets() {
  for (int tag = 0; tag < 16; ++tag)
    if (QWidget* edit = controls_.at(kPromptBase + tag))
      edit->setProperty("PromptOffset", PromptOffset(tag));
}

void TfrmAir::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  FirstShow();
}

// First showing: refill everything from the image, then take the default file when there is one
// (the files of the command line wait for the first paint).
void TfrmAir::FirstShow() {
  PB1->setValue(0);
  portMenu_->Start(commandLinePorts_);
  RefreshAll();
  currentFileName_ = QDir(startupDirectory_).filePath(QStringLiteral("default.tbl"));
  if (QFileInfo::exists(currentFileName_)) {
    FlagRaiser quiet(noDialog_);
    FlagRaiser starting(startingUp_);
    Open2Click();
  }
  MarkUnchanged();
  FocusSink();
}

// ---- refresh ----

void TfrmAir::AddRefresher(RefreshStep step, std::function<void()> refresher) {
  refreshers_[static_cast<int>(step)].push_back(std::move(refresher));
}

void TfrmAir::RefreshAll() {
  for (const auto& step : refreshers_)
    for (const auto& refresher : step) refresher();
}

void TfrmAir::FocusSink() {
  if (edtNull->isEnabled()) edtNull->setFocus(Qt::OtherFocusReason);
}

void TfrmAir::PointerFocusSink() {
  if (const auto* field = qobject_cast<const FieldEdit*>(focusWidget()))
    if (field->holdsRefusedEntry()) return;
  FocusSink();
}

// ---- pages and scaling ----

void TfrmAir::ShowPage(QWidget* page) {
  frontPage_ = page;
  for (QWidget* each : {grpNormal, GroupBox1, grpSrc}) {
    // Only the page in front is shown, so the tab key never wanders onto a page behind it.
    each->setVisible(pagesShown_ && each == page);
  }
  page->raise();
  UpdateSelectorLooks();
}

bool TfrmAir::IsSelected(const QLabel* selector) const {
  return (selector == stcCode && frontPage_ == grpNormal) ||
         (selector == stcFeatures && frontPage_ == GroupBox1) ||
         (selector == stcSrc && frontPage_ == grpSrc);
}

void TfrmAir::UpdateSelectorLooks() {
  for (QLabel* selector : {stcCode, stcFeatures, stcSrc}) {
    const bool selected = IsSelected(selector);
    selector->setFrameStyle(QFrame::Panel | (selected ? QFrame::Sunken : QFrame::Raised));
    QPalette palette = selector->palette();
    palette.setColor(QPalette::Window, selected
                                           ? QColor(128, 128, 128)
                                           : QGuiApplication::palette().color(QPalette::Button));
    palette.setColor(QPalette::WindowText, selected ? Qt::white : Qt::black);
    selector->setPalette(palette);
  }
}

void TfrmAir::SetPagesShown(bool shown) {
  pagesShown_ = shown;
  for (QLabel* selector : {stcCode, stcFeatures, stcSrc}) selector->setVisible(shown);
  ShowPage(frontPage_);
}

void TfrmAir::ScaleToCanvas() {
  // The pages do not repaint while their controls move; hiding them instead would take the focus
  // from the field being edited and run its exit handler.
  canvas_->setUpdatesEnabled(false);
  scaler_.Scale(canvas_->size());
  canvas_->setUpdatesEnabled(true);
  FitPromptEdits();
}

void TfrmAir::FitPromptEdits() {
  std::vector<QLineEdit*> prompts;
  for (int tag = 0; tag < 16; ++tag)
    if (auto* edit = controls_.as<QLineEdit>(kPromptBase + tag)) prompts.push_back(edit);
  FitToPromptWidth(lblLen, prompts);
}

// ---- events ----

bool TfrmAir::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Resize:
      if (watched == canvas_) ScaleToCanvas();
      break;
    case QEvent::MouseMove:
      if (watched == canvas_) PointerFocusSink();
      break;
    case QEvent::Paint:
      // The files of the command line open once the window is on the screen (its first paint),
      // so that their messages come up over the window like those of any Open.
      if (watched == canvas_ && !startupFiles_.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, files = std::exchange(startupFiles_, {})] { OpenGivenFiles(files); },
            Qt::QueuedConnection);
      }
      break;
    case QEvent::MouseButtonRelease:
      if (watched == stcCode) ShowPage(grpNormal);
      if (watched == stcFeatures) ShowPage(GroupBox1);
      if (watched == stcSrc) ShowPage(grpSrc);
      break;
    case QEvent::ShortcutOverride: {
      // The menu shortcuts win over an edit's own keys (Ctrl+A is Save As, not Select All).
      auto* widget = qobject_cast<QWidget*>(watched);
      if (!widget || widget->window() != this) break;
      const QKeySequence keys(static_cast<QKeyEvent*>(event)->keyCombination());
      for (QAction* action : {Open2, Save1, SaveAs1, Read1, Write1, Verify1})
        if (action->isEnabled() && action->shortcut() == keys) return true;
      for (QAction* action : actions())  // the keys of entries the service mode hides
        if (action->isEnabled() && action->shortcut() == keys) return true;
      break;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmAir::closeEvent(QCloseEvent* event) {
  if (auto* series = findChild<SeriesWindow*>(); series && series->running()) {
    event->ignore();
    series->CloseProgrammerWhenDone();
    return;
  }
  if (busy_) {
    // The operation is still talking to the board; the window closes when it has ended.
    closeRequested_ = true;
    event->ignore();
    return;
  }
  if (!MayClose()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

namespace {
QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (data)
    for (const QUrl& url : data->urls())
      if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}
}  // namespace

void TfrmAir::dragEnterEvent(QDragEnterEvent* event) {
  // The firmware view takes no configuration.
  if (!busy_ && !serviceMode_ && !LocalFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void TfrmAir::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (busy_ || serviceMode_ || files.isEmpty()) return;
  event->acceptProposedAction();
  OpenGivenFiles(files);
}

}  // namespace tuva::app
