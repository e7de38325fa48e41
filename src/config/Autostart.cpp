// The autostart helpers on the XDG autostart directory.
#include "config/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "config/AutostartTexts.h"
#include "platform/MessageBox.h"

namespace orvane {

namespace {

constexpr qsizetype kMaxExecBytes = 900;

const QString kAddFailed = QString::fromLatin1(kAddToRunListFailedText);
const QString kRemoveFailed = QString::fromLatin1(kRemoveFromRunListFailedText);

bool IsUsableDirectory(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && info.isExecutable();
}

// The Exec value as written in the file, before the file format's own escapes are undone.
bool ReadRawExec(const QString& filePath, QByteArray* exec) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) return false;
    bool inMainGroup = false;
    exec->clear();
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line.startsWith("Exec")) {
            const qsizetype equals = line.indexOf('=');
            if (equals > 0 && line.left(equals).trimmed() == "Exec") {
                *exec = line.mid(equals + 1).trimmed();
            }
        }
    }
    return file.error() == QFileDevice::NoError;
}

// Escapes for a string value of the desktop entry format.
QString EscapeStringValue(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        switch (c.unicode()) {
            case '\\':
                escaped += QStringLiteral("\\\\");
                break;
            case '\n':
                escaped += QStringLiteral("\\n");
                break;
            case '\t':
                escaped += QStringLiteral("\\t");
                break;
            case '\r':
                escaped += QStringLiteral("\\r");
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

}  // namespace

QString RunListDirectory() {
    QString first = qEnvironmentVariable("XDG_CONFIG_DIRS").section(QLatin1Char(':'), 0, 0);
    if (first.isEmpty()) first = QStringLiteral("/etc/xdg");
    return first + QStringLiteral("/autostart");
}

QString RunListEntryPath(const QString& valueName) {
    return RunListDirectory() + QLatin1Char('/') + valueName + QStringLiteral(".desktop");
}

QString ExecValueForProgram(const QString& programPath) {
    // A bare path is what the list should hold; only a path the launcher would split into
    // arguments (a blank in a folder name, say) is quoted, or the program would not start.
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : programPath) needsQuotes = needsQuotes || kReserved.contains(c);
    QString exec;
    if (needsQuotes) {
        exec = QStringLiteral("\"");
        for (const QChar c : programPath) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\')) {
                exec += QLatin1Char('\\');
            }
            exec += c;
        }
        exec += QLatin1Char('"');
    } else {
        exec = programPath;
    }
    exec.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return EscapeStringValue(exec);
}

void AddToRunList(const QString& valueName, const QString& programPath,
                  MessageBoxService& messages) {
    if (programPath.isEmpty()) {
        messages.Show(kAddFailed, MessageIcon::Stop);
        return;
    }
    const QString directory = RunListDirectory();
    if (!QDir().mkpath(directory) || !IsUsableDirectory(directory)) return;

    QSaveFile file(RunListEntryPath(valueName));
    const QByteArray content = QByteArrayLiteral("[Desktop Entry]\nType=Application\nName=") +
                               EscapeStringValue(valueName).toUtf8() +
                               QByteArrayLiteral("\nExec=") +
                               ExecValueForProgram(programPath).toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        messages.Show(kAddFailed, MessageIcon::Stop);
    }
}

void RemoveFromRunList(const QString& valueName, MessageBoxService& messages) {
    if (!IsUsableDirectory(RunListDirectory())) return;
    const QString path = RunListEntryPath(valueName);
    const QFileInfo info(path);
    // Only a file is a value; a directory of that name cannot be deleted as one.
    if (!info.isFile() || !QFile::remove(path)) messages.Show(kRemoveFailed, MessageIcon::Stop);
}

bool IsInRunList(const QString& valueName) {
    if (!IsUsableDirectory(RunListDirectory())) return false;
    const QString path = RunListEntryPath(valueName);
    if (!QFileInfo(path).isFile()) return false;
    QByteArray exec;
    return ReadRawExec(path, &exec) && exec.size() <= kMaxExecBytes;
}

}  // namespace orvane
