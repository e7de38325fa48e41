// The client side of bench/compare-tls.sh: measures one running server through TLS.
//
//   tls_peers measure NAME KIND PORT SERVER-PID [mebibytes=64] [idle-seconds=10]
//       KIND: orvane (log in as bench/bench, then `dos`) or raw (a shell on plain pipes
//       behind the TLS relay: no prompt, no echo). Prints one line: NAME and key=value figures.
//   tls_peers report FILE
//       Reads such lines and prints the table of medians, with Orvane's ratio to the peer.
//
// The client checks no certificate (as `verify=0`); it prints the protocol and cipher used.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <map>
#include <thread>

#include "BenchSupport.h"

namespace {

using namespace orvane::bench;

std::map<std::string, double> g_figures;
std::string g_cipher;
int g_failures = 0;

void Fail(const char* what) {
    std::fprintf(stderr, "failed: %s\n", what);
    ++g_failures;
}

// A blocking TLS client on a loopback connection; waits are bounded by poll.
class TlsClient final {
public:
    explicit TlsClient(SSL_CTX* context) : m_context(context) {}
    ~TlsClient() { Close(); }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    bool Connect(int port) {
        Close();
        m_fd = orvane::bench::Connect(port);
        if (m_fd < 0) return false;
        m_ssl = SSL_new(m_context);
        SSL_set_fd(m_ssl, m_fd);
        m_data.clear();
        return SSL_connect(m_ssl) == 1;
    }
    void Close() {
        if (m_ssl != nullptr) SSL_free(m_ssl);
        m_ssl = nullptr;
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    bool Send(const std::string& bytes) {
        size_t sent = 0;
        return SSL_write_ex(m_ssl, bytes.data(), bytes.size(), &sent) == 1 && sent == bytes.size();
    }
    // Reads until `text` arrives; drops everything up to its end.
    bool WaitFor(const std::string& text, int timeoutMs = 5000) {
        return WaitForText(m_data, text, timeoutMs, [this](int ms) { return ReadOnce(ms); });
    }
    std::string Description() const {
        if (m_ssl == nullptr) return std::string();
        return std::string(SSL_get_version(m_ssl)) + "/" +
               SSL_CIPHER_get_name(SSL_get_current_cipher(m_ssl));
    }

private:
    bool ReadOnce(int timeoutMs) {
        if (SSL_pending(m_ssl) == 0) {
            pollfd entry{m_fd, POLLIN, 0};
            if (::poll(&entry, 1, timeoutMs) <= 0) return false;
        }
        char buffer[65536];
        size_t got = 0;
        if (SSL_read_ex(m_ssl, buffer, sizeof buffer, &got) == 1) {
            m_data.append(buffer, got);
            return true;
        }
        const int error = SSL_get_error(m_ssl, 0);
        ERR_clear_error();
        return error == SSL_ERROR_WANT_READ;
    }

    SSL_CTX* m_context;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    std::string m_data;
};

struct Target {
    bool orvane;
    int port;
    long pid;
    std::string lineEnd() const { return orvane ? "\r\n" : "\n"; }
};

// Connects, completes the handshake and waits for the first answer: "Username : " from
// Orvane, the answer to a first command from the relayed shell.
bool ConnectToPrompt(TlsClient& client, const Target& target) {
    if (!client.Connect(target.port)) return false;
    if (target.orvane) return client.WaitFor("Username : ");
    return client.Send("echo RE''ADY\n") && client.WaitFor("READY");
}

// Waits until the shell has answered everything sent so far.
bool Sync(TlsClient& client, const Target& target, int timeoutMs = 10000) {
    return client.Send("echo SY''NC" + target.lineEnd()) && client.WaitFor("SYNC", timeoutMs);
}

bool OpenShell(TlsClient& client, const Target& target) {
    if (!ConnectToPrompt(client, target)) return false;
    if (!target.orvane) return true;
    return client.Send("bench\r\n") && client.WaitFor("Password : ") && client.Send("bench\r\n") &&
           client.WaitFor("\r\n> ") && client.Send("dos\r\n") && client.WaitFor("dos\r\n") &&
           Sync(client, target);
}

void Measure(SSL_CTX* context, const Target& target, qint64 mebibytes, int idleSeconds) {
    std::vector<double> times;
    for (int i = 0; i < 100; ++i) {
        TlsClient client(context);
        const auto start = Clock::now();
        if (!ConnectToPrompt(client, target)) return Fail("connect to prompt");
        times.push_back(Micros(Clock::now() - start));
        if (i == 0) g_cipher = client.Description();
    }
    const Stats stats = Summarise(times);
    g_figures["connect_us"] = stats.median;
    g_figures["connect_p99_us"] = stats.p99;

    TlsClient session(context);
    if (!OpenShell(session, target)) return Fail("shell");

    // Idle: one encrypted session with its shell open, nobody types.
    ProcessSet set = ServerProcesses(target.pid);
    double cpu = CpuSeconds(set.server);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    g_figures["idle_cpu_s"] = CpuSeconds(ServerProcesses(target.pid).server) - cpu;

    const qint64 payload = mebibytes << 20;
    set = ServerProcesses(target.pid);
    cpu = CpuSeconds(set.server);
    QByteArray command = OutputCommand(payload);
    if (target.orvane) command.replace("\n", "\r\n");
    const auto start = Clock::now();
    if (!session.Send(command.toStdString()) || !session.WaitFor(kEndMarker, 300000))
        return Fail("transfer");
    const double seconds = Seconds(Clock::now() - start);
    g_figures["single_mib_s"] = mebibytes / seconds;
    g_figures["single_cpu_s"] = CpuSeconds(set.server) - cpu;
}

// The table: medians per server, the first server's ratio to each other one.
int Report(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    std::vector<std::string> names;
    std::map<std::string, std::map<std::string, std::vector<double>>> samples;
    std::map<std::string, std::string> ciphers;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2) continue;
        const std::string name = words[0].toStdString();
        if (!samples.count(name)) names.push_back(name);
        samples[name];
        for (qsizetype i = 1; i < words.size(); ++i) {
            const QList<QByteArray> pair = words[i].split('=');
            if (pair.size() != 2) continue;
            if (pair[0] == "cipher") {
                ciphers[name] = pair[1].toStdString();
            } else {
                samples[name][pair[0].toStdString()].push_back(pair[1].toDouble());
            }
        }
    }
    struct Row {
        const char* key;
        const char* label;
        double scale;
        const char* target;
    };
    const Row rows[] = {
        {"connect_us", "connect, handshake, first prompt: median (ms)", 1e-3,
         "\"Username : \" < 5 ms"},
        {"connect_p99_us", "connect, handshake, first prompt: p99 (ms)", 1e-3, ""},
        {"single_mib_s", "shell output over TLS, 1 session (MiB/s)", 1, ">= 0.80 x socat"},
        {"single_cpu_s", "server CPU for that output (s)", 1, ""},
        {"idle_cpu_s", "server CPU idle 10 s, 1 encrypted session with its shell (s)", 1, "0.00"},
    };
    auto value = [&](const std::string& name, const char* key) {
        auto it = samples[name].find(key);
        return it == samples[name].end() ? -1.0 : Median(it->second);
    };
    std::printf("| figure |");
    for (const std::string& name : names) std::printf(" %s |", name.c_str());
    for (std::size_t i = 1; i < names.size(); ++i)
        std::printf(" %s / %s |", names[0].c_str(), names[i].c_str());
    std::printf(" target (Orvane) |\n|---|");
    for (std::size_t i = 0; i < names.size() * 2; ++i) std::printf("---|");
    std::printf("\n");
    for (const Row& row : rows) {
        std::printf("| %s |", row.label);
        for (const std::string& name : names) {
            const double v = value(name, row.key);
            if (v < -0.5) {
                std::printf(" - |");
            } else {
                std::printf(v * row.scale >= 100 ? " %.0f |" : " %.2f |", v * row.scale);
            }
        }
        for (std::size_t i = 1; i < names.size(); ++i) {
            const double a = value(names[0], row.key), b = value(names[i], row.key);
            if (a > 0 && b > 0) {
                std::printf(" %.2f |", a / b);
            } else {
                std::printf(" - |");
            }
        }
        std::printf(" %s |\n", row.target);
    }
    std::printf("| protocol and cipher |");
    for (const std::string& name : names) std::printf(" %s |", ciphers[name].c_str());
    for (std::size_t i = 1; i < names.size(); ++i) std::printf(" |");
    std::printf(" |\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.value(1) == QLatin1String("report") && argc > 2) return Report(argv[2]);
    if (args.value(1) != QLatin1String("measure") || argc < 6) {
        std::fprintf(stderr, "usage: tls_peers measure NAME orvane|raw PORT PID [MiB] [idle-s]\n");
        return 2;
    }
    Target target{args.value(3) == QLatin1String("orvane"), args.value(4).toInt(),
                  args.value(5).toLong()};
    const qint64 mebibytes = argc > 6 ? std::max(4, atoi(argv[6])) : 64;
    const int idleSeconds = argc > 7 ? std::max(1, atoi(argv[7])) : 10;
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    Measure(context, target, mebibytes, idleSeconds);
    SSL_CTX_free(context);
    std::printf("%s", argv[2]);
    for (const auto& [key, value] : g_figures) std::printf(" %s=%.6g", key.c_str(), value);
    std::printf(" cipher=%s\n", g_cipher.empty() ? "?" : g_cipher.c_str());
    return g_failures == 0 ? 0 : 1;
}
