// Where the window keeps what it remembers between runs: the chosen port and the recent files
// (on Linux ~/.config/tuva/tuva.conf).
#pragma once

#include <QSettings>
#include <memory>

namespace tuva::app {

inline std::unique_ptr<QSettings> AppSettings() {
  return std::make_unique<QSettings>(QStringLiteral("tuva"), QStringLiteral("tuva"));
}

}  // namespace tuva::app
