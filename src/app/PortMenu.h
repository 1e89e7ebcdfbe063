// Pager > Port: which serial device the board is looked for on. "Automatic" is the board search
// over the candidate ports; below it every serial device the system has, with its driver and a
// short description, the search's candidates marked; below them the serial servers used lately
// and "Network port..." to name another (rfc2217://HOST:PORT or socket://HOST:PORT), and "Clear
// List" to forget them. Devices and servers are numbered &1 to &9 for the keyboard. A port chosen
// here is the only one any device operation opens, and the status bar names it. The choice is
// remembered between runs; devices named on the command line win over it for the run.
#pragma once

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QObject>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace tuva::app {

class TfrmAir;

class PortMenu : public QObject {
  Q_OBJECT
 public:
  // The menu goes on `pager`; the choice is named in the status bar's `status` (its tooltip, and a
  // note at start-up) and `port`.
  PortMenu(TfrmAir& window, QMenu* pager, QLabel* status, QLabel* port);

  QMenu* menu() const { return menu_; }
  // The device in use: empty for the board search.
  QString chosen() const { return chosen_; }

  // Start-up: the devices of the command line when there are any, otherwise the remembered
  // choice when its device is still there (a missing one falls back to Automatic with a note; a
  // serial server is not looked for until an operation connects to it).
  void Start(const std::vector<std::string>& commandLine);
  // How the command line's devices are named in the menu and the tooltip (e.g. the simulated
  // board of --demo).
  void SetCommandLineLabel(const QString& label);
  // Lists the devices again (each time the menu opens).
  void Refresh();
  // Uses `device` only (empty: the board search) and remembers it.
  void Choose(const QString& device);
  // Asks for a serial server's URL and chooses it; a wrong one is refused under the field, where
  // it stays to be mended, and changes nothing.
  void AskNetworkPort();
  // Why a typed URL is refused ("URL: reason"); empty for a good one.
  static QString NetworkPortRefusal(const QString& typed);
  // Forgets the serial servers used lately, except the one in use.
  void ClearNetworkPorts();

  // How many serial servers the menu keeps for choosing again.
  static constexpr int kRecentNetworkPorts = 4;

 private:
  bool Listed(const QString& device) const;
  QStringList RecentNetworkPorts() const;
  void Apply(const QString& device);
  void ShowChoice();
  QString CommandLineText() const;

  TfrmAir& window_;
  QLabel* status_;
  QLabel* port_;
  QMenu* menu_;
  QActionGroup* group_;
  QString chosen_;
  std::vector<std::string> commandLine_;
  QString commandLineLabel_;
  bool useCommandLine_ = false;
};

}  // namespace tuva::app
