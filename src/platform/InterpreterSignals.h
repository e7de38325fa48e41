// Signals for a running interpreter: the interrupt a client asks for, and the end of
// everything that still runs in the interpreter's session.
#pragma once

#include <sys/types.h>

namespace orvane {

// Sends SIGINT where Ctrl-C at a terminal would: to the terminal's foreground process group
// when `terminalFd` is a pseudo-terminal's master side (a job-control shell runs each
// command in a group of its own), else to the interpreter's own process group, which is its
// process id since it leads its own session. Returns whether a signal was sent.
bool InterruptInterpreter(pid_t interpreterPid, int terminalFd = -1);

// Sends `signal` to every process of the session that `sessionId` leads: all its process
// groups, so that background jobs of a job-control shell go too. A process that has since
// left the session, or whose id was reused meanwhile, is never hit. Returns how many were
// signalled.
int SignalSession(pid_t sessionId, int signal);

}  // namespace orvane
