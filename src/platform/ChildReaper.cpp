// The reaper keeps each child's group id reserved until the very end: the leader is reaped
// only after the group was sent SIGKILL, so a signal can never reach a recycled process.
#include "platform/ChildReaper.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <thread>

#include "platform/InterpreterSignals.h"

namespace orvane {

struct ChildReaper::Pending {
    pid_t pid = -1;
    OwnedFd exitFd;
    bool killed = false;
    bool wholeSession = false;
    std::unique_ptr<QObject> events;  // the notifier and timers, children of this object
};

ChildReaper& ChildReaper::Instance() {
    static ChildReaper reaper;
    return reaper;
}

ChildReaper::~ChildReaper() {
    FinishAll();
    // By now the Qt application may be gone; its objects are not touched any more.
    for (auto& pending : m_pending) (void)pending->events.release();
    m_pending.clear();
}

void ChildReaper::EndProcessGroup(pid_t pid, OwnedFd exitFd, std::chrono::milliseconds grace) {
    Take(pid, std::move(exitFd), grace, false);
}

void ChildReaper::EndSession(pid_t pid, OwnedFd exitFd, std::chrono::milliseconds grace) {
    Take(pid, std::move(exitFd), grace, true);
}

void ChildReaper::Signal(const Pending& pending, int signal) {
    ::kill(-pending.pid, signal);
    if (pending.wholeSession) SignalSession(pending.pid, signal);
}

void ChildReaper::Take(pid_t pid, OwnedFd exitFd, std::chrono::milliseconds grace,
                       bool wholeSession) {
    if (pid <= 0) return;
    auto pending = std::make_unique<Pending>();
    pending->pid = pid;
    pending->exitFd = std::move(exitFd);
    pending->wholeSession = wholeSession;
    pending->events = std::make_unique<QObject>();
    QObject* events = pending->events.get();

    if (pending->exitFd.IsValid()) {
        auto* notifier = new QSocketNotifier(pending->exitFd.Get(), QSocketNotifier::Read, events);
        QObject::connect(notifier, &QSocketNotifier::activated, events,
                         [this, pid] { Check(pid); });
    } else {
        // Without an exit descriptor the only way to learn of the end is to ask now and then.
        auto* poll = new QTimer(events);
        poll->setInterval(50);
        QObject::connect(poll, &QTimer::timeout, events, [this, pid] { Check(pid); });
        poll->start();
    }
    auto* graceTimer = new QTimer(events);
    graceTimer->setSingleShot(true);
    QObject::connect(graceTimer, &QTimer::timeout, events, [this, pid] { Kill(pid); });
    graceTimer->start(grace);

    Signal(*pending, SIGHUP);
    Signal(*pending, SIGCONT);  // a stopped process would sleep through the hangup
    m_pending.push_back(std::move(pending));
}

void ChildReaper::Kill(pid_t pid) {
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [pid](const auto& p) { return p->pid == pid; });
    if (it == m_pending.end() || (*it)->killed) return;
    (*it)->killed = true;
    Signal(**it, SIGKILL);
}

void ChildReaper::Check(pid_t pid) {
    // The leader has ended (or is asked about): whatever of its group is left goes with it,
    // while the unreaped leader still holds the group id.
    siginfo_t info = {};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        Forget(pid);  // not our child any more (reaped elsewhere): nothing left to do
        return;
    }
    if (info.si_pid == 0) return;  // still running
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [pid](const auto& p) { return p->pid == pid; });
    if (it != m_pending.end()) Signal(**it, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    Forget(pid);
}

void ChildReaper::Forget(pid_t pid) {
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [pid](const auto& p) { return p->pid == pid; });
    if (it == m_pending.end()) return;
    // Called from the notifier's own signal: its deletion waits for the event loop.
    // Without an application (static destruction at program end) the objects are left alone.
    QObject* events = (*it)->events.release();
    for (auto* notifier : events->findChildren<QSocketNotifier*>()) notifier->setEnabled(false);
    if (QCoreApplication::instance()) events->deleteLater();
    m_pending.erase(it);
}

void ChildReaper::FinishAll(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto killAt = start + limit / 2;
    const auto giveUpAt = start + limit;
    m_finishing = true;
    while (!m_pending.empty()) {
        const auto now = Clock::now();
        if (now >= killAt) {
            for (auto& pending : m_pending) {
                if (!pending->killed) {
                    pending->killed = true;
                    Signal(*pending, SIGKILL);
                }
            }
        }
        std::vector<pid_t> pids;
        for (auto& pending : m_pending) pids.push_back(pending->pid);
        for (pid_t pid : pids) Check(pid);
        if (m_pending.empty() || now >= giveUpAt) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_finishing = false;
}

}  // namespace orvane
