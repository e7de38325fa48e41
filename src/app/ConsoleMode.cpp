// Console or windows: decided before any Qt application object exists.
#include "app/ConsoleMode.h"

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>

#include "app/OperatorTexts.h"

namespace orvane {

bool WantsConsoleMode(const QStringList& arguments,
                      const std::function<QByteArray(const char*)>& environment) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!environment(variable).isEmpty()) return false;
    }
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform") ||
            argument.startsWith(QLatin1String("-platform=")) ||
            argument.startsWith(QLatin1String("--platform="))) {
            return false;
        }
    }
    return true;
}

namespace {

QByteArray ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? QByteArray(value) : QByteArray();
}

bool AsksForPlatform(const QStringList& arguments,
                     const std::function<QByteArray(const char*)>& environment) {
    // WantsConsoleMode without any display variable is true exactly when nothing asked.
    return !WantsConsoleMode(arguments, [&](const char* name) {
        return qstrcmp(name, "QT_QPA_PLATFORM") == 0 ? environment(name) : QByteArray();
    });
}

bool QtHasWaylandSupport() {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

}  // namespace

FrontEndChoice ChooseFrontEnd(bool consoleAsked, const QStringList& arguments,
                              const DisplayServices& services) {
    if (consoleAsked || WantsConsoleMode(arguments, services.environment)) return {true, {}};
    if (AsksForPlatform(arguments, services.environment)) return {false, {}};
    const QByteArray display = services.environment("DISPLAY");
    if (!display.isEmpty()) {
        const DisplayProbeResult probe = services.probeX(display);
        if (probe.usable) return {false, {}};
        // Qt prefers Wayland itself where it can; a dead X display does not matter then.
        if (!services.environment("WAYLAND_DISPLAY").isEmpty() && services.hasWaylandSupport())
            return {false, {}};
        return {true, QString::fromLatin1(kDisplayFallbackFormat)
                          .arg(QString::fromLocal8Bit(display), probe.reason)};
    }
    // Only WAYLAND_DISPLAY is left.
    if (services.hasWaylandSupport()) return {false, {}};
    return {true, QString::fromLatin1(kNoWaylandFallbackText)};
}

FrontEndChoice ChooseFrontEnd(bool consoleAsked, const QStringList& arguments) {
    return ChooseFrontEnd(
        consoleAsked, arguments,
        {ProcessEnvironment, [](const QByteArray& display) { return ProbeXDisplay(display); },
         QtHasWaylandSupport});
}

}  // namespace orvane
