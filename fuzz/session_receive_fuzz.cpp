// Fuzzes a session's receive path: arbitrary byte chunks reach a real CSessionSocket through
// a socket pair on the event loop, from the user-name prompt, the password prompt, the
// command shell or the locked state, and the session must stay sound after every chunk.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "FakeClock.h"
#include "FakeMessageBox.h"
#include "FakePowerControl.h"
#include "FakeSoundPlayer.h"
#include "TestEnvironment.h"
#include "TestUsers.h"
#include "app/OrvaneApp.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"
#include "telnet/SessionSocket.h"
#include "telnet/SessionTimers.h"
#include "telnet/TelnetProtocol.h"
#include "telnet/TelnetService.h"
#include "users/UserMatching.h"

using namespace orvane;

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "session receive fuzz: %s\n", what);
    std::abort();
}

// Everything a session needs of the server, made once per process.
struct Server {
    Server()
        : directory(test::MakeTempDir(QStringLiteral("session-fuzz"))),
          settings(directory + QStringLiteral("/Orvane.conf")),
          app(directory + QStringLiteral("/orvane"), settings, messages),
          log(settings, app.Locations()),
          launcher(CatOptions()),
          service(settings, app.Locations(), app.Users(), log,
                  ServerServices{sound, power, &clock}) {
        // `dos` runs cat: the bridge's whole path is exercised, and nothing typed is ever
        // executed.
        service.SetBridgeFactory([this](BridgeEndpoint& endpoint) {
            ++bridgesMade;
            return std::make_unique<DosBridge>(endpoint, launcher);
        });
        // Entries are formatted and written, but to nowhere that grows.
        settings.Write(setting::LogFile, QStringLiteral("/dev/null"));
        settings.Write(setting::ReverseDNS, 0);
        AddUser("alice", "secret", 1, 1, 1, "");
        AddUser("bob", "hunter2", 1, 0, 0, "Hello bob");
        AddUser("carol", "pw", 0, 1, 1, "");
        QObject::connect(&log, &ActivityLog::entryAdded, [](const ActivityEntry& entry) {
            // A completed line is at most the buffer less its terminator.
            // A line is at most a buffer long; each control byte in it is logged as "\xHH".
            Require(entry.what.size() < 4 * CSessionSocket::kLineBufferSize,
                    "logged line too long");
        });
    }

    void AddUser(const char* name, const char* password, int canLogin, int canDos, int canShutdown,
                 const char* greeting) {
        test::AppendUser(app.Users(),
                         test::MakeUser(name, password, canLogin, canDos, canShutdown, greeting));
    }

    static PosixInterpreterLauncher::Options CatOptions() {
        PosixInterpreterLauncher::Options options;
        options.program = "/bin/cat";
        options.arguments = {};
        return options;
    }

    // Settings are files: write them only when they change between inputs.
    void Configure(int echo, int failedLogins) {
        if (echo != m_echo) settings.Write(setting::EchoBack, m_echo = echo);
        if (failedLogins != m_failedLogins) {
            settings.Write(setting::FailedLogins, m_failedLogins = failedLogins);
        }
    }

    QString directory;
    SettingsStore settings;
    test::FakeMessageBox messages;
    COrvaneApp app;
    ActivityLog log;
    test::FakeSoundPlayer sound;
    test::FakePowerControl power;
    // Delays and timeouts move only when the harness says so: a run never waits for them.
    test::FakeClock clock;
    PosixInterpreterLauncher launcher;
    TelnetService service;
    int bridgesMade = 0;
    int m_echo = -1;
    int m_failedLogins = -1;
};

Server* g_server = nullptr;

int Pending(int fd) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0) return 0;
    return count;
}

// Reads and drops whatever the session has sent, so that its output never backs up.
void Drain(int fd) {
    char buffer[65536];
    for (int i = 0; i < 64; ++i) {
        if (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) return;
    }
}

void RequireSound(const CSessionSocket& session) {
    Require(session.State() >= CSessionSocket::STATE_USERNAME &&
                session.State() <= CSessionSocket::STATE_LOCKED,
            "state out of range");
    Require(session.LineLength() >= 0 && session.LineLength() < CSessionSocket::kLineBufferSize,
            "line length outside the buffer");
    // In line mode a line is complete past 100 bytes, so no more is ever held.
    Require(session.LineLength() <= CSessionSocket::kMaxLineLength, "line held past its limit");
    Require(std::memchr(session.UserName(), 0, CSessionSocket::kFieldSize) != nullptr,
            "user name without its terminator");
    Require(std::memchr(session.Password(), 0, CSessionSocket::kFieldSize) != nullptr,
            "password without its terminator");
    Require(session.FailedLogins() >= 0, "negative failed-login count");
    // Past its limit a session stops reading, so one chunk's replies are all it can add.
    Require(session.PendingOutput() <= CSessionSocket::kDefaultOutputLimit + 256 * 1024,
            "output held far past its limit");
}

