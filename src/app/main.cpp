// tuva: the Qt programmer for the Tarnhollow Vantel Tuva board.
//
//   tuva                 looks for the board on the serial ports the system has
//   tuva --port DEV      looks for it on DEV only (may be given more than once); DEV may be
//                        rfc2217://HOST:PORT or socket://HOST:PORT for a board behind a server
//   tuva --demo          serves a simulated board on a pseudo-terminal and uses it
//   tuva FILE.tbl        opens FILE.tbl once the window is up (after default.tbl); of several
//                        files the first is opened and the others are named as not opened
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/PasswordDlg.h"
#include "app/PortMenu.h"
#include "link/NetworkPort.h"
#include "sim/SimServer.h"

namespace {

// An error that escapes an event handler is shown and the application goes on.
class TuvaApplication : public QApplication {
 public:
  using QApplication::QApplication;
  tuva::app::Dialogs* dialogs = nullptr;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      if (dialogs)
        dialogs->MessageBox(tuva::app::kAppTitle, QString::fromLocal8Bit(error.what()),
                            tuva::MessageIcon::Error);
      return false;
    }
  }
};

// Quits once the window has been painted for the first time (start-up timing).
class QuitOnFirstPaint : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !done_) {
      done_ = true;
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool done_ = false;
};

// The programmer's command line.
struct Arguments {
  QCommandLineOption port{
      QStringLiteral("port"),
      QStringLiteral("Look for the board on <device> only, e.g. /dev/ttyUSB0 (repeatable). "
                     "A board behind a serial server: rfc2217://HOST:PORT (the server's line is "
                     "set to 19200 8N1) or socket://HOST:PORT (raw TCP; the line settings are "
                     "the server's)."),
      QStringLiteral("device")};
  QCommandLineOption demo{QStringLiteral("demo"),
                          QStringLiteral("Serve a simulated board and use it.")};
  QCommandLineOption exitAfterShow{
      QStringLiteral("exit-after-show"),
      QStringLiteral("Quit as soon as the window has been drawn (start-up timing).")};
};

void Describe(QCommandLineParser& parser, const Arguments& arguments) {
  parser.setApplicationDescription(
      QStringLiteral("Programmer for the Tarnhollow Vantel Tuva board"));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOptions({arguments.port, arguments.demo, arguments.exitAfterShow});
  parser.addPositionalArgument(
      QStringLiteral("file"),
      QStringLiteral("A configuration (.tbl) to open once started; one window edits one "
                     "configuration, so of several files only the first is opened."),
      QStringLiteral("[FILE.tbl...]"));
}

// Options of Qt's own, with one dash or two, that the window's application takes off the command
// line itself; those with a value take the next argument (-style and -stylesheet also "=VALUE").
struct QtOption {
  std::string_view name;
  bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"geometry", true},
    {"qwindowtitle", true},
    {"title", true},
    {"qwindowicon", true},
    {"icon", true},
    {"session", true},
    {"display", true},
    {"name", true},
    {"style", true},
    {"stylesheet", true},
    {"reverse", false},
    {"widgetcount", false},
    {"sync", false},
    {"nograb", false},
    {"dograb", false},
    {"testability", false},
};

// The command line without Qt's own options, which are left to the window's application.
QStringList WithoutQtOptions(const QStringList& arguments) {
  QStringList ours;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& word = arguments.at(i);
    if (word == QLatin1String("--")) return ours + arguments.mid(i);
    if (i == 0 || !word.startsWith(u'-')) {
      ours.append(word);
      continue;
    }
    const std::string name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1).toStdString();
    const auto isQt = [&](const QtOption& option) {
      return name == option.name ||
             (name.starts_with(option.name) && name.size() > option.name.size() &&
              name[option.name.size()] == '=' && option.name.starts_with("style"));
    };
    const auto qt = std::find_if(std::begin(kQtOptions), std::end(kQtOptions), isQt);
    if (qt == std::end(kQtOptions)) {
      ours.append(word);
    } else if (qt->takesValue && name == qt->name) {
      ++i;  // its value
    }
  }
  return ours;
}

// The devices given with --port; false when a network port's URL is not well formed (said).
bool PortsOf(const QStringList& values, std::vector<std::string>& ports) {
  for (const QString& port : values) {
    const std::string name = QFile::encodeName(port).toStdString();
    if (const auto problem = tuva::PortNameProblem(name)) {
      std::fprintf(stderr, "tuva: %s\n", problem->c_str());
      return false;
    }
    ports.push_back(name);
  }
  return true;
}

// What the command line asks of the window.
struct Options {
  std::vector<std::string> ports;
  bool demo = false;
  bool exitAfterShow = false;
  QStringList files;
};

// Reads the command line before the window's application exists, so that --help, --version and a
// usage error are answered on any terminal, without a display: --help and --version end the
// process; a usage error is said and gives false.
bool ReadCommandLine(int& argc, char* argv[], Options& options) {
  const QCoreApplication core(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tuva"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TUVA_VERSION));
  const Arguments arguments;
  QCommandLineParser parser;
  Describe(parser, arguments);
  if (!parser.parse(WithoutQtOptions(QCoreApplication::arguments()))) {
    std::fprintf(stderr, "tuva: %s\n%s", qPrintable(parser.errorText()),
                 qPrintable(parser.helpText()));
    return false;
  }
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  if (!PortsOf(parser.values(arguments.port), options.ports)) return false;
  options.demo = parser.isSet(arguments.demo);
  options.exitAfterShow = parser.isSet(arguments.exitAfterShow);
  options.files = parser.positionalArguments();
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options options;
  if (!ReadCommandLine(argc, argv, options)) return 2;
  TuvaApplication app(argc, argv);
  QApplication::setApplicationName(tuva::app::kAppTitle);

  std::vector<std::string>& ports = options.ports;
  std::unique_ptr<tuva::sim::SimServer> demo;
  if (options.demo) {
    tuva::sim::SimOptions simulated;
    simulated.paced = true;  // transfers take as long as on a real board
    demo = std::make_unique<tuva::sim::SimServer>(simulated);
    try {
      demo->Start();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "tuva: cannot start the simulated board: %s\n", error.what());
      return 1;
    }
    ports.insert(ports.begin(), demo->SlavePath());
  }

  tuva::app::QtDialogs dialogs;
  app.dialogs = &dialogs;
  tuva::app::TfrmAir window(dialogs, ports);
  dialogs.SetParent(&window);
  // The service mode's password dialog, hidden until S29 Mode asks for it; the window owns it.
  new tuva::app::TPasswordDlg(window, dialogs);
  if (demo) {
    window.portMenu()->SetCommandLineLabel(
        QStringLiteral("Simulated board on %1").arg(QString::fromStdString(demo->SlavePath())));
  }
  window.SetStartupFiles(options.files);
  QuitOnFirstPaint quitter;
  if (options.exitAfterShow) window.canvas()->installEventFilter(&quitter);
  window.show();
  const int result = QApplication::exec();
  app.dialogs = nullptr;
  return result;
}
