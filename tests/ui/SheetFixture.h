// A configuration sheet over a temporary program directory, settings file and autostart list,
// with recording fakes for the sound player and a scripted file chooser.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <deque>
#include <memory>
#include <vector>

#include "FakeMessageBox.h"
#include "TestEnvironment.h"
#include "app/OrvaneApp.h"
#include "config/SettingsStore.h"
#include "platform/FileChooser.h"
#include "platform/SoundPlayer.h"
#include "ui/ConfigSheet.h"

namespace orvane::test {

class RecordingSoundPlayer final : public SoundPlayer {
public:
    void PlayAsync(const QString& filePath) override { played.push_back(filePath); }
    std::vector<QString> played;
};

class ScriptedFileChooser final : public FileChooser {
public:
    QString ChooseFile(QWidget*, const FileChooserRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) return {};
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<FileChooserRequest> requests;
    std::deque<QString> answers;  // empty answer = chooser closed without a file
};

class SheetFixture : public ::testing::Test {
protected:
    SheetFixture()
        : m_dir(MakeTempDir(QStringLiteral("prog"))),
          m_settingsPath(m_dir + QStringLiteral("/settings.ini")),
          m_settings(m_settingsPath),
          m_app(m_dir + QStringLiteral("/orvane"), m_settings, m_messages) {
        m_savedConfigDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", MakeTempDir(QStringLiteral("xdg")).toUtf8());
    }
    ~SheetFixture() override { qputenv("XDG_CONFIG_DIRS", m_savedConfigDirs); }

    std::unique_ptr<CConfigSheet> OpenSheet() {
        return std::make_unique<CConfigSheet>(m_app, m_messages, m_sound, m_chooser);
    }

    // Every key the settings file holds, as "Settings/Key".
    QStringList StoredKeys() const {
        QSettings file(m_settingsPath, QSettings::IniFormat);
        QStringList keys = file.allKeys();
        keys.sort();
        return keys;
    }
    bool IsStored(const char* key) const {
        return StoredKeys().contains(QStringLiteral("Settings/") + QLatin1String(key));
    }

    template <typename T>
    static T* Control(QWidget& page, const char* id) {
        T* control = page.findChild<T*>(QLatin1String(id));
        EXPECT_NE(control, nullptr) << "no control " << id;
        return control;
    }

    QString m_dir;
    QString m_settingsPath;
    SettingsStore m_settings;
    FakeMessageBox m_messages;
    COrvaneApp m_app;
    RecordingSoundPlayer m_sound;
    ScriptedFileChooser m_chooser;
    QByteArray m_savedConfigDirs;
};

}  // namespace orvane::test
