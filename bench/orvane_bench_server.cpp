// The Telnet service as a process of its own for the peer comparison: the real listener,
// sessions and `dos` bridge with real shells, on the user's settings file (point HOME and
// XDG_CONFIG_HOME somewhere private first) and a program directory given on the command line.
//
//   orvane_bench_server PROGRAM-DIR
//
// The user database PROGRAM-DIR/ORVANE.DAT is read at start; when it holds no user, one is
// written: "bench" with password "bench", allowed to log in and use dos. Ends on SIGTERM or
// SIGINT after ending its sessions and their shells.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "BenchSupport.h"
#include "app/OrvaneApp.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "platform/ProcessSignals.h"
#include "platform/TerminalProcess.h"
#include "telnet/DosBridge.h"
#include "telnet/TelnetService.h"

namespace {

int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    orvane::IgnoreBrokenPipeSignal();
    using namespace orvane;
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvane_bench_server PROGRAM-DIR\n");
        return 2;
    }
    // The signal only wakes the event loop; the ending happens there.
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    SettingsStore settings;
    bench::SilentMessages messages;
    bench::SilentSound sound;
    bench::NoPower power;
    COrvaneApp app(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/orvane"), settings, messages);
    app.LoadUserDatabase();
    UserTable& users = app.Users();
    if (users.count == 0) {
        users.count = 1;
        users.records[0].canLogin = 1;
        users.records[0].canUseDos = 1;
        CopyText(users.records[0].name, kNameSize, "bench", kNameSize - 1);
        CopyText(users.records[0].password, kPasswordSize, "bench", kPasswordSize - 1);
        if (!app.SaveUserDatabase()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(app.DataFilePath()));
            return 1;
        }
    }

    ActivityLog log(settings, app.Locations());
    PosixInterpreterLauncher launcher;
    PosixTerminalLauncher terminalLauncher;
    TelnetService service(settings, app.Locations(), app.Users(), log,
                          ServerServices{sound, power});
    service.SetBridgeFactory([&](BridgeEndpoint& endpoint) {
        return std::make_unique<DosBridge>(endpoint, launcher, terminalLauncher);
    });
    if (!service.StartServer()) {
        std::fprintf(stderr, "cannot listen on the configured port\n");
        return 1;
    }
    std::printf("listening on port %d\n", service.BoundPort());
    std::fflush(stdout);

    QSocketNotifier stop(g_stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, [&] {
        stop.setEnabled(false);
        service.StopServer();
        ChildReaper::Instance().FinishAll();
        application.quit();
    });
    return application.exec();
}
