// What the host system calls itself, in the terms the About page shows.
#pragma once

#include <QString>

namespace orvane {

// The platform identifier of the NT family; a Linux host always reports it.
inline constexpr int kPlatformNT = 2;

struct PlatformVersion {
    int platformId = kPlatformNT;
    // On Linux: major * 10000 + minor * 100 + patch of the running kernel, so that
    // 6.1.0 gives 60100. Numbers above 99 in the minor or patch place are added as they
    // are (5.10.209 gives 51209); the number is for the operator's eyes only.
    int buildNumber = 0;
    // On Linux: sysname and release from uname, e.g. "Linux 6.1.0-28-amd64".
    QString systemName;
};

// Asks the running system (uname on Linux).
PlatformVersion QueryPlatformVersion();

// The build number for a kernel release text such as "6.1.0-28-amd64"; missing parts are 0.
int BuildNumberFromRelease(const QString& release);

// The About page's line: "Orvane v" + the version + " running on " + system name +
// " (Build %d)".
// An NT-family host is named by its system name ("Windows NT" when it has none) with the
// whole build number; any other host by the low 16 bits of its build number.
QString FormatVersionLine(const PlatformVersion& version);

}  // namespace orvane
