// Deciding whether the program runs with windows or as a console server.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/DisplayProbe.h"

namespace orvane {

// True when there is no display to show windows on and nobody asked for a platform plugin:
// neither DISPLAY nor WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set (non-empty), and the
// arguments carry no -platform option.
bool WantsConsoleMode(const QStringList& arguments,
                      const std::function<QByteArray(const char*)>& environment);

// What stands behind a display, asked only when a display is named.
struct DisplayServices {
    std::function<QByteArray(const char*)> environment;
    std::function<DisplayProbeResult(const QByteArray&)> probeX;
    std::function<bool()> hasWaylandSupport;
};

struct FrontEndChoice {
    bool console = false;
    QString note;  // one line for standard error when a named display could not be used
};

// Windows or console: the console when asked for (--console) or when WantsConsoleMode; windows
// when a platform plugin is asked for by name (Qt's choice then); otherwise windows only where
// the display can be opened: an X display that answers, or Wayland with Qt's support for it.
// A display that cannot be used leads to the console with a note saying so, since Qt would
// end the program.
FrontEndChoice ChooseFrontEnd(bool consoleAsked, const QStringList& arguments,
                              const DisplayServices& services);
// The same, on the process's own environment, an X connection and Qt's installed plugins.
FrontEndChoice ChooseFrontEnd(bool consoleAsked, const QStringList& arguments);

}  // namespace orvane
