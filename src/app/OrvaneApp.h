// The application object: the program's paths, its settings store and the live user table.
#pragma once

#include <QString>

#include "config/FileLocations.h"
#include "config/SettingsStore.h"
#include "users/UserDatabase.h"
#include "users/UserRecord.h"

namespace orvane {

class MessageBoxService;

class COrvaneApp final {
public:
    COrvaneApp(const QString& programPath, SettingsStore& settings, MessageBoxService& messages);
    COrvaneApp(const COrvaneApp&) = delete;
    COrvaneApp& operator=(const COrvaneApp&) = delete;

    const FileLocations& Locations() const { return m_locations; }
    SettingsStore& Settings() { return m_settings; }
    MessageBoxService& Messages() { return m_messages; }

    // The live table: logins read it; the configuration sheet replaces it on OK.
    UserTable& Users() { return m_users; }
    const QString& DataFilePath() const { return m_locations.DataFilePath(); }

    UserDatabase& Database() { return m_database; }
    void LoadUserDatabase() { m_database.Load(m_users); }
    bool SaveUserDatabase() { return m_database.Save(m_users); }

    QString DefaultLogFile() const { return m_locations.DefaultLogFile(); }
    QString LoginSoundFile() { return m_settings.Read(setting::S1FileName, m_locations); }
    QString LogoutSoundFile() { return m_settings.Read(setting::S2FileName, m_locations); }

private:
    FileLocations m_locations;
    SettingsStore& m_settings;
    MessageBoxService& m_messages;
    UserDatabase m_database;
    UserTable m_users;
};

}  // namespace orvane
