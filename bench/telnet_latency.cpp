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

#include "app/ActivityLog.h"
#include "app/OrvaneApp.h"
#include "config/SettingsStore.h"
#include "platform/MessageBox.h"
#include "platform/PowerControl.h"
#include "platform/SoundPlayer.h"
#include "telnet/TelnetService.h"

namespace {

using Clock = std::chrono::steady_clock;

class SilentMessages final : public orvane::MessageBoxService {
public:
    orvane::MessageAnswer Show(const QString&, orvane::MessageIcon,
                               orvane::MessageButtons) override {
        return orvane::MessageAnswer::No;
    }
};
class SilentSound final : public orvane::SoundPlayer {
public:
    void PlayAsync(const QString&) override {}
};
// Refuses everything: the benchmark never asks, and could never end the machine.
class NoPower final : public orvane::PowerControl {
public:
    orvane::PrivilegeStepResult OpenProcessToken() override { return {false, 1, {}}; }
    orvane::PrivilegeStepResult LookupShutdownPrivilege() override { return {false, 1, {}}; }
    orvane::PrivilegeStepResult EnableShutdownPrivilege() override { return {false, 1, {}}; }
    bool ExitWindows(unsigned) override { return false; }
};

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double CpuMicros(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

struct Client {
    int fd = -1;
    std::string received;

    bool Connect(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    void Send(const std::string& bytes) const {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Reads until `text` has arrived (bounded to 2 s); drops what came before it.
    bool WaitFor(const std::string& text) {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (received.find(text) == std::string::npos) {
            if (Clock::now() > deadline) return false;
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            received.append(buffer, static_cast<size_t>(got));
        }
        received.erase(0, received.find(text) + text.size());
        return true;
    }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

struct Stats {
    double median = 0, p99 = 0;
};
Stats Summarise(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2],
            samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

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
    QCoreApplication application(argc, argv);
    QTemporaryDir directory;
    if (!directory.isValid()) return 1;
    orvane::SettingsStore settings(directory.filePath(QStringLiteral("Orvane.conf")));
    settings.Write(orvane::setting::PortNr, 0);
    settings.Write(orvane::setting::ReverseDNS, 0);
    settings.Write(orvane::setting::LogFile, directory.filePath(QStringLiteral("bench.log")));
    SilentMessages messages;
    SilentSound sound;
    NoPower power;
    orvane::COrvaneApp app(directory.filePath(QStringLiteral("orvane")), settings, messages);
    orvane::UserTable& users = app.Users();
    users.count = 1;
    users.records[0].canLogin = 1;
    orvane::CopyText(users.records[0].name, orvane::kNameSize, "bench", 10);
    orvane::CopyText(users.records[0].password, orvane::kPasswordSize, "bench", 10);
    orvane::ActivityLog log(settings, app.Locations());
    orvane::TelnetService service(app, log, orvane::ServerServices{sound, power});
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
