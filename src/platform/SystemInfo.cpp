// The host's name and build number from uname, and the About page's version line.
#include "platform/SystemInfo.h"

#include <sys/utsname.h>

#include <QRegularExpression>

#include "Version.h"

namespace orvane {

namespace {
constexpr const char* kVersionLineFormat = "Orvane v%1 running on ";
}  // namespace

int BuildNumberFromRelease(const QString& release) {
    static const QRegularExpression kVersion(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = kVersion.match(release);
    if (!match.hasMatch()) return 0;
    // Each part is cut to four digits so that the sum cannot overflow.
    const auto part = [&match](int index) { return match.captured(index).right(4).toInt(); };
    return part(1) * 10000 + part(2) * 100 + part(3);
}

PlatformVersion QueryPlatformVersion() {
    PlatformVersion version;
    utsname names{};
    if (uname(&names) == 0) {
        const QString release = QString::fromLocal8Bit(names.release);
        version.systemName = QString::fromLocal8Bit(names.sysname) + QLatin1Char(' ') + release;
        version.buildNumber = BuildNumberFromRelease(release);
    }
    return version;
}

QString FormatVersionLine(const PlatformVersion& version) {
    QString name;
    int build = version.buildNumber;
    if (version.platformId == kPlatformNT) {
        name = version.systemName.isEmpty() ? QStringLiteral("Windows NT") : version.systemName;
    } else {
        // A Linux host never comes here; the older family's naming stays so that the line
        // a version record produces is the one operators have always read for it.
        build &= 0xFFFF;
        if (build > 1600) {
            name = QStringLiteral("Windows 98");
        } else if (build > 1000) {
            name = QStringLiteral("Windows 95/OSR2");
        } else {
            name = QStringLiteral("Windows 95");
        }
    }
    return QString::fromLatin1(kVersionLineFormat).arg(QString::fromLatin1(kVersionText)) + name +
           QStringLiteral(" (Build %1)").arg(build);
}

}  // namespace orvane
