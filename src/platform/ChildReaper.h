// Ends interpreters that must go (client gone, server stopped, bridge failed) without making
// the event loop wait: SIGHUP to the process group now, SIGKILL after a grace, then reaped.
// It outlives the bridges that hand their interpreters over.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/InterpreterLauncher.h"

class QObject;

namespace orvane {

class ChildReaper final {
public:
    static constexpr std::chrono::milliseconds kDefaultGrace{500};

    static ChildReaper& Instance();
    ~ChildReaper();
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    // Takes over a started, not yet reaped child that leads its own process group.
    // Returns at once; the rest happens on events.
    void EndProcessGroup(pid_t pid, OwnedFd exitFd,
                         std::chrono::milliseconds grace = kDefaultGrace);
    // The same for every process group of the child's session: a shell with job control
    // (on a terminal) runs each job in a group of its own.
    void EndSession(pid_t pid, OwnedFd exitFd, std::chrono::milliseconds grace = kDefaultGrace);
    // Children handed over and not reaped yet.
    int PendingCount() const { return static_cast<int>(m_pending.size()); }
    // Program end: ends and reaps every pending child, blocking for at most about `limit`.
    // Call it before the application object goes (it also runs, later, at exit).
    void FinishAll(std::chrono::milliseconds limit = std::chrono::milliseconds(1000));

private:
    struct Pending;

    ChildReaper() = default;
    void Take(pid_t pid, OwnedFd exitFd, std::chrono::milliseconds grace, bool wholeSession);
    static void Signal(const Pending& pending, int signal);
    void Check(pid_t pid);
    void Kill(pid_t pid);
    void Forget(pid_t pid);

    std::vector<std::unique_ptr<Pending>> m_pending;
    bool m_finishing = false;
};

}  // namespace orvane
