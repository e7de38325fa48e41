// The real sound player: it must return at once and stay quiet whatever it is given,
// whether or not the machine has a sound device.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include "TestEnvironment.h"
#include "platform/QtSoundPlayer.h"

namespace orvane {
namespace {

// A mono 8 kHz 16-bit wave file of a tenth of a second of a quiet square wave.
QString WriteSmallWave(const QString& path) {
    const quint32 sampleRate = 8000;
    const quint32 samples = sampleRate / 10;
    const quint32 dataBytes = samples * 2;
    QByteArray wave;
    auto put32 = [&wave](quint32 v) {
        const quint32 le = qToLittleEndian(v);
        wave.append(reinterpret_cast<const char*>(&le), 4);
    };
    auto put16 = [&wave](quint16 v) {
        const quint16 le = qToLittleEndian(v);
        wave.append(reinterpret_cast<const char*>(&le), 2);
    };
    wave.append("RIFF");
    put32(36 + dataBytes);
    wave.append("WAVEfmt ");
    put32(16);
    put16(1);  // PCM
    put16(1);  // mono
    put32(sampleRate);
    put32(sampleRate * 2);
    put16(2);
    put16(16);
    wave.append("data");
    put32(dataBytes);
    for (quint32 i = 0; i < samples; ++i) put16((i / 20) % 2 ? 0x0400 : 0xFC00);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(wave);
    return path;
}

// Collects whatever Qt would print to the operator while it is installed.
class MessageCatcher {
public:
    MessageCatcher() {
        s_messages.clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { s_messages << text; });
    }
    ~MessageCatcher() { qInstallMessageHandler(m_previous); }
    static const QStringList& Messages() { return s_messages; }

private:
    QtMessageHandler m_previous;
    static inline QStringList s_messages;
};

void LetEventsRun(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(QtSoundPlayer, FilesThatCannotBePlayedStaySilentAndReturnAtOnce) {
    const QString dir = test::MakeTempDir(QStringLiteral("sounds"));
    QFile notWave(dir + QStringLiteral("/NOTWAVE.WAV"));
    ASSERT_TRUE(notWave.open(QIODevice::WriteOnly));
    notWave.write("this is not a wave file");
    notWave.close();

    MessageCatcher catcher;
    QtSoundPlayer player;
    QElapsedTimer timer;
    timer.start();
    player.PlayAsync(QString());
    player.PlayAsync(dir + QStringLiteral("/MISSING.WAV"));
    player.PlayAsync(dir);  // a directory, not a file
    player.PlayAsync(notWave.fileName());
    EXPECT_LT(timer.elapsed(), 1000);
    LetEventsRun(200);
    EXPECT_TRUE(catcher.Messages().isEmpty()) << catcher.Messages().join('\n').toStdString();
}

TEST(QtSoundPlayer, WaveFileStartsWithoutWaitingAndCanBePlayedAgain) {
    const QString dir = test::MakeTempDir(QStringLiteral("sounds"));
    const QString login = WriteSmallWave(dir + QStringLiteral("/LOGIN.WAV"));
    const QString logout = WriteSmallWave(dir + QStringLiteral("/LOGOUT.WAV"));
    ASSERT_FALSE(login.isEmpty());

    MessageCatcher catcher;
    QtSoundPlayer player;
    QElapsedTimer timer;
    timer.start();
    player.PlayAsync(login);
    player.PlayAsync(logout);
    player.PlayAsync(login);
    EXPECT_LT(timer.elapsed(), 1000);
    LetEventsRun(300);
    EXPECT_TRUE(catcher.Messages().isEmpty()) << catcher.Messages().join('\n').toStdString();
}

TEST(QtSoundPlayer, PlayingThroughQtWithoutAWorkingDeviceNeitherBlocksNorCrashes) {
    // Forces the way through Qt Multimedia even where there is no sound server, which is
    // what a machine whose sound server has just gone away looks like.
    const QString dir = test::MakeTempDir(QStringLiteral("sounds"));
    const QString login = WriteSmallWave(dir + QStringLiteral("/LOGIN.WAV"));
    ASSERT_FALSE(login.isEmpty());

    MessageCatcher catcher;  // Qt's own complaints about the missing device stay out of the log
    QtSoundPlayer player([] { return true; });
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3; ++i) player.PlayAsync(login);
    EXPECT_LT(timer.elapsed(), 2000);
    LetEventsRun(300);

    // Replacing the file under the same name reloads it while the old effect may still play.
    ASSERT_FALSE(WriteSmallWave(dir + QStringLiteral("/LOGIN.WAV")).isEmpty());
    player.PlayAsync(login);
    LetEventsRun(100);
}

}  // namespace
}  // namespace orvane
