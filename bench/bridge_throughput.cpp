// Measures the `dos` bridge against a plain pipe-to-socket relay: 64 MiB of shell output in
// 80-byte lines through a DosBridge to a loopback TCP reader, beside the same through
// socat, with the relay's processor time for the transfer and for an idle shell.
//
//   bridge_throughput [runs=3] [idle-seconds=10] [mebibytes=64]
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "platform/InterpreterProcess.h"
#include "platform/ProcessSignals.h"
#include "telnet/BridgeEndpoint.h"
#include "telnet/DosBridge.h"

extern char** environ;

namespace {

using orvane::bench::Clock;
using orvane::bench::Connect;
using orvane::bench::Listen;
using orvane::bench::Median;
using orvane::bench::ProcessCpuSeconds;
using orvane::bench::Seconds;
using orvane::bench::ThreadCpuSeconds;
constexpr const char* kMarker = orvane::bench::kEndMarker;

QByteArray Command(qint64 bytes) {
    return orvane::bench::OutputCommand(bytes);
}

// Reads until the marker; returns the bytes read, or -1 on a closed connection or after
// the time limit.
qint64 ReadUntilMarker(int fd, Clock::time_point* end) {
    std::vector<char> buffer(256 * 1024);
    QByteArray tail;
    qint64 total = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < deadline) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) return -1;
        total += n;
        tail.append(buffer.data(), std::min<ssize_t>(n, 64));
        if (n > 64) tail = QByteArray(buffer.data() + n - 64, 64);
        if (tail.contains(kMarker)) {
            *end = Clock::now();
            return total;
        }
        if (tail.size() > 128) tail = tail.right(64);
    }
    return -1;
}

// The session's part, as small as it can be: a non-blocking socket with a 1 MiB buffer of
// its own, full beyond that.
class SocketEndpoint final : public orvane::BridgeEndpoint {
public:
    static constexpr qsizetype kLimit = 1 << 20;

    explicit SocketEndpoint(int fd) : m_fd(fd), m_writable(fd, QSocketNotifier::Write) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        const int size = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        m_writable.setEnabled(false);
        QObject::connect(&m_writable, &QSocketNotifier::activated, [this] { Flush(); });
    }
    void SetBridge(orvane::DosBridge* bridge) { m_bridge = bridge; }

    int SendBuffer(const char* data, int length) override {
        qsizetype done = 0;
        if (m_pending.size() == m_sent) {
            m_pending.clear();
            m_sent = 0;
            const ssize_t n = ::send(m_fd, data, length, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN) return 0;
            done = std::max<ssize_t>(n, 0);
        }
        if (done < length) {
            m_pending.append(data + done, length - done);
            m_writable.setEnabled(true);
        }
        return 1;
    }
    bool OutputBufferFull() const override { return m_pending.size() - m_sent >= kLimit; }
    void BridgeEnded() override { m_ended = true; }
    bool Ended() const { return m_ended; }

private:
    void Flush() {
        const bool wasFull = OutputBufferFull();
        while (m_sent < m_pending.size()) {
            const ssize_t n = ::send(m_fd, m_pending.constData() + m_sent,
                                     m_pending.size() - m_sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            m_sent += n;
        }
        if (m_sent == m_pending.size()) {
            m_pending.clear();
            m_sent = 0;
            m_writable.setEnabled(false);
        }
        if (wasFull && !OutputBufferFull() && m_bridge) m_bridge->ResumeOutput();
    }

    int m_fd;
    QSocketNotifier m_writable;
    QByteArray m_pending;
    qsizetype m_sent = 0;  // sent from the front of m_pending; no copying down per send
    orvane::DosBridge* m_bridge = nullptr;
    bool m_ended = false;
};

struct Result {
    double seconds = 0;
    double cpu = 0;
    double idleCpu = -1;
};

void RunLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

Result RunBridge(qint64 payload, int idleSeconds) {
    Result result;
    int port = 0;
    const int listener = Listen(&port);
    const int client = Connect(port);
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);

    orvane::PosixInterpreterLauncher launcher;
    SocketEndpoint endpoint(server);
    orvane::DosBridge bridge(endpoint, launcher);
    endpoint.SetBridge(&bridge);

    QEventLoop loop;
    std::atomic<qint64> received{-1};
    Clock::time_point end;
    std::thread reader([&] {
        received = ReadUntilMarker(client, &end);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });

    bridge.Start();
    RunLoopFor(300);  // the shell's start and first prompt
    if (idleSeconds > 0) {
        const double before = ThreadCpuSeconds();
        RunLoopFor(idleSeconds * 1000);
        result.idleCpu = ThreadCpuSeconds() - before;
    }

    const QByteArray command = Command(payload);
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    bridge.WriteToInterpreter(command.constData(), static_cast<int>(command.size()));
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    result.cpu = ThreadCpuSeconds() - cpuBefore;
    reader.join();
    result.seconds = received > 0 ? Seconds(end - start) : -1;

    bridge.ClientClosed();
    ::close(client);
    ::close(server);
    return result;
}

