// What the benchmark programs share: silent platform services, loopback sockets, a Telnet
// client that copes with option negotiation, the shell's output command, processor time
// and memory of processes, and summaries of samples.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/PowerControl.h"
#include "platform/SoundPlayer.h"

namespace orvane::bench {

using Clock = std::chrono::steady_clock;

class SilentMessages final : public MessageBoxService {
public:
    MessageAnswer Show(const QString&, MessageIcon, MessageButtons) override {
        return MessageAnswer::No;
    }
};
class SilentSound final : public SoundPlayer {
public:
    void PlayAsync(const QString&) override {}
};
// Refuses everything: a benchmark never asks, and could never end the machine.
class NoPower final : public PowerControl {
public:
    PrivilegeStepResult OpenProcessToken() override { return {false, 1, {}}; }
    PrivilegeStepResult LookupShutdownPrivilege() override { return {false, 1, {}}; }
    PrivilegeStepResult EnableShutdownPrivilege() override { return {false, 1, {}}; }
    bool ExitWindows(unsigned) override { return false; }
};

inline double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}
inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
inline double CpuMicros(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}
inline double ThreadCpuSeconds() {
    return CpuMicros(CLOCK_THREAD_CPUTIME_ID) / 1e6;
}

struct Stats {
    double median = 0, p99 = 0;
};
inline Stats Summarise(std::vector<double> samples) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2],
            samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}
inline double Median(std::vector<double> values) {
    return Summarise(std::move(values)).median;
}

// The shell command that writes `bytes` of 80-byte lines (79 characters and a line feed),
// then a marker line; the marker is quoted apart so that an echo of the command never
// contains it.
inline constexpr const char kEndMarker[] = "ENDMARK";
inline QByteArray OutputCommand(qint64 bytes) {
    return "yes 'orvane-bridge-benchmark-line-0123456789-abcdefghijklmnopqrstuvwxyz-ABCDEFGH' | "
           "head -c " +
           QByteArray::number(bytes) + "; echo END''MARK\n";
}

// A listening socket on a free port of 127.0.0.1.
inline int Listen(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

// A blocking connection to 127.0.0.1:port with Nagle off, or -1.
inline int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads with `readOnce(milliseconds)` (false on the end of the stream or the time limit)
// until `text` is in `data`; drops everything up to its end. Keeps at most about a
// mebibyte while it searches.
template <typename ReadOnce>
bool WaitForText(std::string& data, const std::string& text, int timeoutMs, ReadOnce readOnce) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t searched = 0;
    for (;;) {
        const std::size_t at = data.find(text, searched);
        if (at != std::string::npos) {
            data.erase(0, at + text.size());
            return true;
        }
        searched = data.size() > text.size() ? data.size() - text.size() : 0;
        if (data.size() > (1u << 20)) {
            data.erase(0, searched);
            searched = 0;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !readOnce(static_cast<int>(left.count()))) return false;
    }
}

// A client for Orvane (which negotiates nothing) and for Telnet servers that open with
// option negotiation: it accepts the server's echo and suppress-go-ahead, refuses every
// other option, drops subnegotiations and keeps only the data bytes. Waits are bounded.
class TelnetClient final {
public:
    TelnetClient() = default;
    ~TelnetClient() { Close(); }
    TelnetClient(const TelnetClient&) = delete;
    TelnetClient& operator=(const TelnetClient&) = delete;