// Hands the bytes to the session and runs the event loop until it has taken them, it has
// stopped reading, or a bounded number of turns has passed.
void Feed(CSessionSocket& session, int client, int server, const char* data, int length) {
    int written = 0;
    for (int turn = 0; turn < 256 && written < length; ++turn) {
        const ssize_t sent = ::send(client, data + written, static_cast<size_t>(length - written),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) written += static_cast<int>(sent);
        if (sent < 0 && errno != EAGAIN) break;
        QCoreApplication::processEvents();
        Drain(client);
    }
    for (int turn = 0; turn < 64 && Pending(server) > 0 && !session.IsClosing(); ++turn) {
        QCoreApplication::processEvents();
        Drain(client);
        RequireSound(session);
    }
    RequireSound(session);
}

void FeedText(CSessionSocket& session, int client, int server, const char* text) {
    Feed(session, client, server, text, static_cast<int>(std::strlen(text)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    test::IsolateEnvironmentInMemory();
    static QCoreApplication app(*argc, *argv);
    static Server server;
    g_server = &server;
    return 0;
}

/* The first byte sets the scene: bits 0-1 the state to reach first (user name, password,
   command shell, locked), bit 2 echo, bits 3-4 the failed-login limit (0, 1, 2, 3), bit 5
   whether the power interface accepts a shutdown, bit 6 which user logs in (one with every
   right or one with none), bit 7 whether a logged-in user starts with `dos` (the bridge then
   runs cat). Then each byte gives the length of the next chunk (below 0x80:
   that many bytes; from 0x80: a burst of 32 to 4096 bytes; 0xFF: the client ends its
   sending side), followed by the chunk's bytes. An input of odd length opens the session in
   terminal mode, with the server's own negotiation. */
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    Server& server = *g_server;
    const int bridgesBefore = server.bridgesMade;
    const std::uint8_t scene = data[0];
    const int start = scene & 3;
    const int failedLimits[] = {0, 1, 2, 3};
    const int limit = failedLimits[(scene >> 3) & 3];
    server.Configure((scene >> 2) & 1, limit);
    server.power.acceptExit = (scene >> 5) & 1;

    int pair[2];
    Require(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "no socket pair");
    const int client = pair[0];
    const int serverEnd = pair[1];
    ::fcntl(serverEnd, F_SETFL, ::fcntl(serverEnd, F_GETFL) | O_NONBLOCK);
    TelnetProtocol protocol(TelnetPolicy{size % 2 == 1, ((scene >> 2) & 1) != 0});
    protocol.StartNegotiation();
    const QByteArray offers = protocol.TakeReplies();
    auto session = std::make_unique<CSessionSocket>(server.service, serverEnd, 0, "127.0.0.1",
                                                    "127.0.0.1", std::move(protocol));
    session->SendBuffer(offers.constData(), static_cast<int>(offers.size()));
    session->SendGreeting();
    Drain(client);

    const bool allRights = ((scene >> 6) & 1) == 0;
    const char* name = allRights ? "alice\r" : "bob\r";
    const char* password = allRights ? "secret\r" : "hunter2\r";
    if (start >= 1) FeedText(*session, client, serverEnd, name);
    if (start == 2) FeedText(*session, client, serverEnd, password);
    if (start == 2 && (scene >> 7) & 1) {
        FeedText(*session, client, serverEnd, "dos\r");
        Require(session->State() == CSessionSocket::STATE_DOS || !allRights || session->IsClosing(),
                "dos did not start the bridge");
    }
    if (start == 3) {
        server.Configure((scene >> 2) & 1, 1);
        FeedText(*session, client, serverEnd, "nobody\r");
        FeedText(*session, client, serverEnd, "wrong\r");
        // A refusal is answered, and the session locked, after the failure delay.
        server.clock.Advance(SessionTimers::kFailureDelayMs);
        Require(session->State() == CSessionSocket::STATE_LOCKED, "the limit did not lock");
    }

    std::size_t position = 1;
    while (position < size) {
        const std::uint8_t control = data[position++];
        if (control == 0xFF) {
            ::shutdown(client, SHUT_WR);
            Feed(*session, client, serverEnd, nullptr, 0);
            continue;
        }
        std::size_t length = control < 0x80 ? control : (std::size_t(control & 0x7F) + 1) * 32;
        if (length > size - position) length = size - position;
        Feed(*session, client, serverEnd, reinterpret_cast<const char*>(data + position),
             static_cast<int>(length));
        position += length;
    }

    // The client leaves; the session notices, and nothing of it runs when it goes.
    ::close(client);
    for (int turn = 0; turn < 64 && !session->IsClosing(); ++turn) {
        QCoreApplication::processEvents();
    }
    RequireSound(*session);
    session.reset();
    QCoreApplication::processEvents();
    // Every cat a bridge started is ended and reaped before the next input.
    if (server.bridgesMade != bridgesBefore) ChildReaper::Instance().FinishAll();
    return 0;
}
