// Deciding whether the program runs with windows or as a console server.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>

namespace orvane {

// True when there is no display to show windows on and nobody asked for a platform plugin:
// neither DISPLAY nor WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set (non-empty), and the
// arguments carry no -platform option.
bool WantsConsoleMode(const QStringList& arguments,
                      const std::function<QByteArray(const char*)>& environment);
// The same, on the process's own environment and arguments.
bool WantsConsoleMode(int argc, char** argv);

}  // namespace orvane
