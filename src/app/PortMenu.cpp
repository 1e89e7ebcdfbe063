#include "app/PortMenu.h"

#include <unistd.h>

#include <QLabel>
#include <cerrno>
#include <optional>

#include "app/AppSettings.h"
#include "app/MainWindow.h"
#include "link/Discovery.h"
#include "link/NetworkPort.h"

namespace tuva::app {
namespace {

const QString kPortKey = QStringLiteral("port/device");
const QString kNetworkKey = QStringLiteral("port/network");
const QString kNetworkCaption = QStringLiteral("Network port");

bool IsNetwork(const QString& name) {
  return IsNetworkPortName(Bytes(name));
}

// "/dev/ttyUSB0  -  ftdi_sio, FT232R USB UART", the search's candidates marked. Why the search
// passes a device by is its tooltip.
QString PortLine(const PortInfo& port) {
  QString line = Text(port.device) + QStringLiteral("  -  ");
  line += port.driver.empty() ? QStringLiteral("no driver") : Text(port.driver);
  // Ports that are no USB adapter have only their driver's name to describe them.
  if (!port.description.empty() && port.description != port.driver)
    line += QStringLiteral(", ") + Text(port.description);
  if (port.candidate) line += QStringLiteral("  [searched]");
  if (::access(port.device.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
    line += QStringLiteral(" [no permission]");
  // A '&' in a product name is shown, not taken as a mnemonic.
  line.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return line;
}

}  // namespace

PortMenu::PortMenu(TfrmAir& window, QMenu* pager, QLabel* status, QLabel* port)
    : QObject(&window),
      window_(window),
      status_(status),
      port_(port),
      group_(new QActionGroup(this)) {
  menu_ = pager->addMenu(QStringLiteral("P&ort"));
  menu_->setObjectName(QStringLiteral("PortMenu"));
  group_->setExclusive(true);
  menu_->setToolTipsVisible(true);
  connect(menu_, &QMenu::aboutToShow, this, [this] { Refresh(); });
}

void PortMenu::Refresh() {
  menu_->clear();
  const auto add = [this](const QString& text, const QString& device) {
    QAction* action = menu_->addAction(text);
    action->setCheckable(true);
    action->setData(device);
    group_->addAction(action);
    connect(action, &QAction::triggered, this, [this, device] { Choose(device); });
    return action;
  };
  // Devices and servers are numbered &1 to &9 after the letters of the fixed entries.
  int number = 0;
  const auto numbered = [&number](QString text) {
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return ++number <= 9 ? QStringLiteral("&%1 %2").arg(number).arg(text) : text;
  };
  QAction* automatic = add(QStringLiteral("&Automatic"), QString());
  automatic->setObjectName(QStringLiteral("PortAutomatic"));
  automatic->setChecked(!useCommandLine_ && chosen_.isEmpty());
  if (!commandLine_.empty()) {
    QString text = CommandLineText();
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* given = menu_->addAction(QStringLiteral("&Command line: ") + text);
    given->setCheckable(true);
    given->setChecked(useCommandLine_);
    group_->addAction(given);
    connect(given, &QAction::triggered, this, [this] {
      useCommandLine_ = true;
      Apply(QString());
    });
  }
  menu_->addSeparator();
  const BoardLink& link = window_.link();
  const std::vector<PortInfo> ports = EnumeratePorts(link.sysfsRoot, link.devRoot);
  if (ports.empty()) menu_->addAction(QStringLiteral("No serial ports found"))->setEnabled(false);
  for (const PortInfo& port : ports) {
    const QString device = Text(port.device);
    QAction* action = add(numbered(PortLine(port)), device);
    action->setChecked(!useCommandLine_ && device == chosen_);
    action->setToolTip(port.candidate ? QStringLiteral("Tried by the automatic board search")
                                      : QStringLiteral("Not searched: ") + Text(port.reason));
  }
  menu_->addSeparator();
  const QStringList recent = RecentNetworkPorts();
  for (const QString& url : recent) {
    QAction* action = add(numbered(url), url);
    action->setChecked(!useCommandLine_ && url == chosen_);
    action->setToolTip(QStringLiteral("A board behind a serial server"));
  }
  QAction* network = menu_->addAction(QStringLiteral("&Network port..."));
  network->setObjectName(QStringLiteral("PortNetwork"));
  connect(network, &QAction::triggered, this, [this] { AskNetworkPort(); });
  if (!recent.isEmpty()) {
    QAction* clear = menu_->addAction(QStringLiteral("C&lear List"));
    clear->setObjectName(QStringLiteral("PortClearList"));
    clear->setToolTip(QStringLiteral("Forget the serial servers listed (the one in use stays)"));
    connect(clear, &QAction::triggered, this, [this] { ClearNetworkPorts(); });
  }
}

void PortMenu::ClearNetworkPorts() {
  QStringList kept;
  if (!useCommandLine_ && IsNetwork(chosen_)) kept << chosen_;
  AppSettings()->setValue(kNetworkKey, kept);
}

QString PortMenu::NetworkPortRefusal(const QString& typed) {
  std::string error;
  if (!NormaliseNetworkPort(Bytes(typed.trimmed()), error).empty()) return QString();
  return QStringLiteral("%1: %2").arg(typed.trimmed(), Text(error));
}

QStringList PortMenu::RecentNetworkPorts() const {
  return AppSettings()->value(kNetworkKey).toStringList();
}

void PortMenu::AskNetworkPort() {
  const QStringList recent = RecentNetworkPorts();
  const QString initial = IsNetwork(chosen_) ? chosen_
                          : recent.isEmpty() ? QStringLiteral("rfc2217://")
                                             : recent.front();
  // A wrong URL is refused in the box itself, so it can be mended rather than typed again.
  const std::optional<QString> answer = window_.dialogs().InputChecked(
      kNetworkCaption, QStringLiteral("Serial server (rfc2217://HOST:PORT or socket://HOST:PORT):"),
      initial, &NetworkPortRefusal);
  if (!answer) return;
  std::string error;
  Choose(Text(NormaliseNetworkPort(Bytes(answer->trimmed()), error)));
}

bool PortMenu::Listed(const QString& device) const {
  const BoardLink& link = window_.link();
  for (const PortInfo& port : EnumeratePorts(link.sysfsRoot, link.devRoot))
    if (Text(port.device) == device) return true;
  return false;
}

void PortMenu::Start(const std::vector<std::string>& commandLine) {
  commandLine_ = commandLine;
  useCommandLine_ = !commandLine_.empty();
  const QString remembered = AppSettings()->value(kPortKey).toString();
  if (useCommandLine_) {
    Apply(QString());
  } else if (!remembered.isEmpty() && !IsNetwork(remembered) && !Listed(remembered)) {
    Apply(QString());
    status_->setText(
        QStringLiteral(" The port %1 is not there; the board is searched for").arg(remembered));
  } else {
    Apply(remembered);
  }
  Refresh();
}

void PortMenu::Choose(const QString& device) {
  useCommandLine_ = false;
  Apply(device);
  AppSettings()->setValue(kPortKey, device);
  if (IsNetwork(device)) {
    // The servers used last come first.
    QStringList recent = RecentNetworkPorts();
    recent.removeAll(device);
    recent.prepend(device);
    AppSettings()->setValue(kNetworkKey, recent.mid(0, kRecentNetworkPorts));
  }
}

void PortMenu::Apply(const QString& device) {
  chosen_ = useCommandLine_ ? QString() : device;
  std::vector<std::string>& ports = window_.link().ports;
  if (useCommandLine_)
    ports = commandLine_;
  else if (chosen_.isEmpty())
    ports.clear();
  else
    ports = {Bytes(chosen_)};
  ShowChoice();
}

void PortMenu::SetCommandLineLabel(const QString& label) {
  commandLineLabel_ = label;
  ShowChoice();
}

QString PortMenu::CommandLineText() const {
  if (!commandLineLabel_.isEmpty()) return commandLineLabel_;
  QStringList devices;
  for (const std::string& device : commandLine_) devices << Text(device);
  return devices.join(QStringLiteral(", "));
}

void PortMenu::ShowChoice() {
  QString tip;
  if (useCommandLine_) {
    tip = QStringLiteral("Port: %1 (command line)").arg(CommandLineText());
  } else if (chosen_.isEmpty()) {
    tip = QStringLiteral("Port: Automatic (the board is searched for)");
  } else {
    tip = QStringLiteral("Port: %1").arg(chosen_);
  }
  status_->setToolTip(tip);
  port_->setText(tip);
}

}  // namespace tuva::app