    bool Connect(int port) {
        Close();
        m_fd = bench::Connect(port);
        m_data.clear();
        m_state = State::Data;
        return m_fd >= 0;
    }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    bool Send(const std::string& bytes) const {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads until `text` is among the data bytes; drops everything up to its end.
    bool WaitFor(const std::string& text, int timeoutMs = 5000) {
        return WaitForText(m_data, text, timeoutMs, [this](int ms) { return ReadOnce(ms); });
    }
    // Reads until any of `texts` arrives; its index, or -1.
    int WaitForAny(const std::vector<std::string>& texts, int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const std::size_t at = m_data.find(texts[i]);
                if (at != std::string::npos) {
                    m_data.erase(0, at + texts[i].size());
                    return static_cast<int>(i);
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !ReadOnce(static_cast<int>(left.count()))) return -1;
        }
    }
    // Reads and discards for `ms`, answering negotiation meanwhile.
    void Drain(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (!ReadOnce(std::max<int>(1, static_cast<int>(left.count())))) break;
            m_data.clear();
        }
    }
    int Descriptor() const { return m_fd; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    static constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                                   kSb = 250, kSe = 240;
    static constexpr unsigned char kEcho = 1, kSuppressGoAhead = 3;

    // false on the end of the stream or the time limit.
    bool ReadOnce(int timeoutMs) {
        pollfd entry{m_fd, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0) return false;
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        Parse(reinterpret_cast<const unsigned char*>(buffer), static_cast<std::size_t>(n));
        return true;
    }
    void Parse(const unsigned char* bytes, std::size_t length) {
        std::size_t i = 0;
        while (i < length) {
            if (m_state == State::Data) {
                // Bulk output has no IAC: copy up to the next one in one go.
                const void* iac = std::memchr(bytes + i, kIac, length - i);
                const std::size_t end =
                    iac ? static_cast<std::size_t>(static_cast<const unsigned char*>(iac) - bytes)
                        : length;
                m_data.append(reinterpret_cast<const char*>(bytes + i), end - i);
                i = end;
                if (i < length) {
                    m_state = State::Iac;
                    ++i;
                }
                continue;
            }
            const unsigned char byte = bytes[i++];
            switch (m_state) {
                case State::Iac:
                    if (byte == kIac) {
                        m_data.push_back(static_cast<char>(kIac));
                        m_state = State::Data;
                    } else if (byte >= kWill && byte <= kDont) {
                        m_verb = byte;
                        m_state = State::Option;
                    } else {
                        m_state = byte == kSb ? State::Sub : State::Data;
                    }
                    break;
                case State::Option:
                    Answer(m_verb, byte);
                    m_state = State::Data;
                    break;
                case State::Sub:
                    if (byte == kIac) m_state = State::SubIac;
                    break;
                case State::SubIac:
                    m_state = byte == kSe ? State::Data : State::Sub;
                    break;
                case State::Data:
                    break;
            }
        }
    }
    void Answer(unsigned char verb, unsigned char option) {
        unsigned char reply[3] = {kIac, 0, option};
        if (verb == kWill) {
            reply[1] = option == kEcho || option == kSuppressGoAhead ? kDo : kDont;
        } else if (verb == kDo) {
            reply[1] = kWont;
        } else {
            return;  // a refusal needs no answer
        }
        ::send(m_fd, reply, sizeof reply, MSG_NOSIGNAL);
    }

    int m_fd = -1;
    std::string m_data;
    State m_state = State::Data;
    unsigned char m_verb = 0;
};

// One process's fields of /proc/PID/stat after the command name.
inline QList<QByteArray> StatFields(long pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

inline QByteArray CommandName(long pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly)) return {};
    return comm.readAll().trimmed();
}

// User and system processor time of one process (not of its children), in seconds.
inline double ProcessCpuSeconds(long pid) {
    const QList<QByteArray> fields = StatFields(pid);
    if (fields.size() < 13) return 0;
    // utime and stime are the 14th and 15th fields; two are before the cut.
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Proportional set size of one process in kB (0 when it is gone).
inline long ProcessPssKilobytes(long pid) {
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:")) return line.mid(4).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// A server's processes: the server itself with its relays and helpers, and apart from them
// the shells it started (each `sh` with everything below it).
struct ProcessSet {
    std::vector<long> server;
    std::vector<long> shells;
};
inline ProcessSet ServerProcesses(long root) {
    std::multimap<long, long> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const long pid = entry.toLong(&number);
        if (!number) continue;
        const QList<QByteArray> fields = StatFields(pid);
        if (fields.size() > 1) children.emplace(fields[1].toLong(), pid);
    }
    ProcessSet set;
    std::vector<std::pair<long, bool>> stack{{root, false}};
    while (!stack.empty()) {
        auto [pid, inShell] = stack.back();
        stack.pop_back();
        inShell = inShell || CommandName(pid) == "sh";
        (inShell ? set.shells : set.server).push_back(pid);
        auto range = children.equal_range(pid);
        for (auto it = range.first; it != range.second; ++it)
            stack.push_back({it->second, inShell});
    }
    return set;
}
inline double CpuSeconds(const std::vector<long>& pids) {
    double sum = 0;
    for (long pid : pids) sum += ProcessCpuSeconds(pid);
    return sum;
}
inline long PssKilobytes(const std::vector<long>& pids) {
    long sum = 0;
    for (long pid : pids) sum += ProcessPssKilobytes(pid);
    return sum;
}

}  // namespace orvane::bench