// The relay process socat forked for the connection.
pid_t SocatChild(pid_t listener) {
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toInt() == listener && text.contains("(socat)")) return pid;
    }
    return -1;
}

Result RunSocat(qint64 payload, int idleSeconds) {
    Result result;
    int port = 0;
    ::close(Listen(&port));  // a free port, taken again by socat a moment later
    const QByteArray listenSpec =
        "TCP-LISTEN:" + QByteArray::number(port) + ",bind=127.0.0.1,reuseaddr,fork";
    QByteArray program = "socat", exec = "EXEC:/bin/sh,pipes,stderr";
    char* argv[] = {program.data(), const_cast<char*>(listenSpec.constData()), exec.data(),
                    nullptr};
    pid_t socat = -1;
    if (posix_spawnp(&socat, "socat", nullptr, nullptr, argv, environ) != 0) return {-1, -1, -1};

    int client = -1;
    for (int attempt = 0; attempt < 200 && client < 0; ++attempt) {
        client = Connect(port);
        if (client < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_t relay = -1;
    for (int attempt = 0; attempt < 200 && relay < 0 && client >= 0; ++attempt) {
        relay = SocatChild(socat);
        if (relay < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (client >= 0 && relay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (idleSeconds > 0) {
            const double before = ProcessCpuSeconds(relay);
            std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
            result.idleCpu = ProcessCpuSeconds(relay) - before;
        }
        const QByteArray command = Command(payload);
        const double cpuBefore = ProcessCpuSeconds(relay);
        const auto start = Clock::now();
        ::send(client, command.constData(), command.size(), MSG_NOSIGNAL);
        Clock::time_point end;
        const qint64 got = ReadUntilMarker(client, &end);
        result.cpu = ProcessCpuSeconds(relay) - cpuBefore;
        result.seconds = got > 0 ? Seconds(end - start) : -1;
    } else {
        result.seconds = -1;
    }
    if (client >= 0) ::close(client);
    if (relay > 0) ::kill(relay, SIGTERM);
    ::kill(socat, SIGTERM);
    ::waitpid(socat, nullptr, 0);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    orvane::IgnoreBrokenPipeSignal();
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const int idleSeconds = argc > 2 ? std::max(0, atoi(argv[2])) : 10;
    const qint64 mebibytes = argc > 3 ? std::max(1, atoi(argv[3])) : 64;
    const qint64 payload = mebibytes << 20;

    std::vector<double> bridgeRate, socatRate, bridgeCpu, socatCpu;
    double bridgeIdle = -1, socatIdle = -1;
    std::printf("run  bridge MiB/s  cpu s   socat MiB/s  cpu s\n");
    for (int run = 0; run < runs; ++run) {
        const int idle = run == 0 ? idleSeconds : 0;
        const Result bridge = RunBridge(payload, idle);
        const Result socat = RunSocat(payload, idle);
        if (run == 0) {
            bridgeIdle = bridge.idleCpu;
            socatIdle = socat.idleCpu;
        }
        const double b = bridge.seconds > 0 ? mebibytes / bridge.seconds : 0;
        const double s = socat.seconds > 0 ? mebibytes / socat.seconds : 0;
        bridgeRate.push_back(b);
        socatRate.push_back(s);
        bridgeCpu.push_back(bridge.cpu);
        socatCpu.push_back(socat.cpu);
        std::printf("%3d  %11.1f  %5.2f   %11.1f  %5.2f\n", run + 1, b, bridge.cpu, s, socat.cpu);
        std::fflush(stdout);
    }
    const double rate = Median(bridgeRate), baseRate = Median(socatRate);
    const double cpu = Median(bridgeCpu), baseCpu = Median(socatCpu);
    std::printf("median: bridge %.1f MiB/s, socat %.1f MiB/s, ratio %.2f (target >= 0.80)\n", rate,
                baseRate, baseRate > 0 ? rate / baseRate : 0);
    std::printf("median cpu: bridge %.2f s, socat %.2f s, ratio %.2f (target <= 2.00)\n", cpu,
                baseCpu, baseCpu > 0 ? cpu / baseCpu : 0);
    std::printf("idle %d s: bridge %.2f s cpu, socat %.2f s cpu (target 0.00)\n", idleSeconds,
                bridgeIdle, socatIdle);
    return 0;
}
