// Settings store on QSettings, re-read before every access.
#include "config/SettingsStore.h"

#include <QSettings>

#include "app/FileLocations.h"

namespace orvane {

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Quorvex"), QStringLiteral("Orvane"))) {}

SettingsStore::SettingsStore(const QString& iniFilePath)
    : m_settings(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::FilePath() const { return m_settings->fileName(); }

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
    int value = 0;
    if (stored.typeId() == QMetaType::Int) return stored.toInt();
    if (!stored.canConvert<QString>() || !ParseStoredInt(stored.toString(), &value)) {
        return defaultValue;
    }
    return value;
}

QString SettingsStore::GetProfileString(const QString& section, const QString& key,
                                        const QString& defaultValue) {
    m_settings->sync();
    const QVariant stored = m_settings->value(FullKey(section, key));
    if (!stored.isValid() || !stored.canConvert<QString>()) return defaultValue;
    // A list (an unquoted comma in a hand-edited file) is not a text value.
    if (stored.typeId() == QMetaType::QStringList) return stored.toStringList().join(QLatin1Char(','));
    return stored.toString();
}

bool SettingsStore::WriteProfileInt(const QString& section, const QString& key, int value) {
    m_settings->setValue(FullKey(section, key), value);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

bool SettingsStore::WriteProfileString(const QString& section, const QString& key,
                                       const QString& value) {
    m_settings->setValue(FullKey(section, key), value);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

int SettingsStore::Read(const IntSetting& option) {
    return GetProfileInt(QLatin1String(kSettingsSection), QLatin1String(option.key),
                         option.defaultValue);
}

QString SettingsStore::Read(const TextSetting& option, const FileLocations* locations) {
    QString fallback = QString::fromUtf8(option.fixedDefault);
    if (locations) {
        switch (option.source) {
            case TextDefault::Fixed: break;
            case TextDefault::DefaultLogFile: fallback = locations->DefaultLogFile(); break;
            case TextDefault::LoginSound: fallback = locations->DefaultLoginSound(); break;
            case TextDefault::LogoutSound: fallback = locations->DefaultLogoutSound(); break;
        }
    }
    return GetProfileString(QLatin1String(kSettingsSection), QLatin1String(option.key), fallback);
}

void SettingsStore::Write(const IntSetting& option, int value) {
    WriteProfileInt(QLatin1String(kSettingsSection), QLatin1String(option.key), value);
}

void SettingsStore::Write(const TextSetting& option, const QString& value) {
    WriteProfileString(QLatin1String(kSettingsSection), QLatin1String(option.key), value);
}

}  // namespace orvane
