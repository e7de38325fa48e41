// A complete server for loopback tests: its own program directory, settings file, user
// table, activity log and faked power and sound, listening on a free port of 127.0.0.1
// (ListenAddress can point it at ::1 before Start).
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

#include "FakeMessageBox.h"
#include "FakePowerControl.h"
#include "FakeSoundPlayer.h"
#include "LoopbackClient.h"
#include "app/OrvaneApp.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "telnet/TelnetService.h"

namespace orvane::test {

inline constexpr const char* kGreetingBytes =
    "Please Wait...Connection Accepted (Orvane 1.5)\r\n\r\nUsername : ";

class TelnetServerFixture {
public:
    // With a clock, the server's timeouts, delays and penalties run on it (a FakeClock).
    explicit TelnetServerFixture(Clock* clock = nullptr);
    ~TelnetServerFixture();

    // A user in the next free slot of the live table.
    void AddUser(const char* name, const char* password, int canLogin = 1, int canDos = 0,
                 int canShutdown = 0, const char* greeting = "");
    // Starts listening; the bound port, or 0 on failure.
    int Start();
    // A connected client that has read the whole greeting (Take() then holds nothing).
    std::unique_ptr<LoopbackClient> Connect();
    // Sends name and password and reads up to the first prompt.
    bool Login(LoopbackClient& client, const char* name, const char* password);

    QByteArray LogFileContents() const;
    // The "what" texts of every activity entry so far, in order.
    std::vector<QByteArray> Whats() const;

    QString directory;
    QString logFile;
    SettingsStore settings;
    FakeMessageBox messages;
    COrvaneApp app;
    ActivityLog log;
    FakeSoundPlayer sound;
    FakePowerControl power;
    TelnetService service;
    std::vector<ActivityEntry> entries;
    std::vector<int> countChanges;
    int port = 0;
};

}  // namespace orvane::test
