// Plays the login and logout sounds through QSoundEffect, silently when it cannot.
#include "platform/QtSoundPlayer.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <utility>

namespace orvane {

namespace {

// Qt's audio on Linux talks to a PulseAudio (or PipeWire) server and complains on the
// terminal when there is none. Looking for the server where its client library would look
// keeps a machine without sound quiet.
bool SoundServerPresent() {
    if (!qEnvironmentVariableIsEmpty("PULSE_SERVER")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/pulse/native"))) {
        return true;
    }
    return QFileInfo::exists(QStringLiteral("/run/pulse/native"));
}

bool SoundDeviceAvailable() {
    return SoundServerPresent() && !QMediaDevices::audioOutputs().isEmpty();
}

}  // namespace

QtSoundPlayer::QtSoundPlayer() : QtSoundPlayer(SoundDeviceAvailable) {}

QtSoundPlayer::QtSoundPlayer(std::function<bool()> soundDeviceAvailable)
    : m_soundDeviceAvailable(std::move(soundDeviceAvailable)) {}
QtSoundPlayer::~QtSoundPlayer() = default;

void QtSoundPlayer::PlayAsync(const QString& filePath) {
    if (filePath.isEmpty()) return;
    const QFileInfo file(filePath);
    if (!file.isFile() || !file.isReadable()) return;
    if (!m_soundDeviceAvailable()) return;

    QSoundEffect* effect = EffectFor(file.absoluteFilePath());
    StopAll();
    effect->play();
}

QSoundEffect* QtSoundPlayer::EffectFor(const QString& filePath) {
    const QFileInfo file(filePath);
    LoadedSound& sound = m_sounds[filePath];
    // The operator may put another file under the same name (the Sounds page does not
    // rename); a loaded effect would keep playing the old one.
    if (sound.effect && sound.modified == file.lastModified() && sound.size == file.size()) {
        return sound.effect.get();
    }
    sound.effect = std::make_unique<QSoundEffect>();
    sound.effect->setSource(QUrl::fromLocalFile(filePath));
    sound.modified = file.lastModified();
    sound.size = file.size();
    return sound.effect.get();
}

void QtSoundPlayer::StopAll() {
    for (auto& [path, sound] : m_sounds) {
        if (sound.effect && sound.effect->isPlaying()) sound.effect->stop();
    }
}

}  // namespace orvane
