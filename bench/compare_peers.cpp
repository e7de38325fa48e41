// The client side of bench/compare-peers.sh: measures one running server, and turns the
// figures of several runs into the Markdown table.
//
//   compare_peers measure NAME KIND PORT SERVER-PID [mebibytes=64] [idle-seconds=10]
//                 [connects=100]
//       KIND: orvane (log in as bench/bench, then `dos`), orvane-terminal (the same in
//       terminal mode: the shell on a pseudo-terminal echoes, lines end with CR as a
//       character-mode client ends them), telnet (a shell at once, with option
//       negotiation) or raw (a shell on plain pipes: no prompt, no echo).
//       Prints one line: NAME followed by key=value figures.
//   compare_peers report FILE [A/B ...]
//       Reads such lines and prints the table of medians with the ratios A / B (by
//       default the first server's to every other).
//   compare_peers free-port
//       Prints a port of 127.0.0.1 that was free a moment ago.
//   compare_peers terminal-alone [mebibytes=64]
//       The output command's shell on a pseudo-terminal of its own, read as fast as the
//       kernel hands it over and thrown away: no server, no socket, no client. Prints the
//       line of a server called terminal-alone.
#include <pthread.h>
#include <pty.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "BenchSupport.h"

namespace {

using namespace orvane::bench;

enum class Kind { Orvane, OrvaneTerminal, Telnet, Raw };

struct Target {
    Kind kind;
    int port;
    long pid;
    int connects = 100;
    bool orvane() const { return kind == Kind::Orvane || kind == Kind::OrvaneTerminal; }
    std::string lineEnd() const {
        return kind == Kind::Raw ? "\n" : kind == Kind::OrvaneTerminal ? "\r" : "\r\n";
    }
};

std::map<std::string, double> g_figures;
int g_failures = 0;

void Fail(const char* what) {
    std::fprintf(stderr, "failed: %s\n", what);
    ++g_failures;
}

// A shell's first prompt: an account's login shell may read slow start-up files first.
constexpr int kShellStartMs = 30000;
// Single-session transfers per run; the figure is their median.
constexpr int kSingleTransfers = 3;

// Connects and waits for the first prompt byte: "Username : " from Orvane, the shell's
// "# " or "$ " from a Telnet peer, the answer to a first command from a raw shell.
bool ConnectToPrompt(TelnetClient& client, const Target& target) {
    if (!client.Connect(target.port)) return false;
    switch (target.kind) {
        case Kind::Orvane:
        case Kind::OrvaneTerminal:
            return client.WaitFor("Username : ");
        case Kind::Telnet:
            return client.WaitForAny({"# ", "$ "}, kShellStartMs) >= 0;
        case Kind::Raw:
            return client.Send("echo RE''ADY\n") && client.WaitFor("READY");
    }
    return false;
}

// Waits until the shell has taken in and answered everything sent so far, and (when it
// has one) shown its next prompt, so that no prompt byte is mistaken for a later echo.
bool Sync(TelnetClient& client, const Target& target, int timeoutMs = 10000) {
    if (!client.Send("echo SY''NC" + target.lineEnd()) || !client.WaitFor("SYNC", timeoutMs))
        return false;
    return target.kind == Kind::Raw || client.WaitForAny({"# ", "$ "}, timeoutMs) >= 0;
}

bool LogIn(TelnetClient& client) {
    return client.Send("bench\r\n") && client.WaitFor("Password : ") && client.Send("bench\r\n") &&
           client.WaitFor("\r\n> ");
}

bool EnterDos(TelnetClient& client, const Target& target) {
    if (target.kind == Kind::OrvaneTerminal) {
        // Measured with EchoBack=0, so that only the terminal echoes; "dos" then has none.
        return client.Send("dos\r\n") && client.WaitForAny({"# ", "$ "}, kShellStartMs) >= 0 &&
               Sync(client, target, kShellStartMs);
    }
    // The rest of the chunk that holds "dos" is not the shell's: wait for the echo first.
    return client.Send("dos\r\n") && client.WaitFor("dos\r\n") && Sync(client, target);
}

// A session as far as the server gives it without a shell (Orvane: logged in).
bool OpenSession(TelnetClient& client, const Target& target) {
    if (!ConnectToPrompt(client, target)) return false;
    if (target.orvane()) return LogIn(client);
    return Sync(client, target, kShellStartMs);
}

void MeasureConnect(const Target& target) {
    std::vector<double> times, shellTimes;
    for (int i = 0; i < target.connects; ++i) {
        TelnetClient client;
        const auto start = Clock::now();
        if (!ConnectToPrompt(client, target)) return Fail("connect to prompt");
        times.push_back(Micros(Clock::now() - start));
        if (target.orvane() && i < 30) {
            // The way to a shell prompt, for comparison with the peers' first prompt.
            if (!LogIn(client)) return Fail("login");
            const bool shell =
                target.kind == Kind::OrvaneTerminal
                    ? client.Send("dos\r\n") && client.WaitForAny({"# ", "$ "}, kShellStartMs) >= 0
                    : client.Send("dos\r\n") && client.WaitFor("dos\r\n") &&
                          client.WaitForAny({"# ", "$ "}) >= 0;
            if (!shell) return Fail("login and dos");
            shellTimes.push_back(Micros(Clock::now() - start));
        }
        client.Close();
    }
    const Stats stats = Summarise(times);
    g_figures["connect_us"] = stats.median;
    g_figures["connect_p99_us"] = stats.p99;
    if (!shellTimes.empty()) g_figures["connect_shell_us"] = Median(shellTimes);
}

// Keystroke round trips: one '#' at a time (a comment to every shell), the line ended and
// synchronised every 50 keys.
bool MeasureEcho(TelnetClient& client, const Target& target, const char* key, int samples) {
    if (target.kind == Kind::Raw) return true;  // plain pipes echo nothing
    std::vector<double> times;
    for (int k = 0; k < samples; ++k) {
        const auto sent = Clock::now();
        if (!client.Send("#") || !client.WaitFor("#")) {
            Fail("echo");
            return false;
        }
        times.push_back(Micros(Clock::now() - sent));
        if (k % 50 == 49 && !(client.Send(target.lineEnd()) && Sync(client, target))) {
            Fail("echo line");
            return false;
        }
    }
    const Stats stats = Summarise(times);
    g_figures[std::string(key) + "_us"] = stats.median;
    g_figures[std::string(key) + "_p99_us"] = stats.p99;
    return Sync(client, target);
}

// Runs the output command in every session at once; the wall time until the last marker.
double Transfer(std::vector<TelnetClient*> sessions, qint64 bytesEach, const Target& target) {
    std::atomic<int> failed{0};
    const auto start = Clock::now();
    std::vector<std::thread> readers;
    for (TelnetClient* session : sessions) {
        readers.emplace_back([&, session] {
            QByteArray command = OutputCommand(bytesEach);
            if (target.kind != Kind::Raw) command.replace("\n", "\r\n");
            if (!session->Send(command.toStdString()) || !session->WaitFor(kEndMarker, 300000))
                ++failed;
        });
    }
    for (std::thread& reader : readers) reader.join();
    const double seconds = Seconds(Clock::now() - start);
    if (failed) {
        Fail("transfer");
        return -1;
    }
    for (TelnetClient* session : sessions) Sync(*session, target);
    return seconds;
}

void Measure(const Target& target, qint64 mebibytes, int idleSeconds) {
    MeasureConnect(target);
    if (g_failures) return;

    std::vector<std::unique_ptr<TelnetClient>> sessions;
    for (int i = 0; i < 10; ++i) sessions.push_back(std::make_unique<TelnetClient>());
    TelnetClient& first = *sessions[0];

    // Memory: one session, then nine more; the difference per session. Orvane's sessions
    // are counted logged in without a shell, then again each with its shell.
    if (!OpenSession(first, target)) return Fail("first session");
    if (target.orvane() && !EnterDos(first, target)) return Fail("first dos");
    ProcessSet set = ServerProcesses(target.pid);
    const long serverOne = PssKilobytes(set.server), shellsOne = PssKilobytes(set.shells);
    for (int i = 1; i < 10; ++i) {
        if (!OpenSession(*sessions[i], target)) return Fail("session");
    }
    set = ServerProcesses(target.pid);
    const long serverTen = PssKilobytes(set.server), shellsTen = PssKilobytes(set.shells);
    g_figures["session_pss_kb"] = (serverTen - serverOne) / 9.0;

    // Idle: ten sessions, one shell open (the peers' sessions all have one), nobody types.
    double cpu = CpuSeconds(set.server);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    g_figures["idle_cpu_s"] = CpuSeconds(ServerProcesses(target.pid).server) - cpu;

    if (target.orvane()) {
        for (int i = 1; i < 10; ++i) {
            if (!EnterDos(*sessions[i], target)) return Fail("dos");
        }
        set = ServerProcesses(target.pid);
        g_figures["session_shell_pss_kb"] =
            (PssKilobytes(set.server) + PssKilobytes(set.shells) - serverOne - shellsOne) / 9.0;
    } else {
        g_figures["session_shell_pss_kb"] = (serverTen + shellsTen - serverOne - shellsOne) / 9.0;
    }

    if (!MeasureEcho(first, target, "echo", 1000)) return;

    // One session, then all ten at once. One transfer of a second or so swings with where
    // the scheduler puts the shell, the kernel's workers and the server: the median of a few.
    const qint64 payload = mebibytes << 20;
    set = ServerProcesses(target.pid);
    cpu = CpuSeconds(set.server);
    std::vector<double> rates;
    for (int i = 0; i < kSingleTransfers; ++i) {
        const double seconds = Transfer({&first}, payload, target);
        if (seconds <= 0) return;
        rates.push_back(mebibytes / seconds);
    }
    g_figures["single_mib_s"] = Median(rates);
    g_figures["single_cpu_s"] = (CpuSeconds(set.server) - cpu) / kSingleTransfers;

    std::vector<TelnetClient*> all;
    for (auto& session : sessions) all.push_back(session.get());
    const qint64 each = payload / 4;  // ten sessions of 16 MiB
    set = ServerProcesses(target.pid);
    cpu = CpuSeconds(set.server);
    const double seconds = Transfer(all, each, target);
    if (seconds <= 0) return;
    g_figures["ten_mib_s"] = (mebibytes / 4.0 * 10) / seconds;
    g_figures["ten_cpu_s"] = CpuSeconds(set.server) - cpu;

    // Echo while the nine others stream endless shell output, read as fast as it comes.
    std::atomic<bool> stop{false};
    std::vector<std::thread> streams;
    for (int i = 1; i < 10; ++i) {
        TelnetClient* session = sessions[i].get();
        streams.emplace_back([&, session] {
            session->Send("yes 'orvane-bridge-benchmark-line-0123456789-abcdefghijklmnopqrstuv'" +
                          target.lineEnd());
            while (!stop) session->Drain(100);
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    set = ServerProcesses(target.pid);
    cpu = CpuSeconds(set.server);
    const auto loadedStart = Clock::now();
    MeasureEcho(first, target, "echo_loaded", 1000);
    // How busy the server was meanwhile: near 1 means the keystrokes queued behind output.
    g_figures["loaded_cpu_share"] =
        (CpuSeconds(set.server) - cpu) / Seconds(Clock::now() - loadedStart);
    stop = true;
    for (std::thread& stream : streams) stream.join();
    // Abrupt ends: the servers must end the shells and their `yes` themselves.
    for (auto& session : sessions) session->Close();
}

// The output command on a pseudo-terminal whose master side nobody but this reads: what a
// server that reads a terminal cannot beat on this machine, whatever it does with the bytes.
double TerminalAloneRate(qint64 mebibytes) {
    const QByteArray command = OutputCommand(mebibytes << 20);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return -1;
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto start = Clock::now();
    std::vector<char> buffer(64 * 1024);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(master, buffer.data(), buffer.size());
        if (got > 0) {
            total += got;
        } else if (got == 0 || errno != EINTR) {
            break;  // EIO once the shell and what it started have let go of the terminal
        }
    }
    const double seconds = Seconds(Clock::now() - start);
    ::close(master);
    ::waitpid(pid, nullptr, 0);
    return total >= (mebibytes << 20) ? mebibytes / seconds : -1;
}

int MeasureTerminalAlone(qint64 mebibytes) {
    std::vector<double> rates;
    for (int i = 0; i < kSingleTransfers; ++i) {
        const double rate = TerminalAloneRate(mebibytes);
        if (rate <= 0) {
            Fail("terminal alone");
            return 1;
        }
        rates.push_back(rate);
    }
    g_figures["single_mib_s"] = Median(rates);
    return 0;
}

void PrintFigures(const char* name) {
    std::printf("%s", name);
    for (const auto& [key, value] : g_figures) std::printf(" %s=%.6g", key.c_str(), value);
    std::printf("\n");
}

// The report: medians per server and figure, and Orvane's ratios to the peers.
int Report(const char* path, const QStringList& pairs) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    std::vector<std::string> names;
    std::map<std::string, std::map<std::string, std::vector<double>>> samples;
    std::map<std::string, int> runs;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2) continue;
        const std::string name = words[0].toStdString();
        if (!runs.count(name)) names.push_back(name);
        ++runs[name];
        for (qsizetype i = 1; i < words.size(); ++i) {
            const QList<QByteArray> pair = words[i].split('=');
            if (pair.size() == 2)
                samples[name][pair[0].toStdString()].push_back(pair[1].toDouble());
        }
    }
    // NaN: not measured for this server.
    auto value = [&](const std::string& name, const std::string& key) -> double {
        auto it = samples[name].find(key);
        return it == samples[name].end() ? std::nan("") : Median(it->second);
    };
    struct Row {
        const char* key;
        const char* label;
        const char* unit;
        double scale;
        const char* target;
        const char* terminalTarget;  // orvane-term beside busybox-login
    };
    const Row rows[] = {
        {"connect_us", "connect to first prompt, median", "ms", 1e-3,
         "Orvane \"Username : \" < 3 ms", ""},
        {"connect_p99_us", "connect to first prompt, p99", "ms", 1e-3, "", ""},
        {"connect_shell_us", "Orvane: connect, log in, dos, shell prompt (median)", "ms", 1e-3, "",
         ""},
        {"echo_us", "keystroke echo round trip, median (idle)", "us", 1, "below busybox",
         "at or below busybox"},
        {"echo_p99_us", "keystroke echo round trip, p99 (idle)", "us", 1, "", ""},
        {"echo_loaded_us", "echo round trip, median, 9 sessions streaming", "us", 1,
         "below busybox", ""},
        {"echo_loaded_p99_us", "echo round trip, p99, 9 sessions streaming", "us", 1, "< 2000 us",
         ""},
        {"loaded_cpu_share", "server CPU share meanwhile (1 = one core)", "", 1, "", ""},
        {"single_mib_s", "shell output, 1 session (MiB/s)", "MiB/s", 1, ">= 0.80 x socat",
         ">= 1.5 x busybox"},
        {"single_cpu_s", "server CPU for 64 MiB, 1 session", "s", 1, "", ""},
        {"ten_mib_s", "shell output, 10 sessions x 16 MiB (aggregate MiB/s)", "MiB/s", 1,
         ">= 0.80 x socat", ""},
        {"ten_cpu_s", "server CPU for 10 x 16 MiB", "s", 1, "", ""},
        {"idle_cpu_s", "server CPU idle 10 s (10 sessions, 1 shell)", "s", 1, "0.00", "0.00"},
        {"session_pss_kb", "PSS per extra session, without its shell", "kB", 1, "<= 100 kB", ""},
        {"session_shell_pss_kb", "PSS per extra session, with its shell", "kB", 1, "<= 350 kB", ""},
    };
    std::vector<std::pair<std::string, std::string>> ratios;
    for (const QString& pair : pairs) {
        const QStringList sides = pair.split(QLatin1Char('/'));
        if (sides.size() == 2) ratios.emplace_back(sides[0].toStdString(), sides[1].toStdString());
    }
    if (ratios.empty()) {
        for (std::size_t i = 1; i < names.size(); ++i) ratios.emplace_back(names[0], names[i]);
    }
    const bool terminal = samples.count("orvane-term") > 0;
    std::printf("| figure |");
    for (const std::string& name : names) std::printf(" %s |", name.c_str());
    for (const auto& [a, b] : ratios) std::printf(" %s / %s |", a.c_str(), b.c_str());
    std::printf(" target (Orvane) |%s\n|---|", terminal ? " target (terminal mode) |" : "");
    for (std::size_t i = 0; i < names.size() + ratios.size() + 1 + (terminal ? 1 : 0); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const Row& row : rows) {
        std::printf("| %s |", row.label);
        for (const std::string& name : names) {
            const double v = value(name, row.key);
            if (std::isnan(v)) {
                std::printf(" - |");
            } else {
                const double shown = v * row.scale;
                const double size = std::fabs(shown);
                std::printf(size >= 100 ? " %.0f |" : size >= 1 ? " %.2f |" : " %.3f |", shown);
            }
        }
        for (const auto& [a, b] : ratios) {
            const double base = value(a, row.key);
            const double other = value(b, row.key);
            if (std::isnan(base) || std::isnan(other) || base <= 0 || other <= 0 ||
                std::string(row.key) == "connect_shell_us") {
                std::printf(" - |");
            } else {
                std::printf(" %.2f |", base / other);
            }
        }
        std::printf(" %s |", row.target);
        if (terminal) std::printf(" %s |", row.terminalTarget);
        std::printf("\n");
    }
    std::printf("\nRuns per server:");
    for (const std::string& name : names) std::printf(" %s %d;", name.c_str(), runs[name]);
    std::printf(" every cell is the median over the runs.\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.value(1) == QLatin1String("report") && argc > 2) return Report(argv[2], args.mid(3));
    if (args.value(1) == QLatin1String("free-port")) {
        int port = 0;
        const int fd = Listen(&port);
        if (fd < 0) return 1;
        ::close(fd);
        std::printf("%d\n", port);
        return 0;
    }
    if (args.value(1) == QLatin1String("terminal-alone")) {
        if (MeasureTerminalAlone(argc > 2 ? std::max(4, atoi(argv[2])) : 64) != 0) return 1;
        PrintFigures("terminal-alone");
        return 0;
    }
    if (args.value(1) != QLatin1String("measure") || argc < 6) {
        std::fprintf(stderr,
                     "usage: compare_peers measure NAME orvane|orvane-terminal|telnet|raw PORT "
                     "SERVER-PID [mebibytes] [idle-seconds] [connects]\n"
                     "       compare_peers report FILE [A/B ...]\n"
                     "       compare_peers free-port\n"
                     "       compare_peers terminal-alone [mebibytes]\n");
        return 2;
    }
    const QString kind = args.value(3);
    Target target{kind == QLatin1String("orvane")            ? Kind::Orvane
                  : kind == QLatin1String("orvane-terminal") ? Kind::OrvaneTerminal
                  : kind == QLatin1String("telnet")          ? Kind::Telnet
                                                             : Kind::Raw,
                  args.value(4).toInt(), args.value(5).toLong()};
    // A login shell that reads slow start-up files makes a hundred connects take minutes.
    if (argc > 8) target.connects = std::max(1, atoi(argv[8]));
    const qint64 mebibytes = argc > 6 ? std::max(4, atoi(argv[6])) : 64;
    const int idleSeconds = argc > 7 ? std::max(1, atoi(argv[7])) : 10;
    Measure(target, mebibytes, idleSeconds);
    PrintFigures(argv[2]);
    return g_failures == 0 ? 0 : 1;
}
