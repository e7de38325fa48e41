// Settings store on QSettings with a plain-text file format, re-read before every access.
#include "config/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include "config/FileLocations.h"
#include "config/SettingsFileFormat.h"

namespace orvane {

namespace {

// Where the per-user settings of company "Quorvex", application "Orvane" live.
QString UserSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quorvex/Orvane.conf");
}

}  // namespace

SettingsStore::SettingsStore() : SettingsStore(UserSettingsPath()) {}

SettingsStore::SettingsStore(const QString& iniFilePath)
    : m_open(
          [iniFilePath] { return std::make_unique<QSettings>(iniFilePath, SettingsFileFormat()); }),
      m_settings(m_open()) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::FilePath() const {
    return m_settings->fileName();
}

bool ParseStoredInt(const QString& text, int* value) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return false;
    int start = 0;
    if (trimmed[0] == QLatin1Char('+') || trimmed[0] == QLatin1Char('-')) start = 1;
    if (start == trimmed.size()) return false;
    for (int i = start; i < trimmed.size(); ++i) {
        if (trimmed[i] < QLatin1Char('0') || trimmed[i] > QLatin1Char('9')) return false;
    }
    bool ok = false;
    const qlonglong parsed = trimmed.toLongLong(&ok);
    if (!ok || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    *value = static_cast<int>(parsed);
    return true;
}

static QString FullKey(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

int SettingsStore::GetProfileInt(const QString& section, const QString& key, int defaultValue) {
    m_settings->sync();
    const QVariant stored = m_settings->value(FullKey(section, key));
    if (!stored.isValid()) return defaultValue;
    // The file format reads every value as text.
    int value = 0;
    if (!ParseStoredInt(stored.toString(), &value)) return defaultValue;
    return value;
}

QString SettingsStore::GetProfileString(const QString& section, const QString& key,
                                        const QString& defaultValue) {
    m_settings->sync();
    const QVariant stored = m_settings->value(FullKey(section, key));
    if (!stored.isValid()) return defaultValue;
    return stored.toString();
}

namespace {

// Whether every line of the file can be read.
bool ReadsCompletely(const QByteArray& contents) {
    QSettings::SettingsMap ignored;
    return ParseSettingsText(contents, ignored);
}

/* A write rewrites the whole file from what could be read of it, so lines that could not
   be read would be lost without a word. Keep the file as it was beside it first, under the
   first free name "<file>.unreadable", "<file>.unreadable.1", ...; false when that fails,
   and the write must not happen. */
bool KeepUnreadableFile(const QString& path) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) return true;  // nothing to lose
    const QByteArray contents = file.readAll();
    file.close();
    if (contents.isEmpty() || ReadsCompletely(contents)) return true;
    for (int n = 0; n < 100; ++n) {
        const QString keep = path + QStringLiteral(".unreadable") +
                             (n == 0 ? QString() : QStringLiteral(".%1").arg(n));
        if (QFile::exists(keep)) continue;
        QFile copy(keep);
        if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
        const bool kept = copy.write(contents) == contents.size() && copy.flush();
        copy.close();
        if (!kept) copy.remove();
        return kept;
    }
    return false;
}

}  // namespace

bool SettingsStore::WriteValue(const QString& section, const QString& key, const QString& value) {
    if (!KeepUnreadableFile(FilePath())) return false;
    // A writer of its own: the status a settings object reports is the first error it ever
    // met, and a format error seen by an earlier read must not mark this write as failed.
    const std::unique_ptr<QSettings> writer = m_open();
    const QString fullKey = FullKey(section, key);
    const QVariant previous = writer->value(fullKey);
    writer->setValue(fullKey, value);
    writer->sync();
    // A format error met while the rest of the file is read for the rewrite does not stop
    // the write; only a file that could not be written does.
    if (writer->status() != QSettings::AccessError) return true;
    // Not written: the value in force stays what it was, not the one that could not be
    // stored (the settings object would otherwise keep answering with it).
    if (previous.isValid()) {
        writer->setValue(fullKey, previous);
    } else {
        writer->remove(fullKey);
    }
    return false;
}

bool SettingsStore::WriteProfileInt(const QString& section, const QString& key, int value) {
    return WriteValue(section, key, QString::number(value));
}

bool SettingsStore::WriteProfileString(const QString& section, const QString& key,
                                       const QString& value) {
    return WriteValue(section, key, value);
}

int SettingsStore::Read(const IntSetting& option) {
    return GetProfileInt(QLatin1String(kSettingsSection), QLatin1String(option.key),
                         option.defaultValue);
}

QString SettingsStore::Read(const TextSetting& option) {
    return GetProfileString(QLatin1String(kSettingsSection), QLatin1String(option.key),
                            QString::fromUtf8(option.fixedDefault));
}

QString SettingsStore::Read(const PathSetting& option, const FileLocations& locations) {
    return GetProfileString(QLatin1String(kSettingsSection), QLatin1String(option.key),
                            locations.Default(option));
}

void SettingsStore::Write(const IntSetting& option, int value) {
    WriteProfileInt(QLatin1String(kSettingsSection), QLatin1String(option.key), value);
}

void SettingsStore::Write(const TextSetting& option, const QString& value) {
    WriteProfileString(QLatin1String(kSettingsSection), QLatin1String(option.key), value);
}

void SettingsStore::Write(const PathSetting& option, const QString& value) {
    WriteProfileString(QLatin1String(kSettingsSection), QLatin1String(option.key), value);
}

}  // namespace orvane
