// Latency benchmark of the Telnet service: connect to "Username : ", keystroke echo round
// trip and logins per second over loopback, with the server thread's CPU time. The server
// runs on the main thread's event loop; the clients run on a second thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "app/OrvaneApp.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/ProcessSignals.h"
#include "telnet/TelnetService.h"

namespace {

using orvane::bench::Clock;
using orvane::bench::CpuMicros;
using orvane::bench::Micros;
using orvane::bench::Stats;
using orvane::bench::Summarise;
using Client = orvane::bench::TelnetClient;

void RunClients(int port, clockid_t serverClock, int* failures) {
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "failed: %s\n", what);
        ++*failures;
    };
    // Connect to "Username : ", one client at a time.
    std::vector<double> connectTimes;
    double cpu0 = CpuMicros(serverClock);
    for (int i = 0; i < 200; ++i) {
        Client client;
        const auto start = Clock::now();
        if (!client.Connect(port) || !client.WaitFor("Username : ")) {
            fail("connect");
            return;
        }
        connectTimes.push_back(Micros(Clock::now() - start));
        client.Close();
    }
    const double connectCpu = (CpuMicros(serverClock) - cpu0) / 200;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // Full logins per second: connect, name, password, prompt, close.
    const int loginRounds = 200;
    cpu0 = CpuMicros(serverClock);
    auto start = Clock::now();
    for (int i = 0; i < loginRounds; ++i) {
        Client client;
        if (!client.Connect(port) || !client.WaitFor("Username : ")) return fail("login connect");
        client.Send("bench\r");
        if (!client.WaitFor("Password : ")) return fail("password prompt");
        client.Send("bench\r");
        if (!client.WaitFor("\r\n> ")) return fail("login");
        client.Close();
    }
    const double loginSeconds = Micros(Clock::now() - start) / 1e6;
    const double loginCpu = (CpuMicros(serverClock) - cpu0) / loginRounds;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // Ten sessions logged in at once.
    std::vector<Client> sessions(10);
    for (Client& session : sessions) {
        if (!session.Connect(port) || !session.WaitFor("Username : ")) return fail("session");
        session.Send("bench\r");
        session.WaitFor("Password : ");
        session.Send("bench\r");
        if (!session.WaitFor("\r\n> ")) return fail("session login");
    }

    // Keystroke echo, round robin over the sessions; every 50 keys the line is sent.
    std::vector<double> echoTimes;
    cpu0 = CpuMicros(serverClock);
    const int keystrokes = 5000;
    for (int k = 0; k < keystrokes; ++k) {
        Client& session = sessions[static_cast<size_t>(k % 10)];
        const auto sent = Clock::now();
        session.Send("k");
        if (!session.WaitFor("k")) return fail("echo");
        echoTimes.push_back(Micros(Clock::now() - sent));
        if ((k / 10) % 50 == 49 && k % 10 == 9) {
            for (Client& each : sessions) {
                each.Send("\r");
                if (!each.WaitFor("\r\n> ")) return fail("line");
            }
        }
    }
    const double echoCpu = (CpuMicros(serverClock) - cpu0) / keystrokes;

    // Idle: ten sessions connected, nobody types.
    cpu0 = CpuMicros(serverClock);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double idleCpu = CpuMicros(serverClock) - cpu0;
    for (Client& session : sessions) session.Close();

    const Stats connect = Summarise(connectTimes);
    const Stats echo = Summarise(echoTimes);
    std::printf(
        "connect to \"Username : \": median %.0f us, p99 %.0f us (200 samples); "
        "server CPU %.0f us per connection\n",
        connect.median, connect.p99, connectCpu);
    std::printf(
        "keystroke echo round trip: median %.0f us, p99 %.0f us (%d samples, 10 "
        "sessions); server CPU %.1f us per keystroke\n",
        echo.median, echo.p99, keystrokes, echoCpu);
    std::printf(
        "logins: %.0f per second (connect + name + password + prompt + close); "
        "server CPU %.0f us per login\n",
        loginRounds / loginSeconds, loginCpu);
    std::printf("server CPU while 10 sessions sit idle for 1 s: %.0f us\n", idleCpu);
}

}  // namespace

int main(int argc, char** argv) {
    orvane::IgnoreBrokenPipeSignal();
    QCoreApplication application(argc, argv);
    QTemporaryDir directory;
    if (!directory.isValid()) return 1;
    orvane::SettingsStore settings(directory.filePath(QStringLiteral("Orvane.conf")));
    settings.Write(orvane::setting::PortNr, 0);
    settings.Write(orvane::setting::ReverseDNS, 0);
    settings.Write(orvane::setting::LogFile, directory.filePath(QStringLiteral("bench.log")));
    orvane::bench::SilentMessages messages;
    orvane::bench::SilentSound sound;
    orvane::bench::NoPower power;
    orvane::COrvaneApp app(directory.filePath(QStringLiteral("orvane")), settings, messages);
    orvane::UserTable& users = app.Users();
    users.count = 1;
    users.records[0].canLogin = 1;
    orvane::CopyText(users.records[0].name, orvane::kNameSize, "bench", 10);
    orvane::CopyText(users.records[0].password, orvane::kPasswordSize, "bench", 10);
    orvane::ActivityLog log(settings, app.Locations());
    orvane::TelnetService service(settings, app.Locations(), app.Users(), log,
                                  orvane::ServerServices{sound, power});
    if (!service.StartServer()) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    const int port = service.BoundPort();
    clockid_t serverClock;
    pthread_getcpuclockid(pthread_self(), &serverClock);

    int failures = 0;
    std::thread clients([&] {
        RunClients(port, serverClock, &failures);
        QMetaObject::invokeMethod(&application, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    application.exec();
    clients.join();
    service.StopServer();
    return failures == 0 ? 0 : 1;
}
