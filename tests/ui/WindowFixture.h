// A main window on a real Telnet service, with fakes only where the platform begins.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTcpSocket>
#include <functional>
#include <memory>

#include "FakeMessageBox.h"
#include "FakePowerControl.h"
#include "FakeSoundPlayer.h"
#include "TestEnvironment.h"
#include "app/OrvaneApp.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/FileChooser.h"
#include "telnet/TelnetService.h"
#include "ui/OrvaneDlg.h"

namespace orvane::test {

class NoFileChooser final : public FileChooser {
public:
    QString ChooseFile(QWidget*, const FileChooserRequest&) override { return {}; }
};

// Turns the event loop until the condition holds; bounded in time.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A Telnet client on 127.0.0.1 that lives on the same event loop as the server.
class LoopbackClient final {
public:
    bool Connect(int port) {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        return WaitUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }
    void Close() { m_socket.abort(); }
    // True once the server has closed the connection.
    bool WaitForEnd() {
        return WaitUntil([this] {
            m_socket.readAll();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        });
    }

private:
    QTcpSocket m_socket;
};

class WindowFixture : public ::testing::Test {
protected:
    WindowFixture()
        : m_programDir(MakeTempDir(QStringLiteral("program"))),
          settings(m_programDir + QStringLiteral("/Orvane.conf")),
          app(m_programDir + QStringLiteral("/orvane"), settings, messages),
          log(settings, app.Locations()) {
        // Port 0: the system picks a free port; the service tells which.
        settings.Write(setting::PortNr, 0);
        settings.Write(setting::ListenAddress, QStringLiteral("127.0.0.1"));
        settings.Write(setting::ReverseDNS, 0);
    }

    // Made on demand so that a test can change settings first.
    COrvaneDlg& Window(bool trayAvailable = true) {
        if (!m_window) {
            server = std::make_unique<TelnetService>(settings, app.Locations(), app.Users(), log,
                                                     ServerServices{sound, power});
            m_window = std::make_unique<COrvaneDlg>(
                app, *server, log, MainWindowServices{messages, sound, chooser, trayAvailable});
        }
        return *m_window;
    }

    // Shows the window and lets its posted start of the server run.
    COrvaneDlg& ShownWindow(bool trayAvailable = true) {
        COrvaneDlg& window = Window(trayAvailable);
        window.show();
        WaitUntil([this] { return server->IsListening(); }, 1000);
        return window;
    }

    QString m_programDir;
    FakeMessageBox messages;
    FakeSoundPlayer sound;
    FakePowerControl power;
    NoFileChooser chooser;
    SettingsStore settings;
    COrvaneApp app;
    ActivityLog log;
    std::unique_ptr<TelnetService> server;
    std::unique_ptr<COrvaneDlg> m_window;
};

}  // namespace orvane::test
