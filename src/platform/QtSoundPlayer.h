// The sound player on Qt Multimedia: starts a wave file and returns at once.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "platform/SoundPlayer.h"

class QSoundEffect;

namespace orvane {

class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    // Tests replace the question whether the machine can play sound at all.
    explicit QtSoundPlayer(std::function<bool()> soundDeviceAvailable);
    ~QtSoundPlayer() override;
    Q_DISABLE_COPY_MOVE(QtSoundPlayer)

    // Plays the file without waiting for it. Like the system call it stands in for, one
    // sound plays at a time: a new one stops the one still playing. An empty path, a
    // missing file, a file that is not a wave file or a machine without a sound device
    // stay silent.
    void PlayAsync(const QString& filePath) override;

private:
    struct LoadedSound {
        std::unique_ptr<QSoundEffect> effect;
        QDateTime modified;  // of the file when it was loaded
        qint64 size = -1;
    };

    QSoundEffect* EffectFor(const QString& filePath);
    void StopAll();

    std::function<bool()> m_soundDeviceAvailable;

    // One effect per file, kept for the program's life: an effect must outlive its
    // playback, and the login and logout sounds are played again and again.
    std::map<QString, LoadedSound> m_sounds;
};

}  // namespace orvane
