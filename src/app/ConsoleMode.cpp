// Console or windows: decided before any Qt application object exists.
#include "app/ConsoleMode.h"

#include <cstdlib>

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

bool WantsConsoleMode(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return WantsConsoleMode(arguments, [](const char* name) {
        const char* value = std::getenv(name);
        return value ? QByteArray(value) : QByteArray();
    });
}

}  // namespace orvane
