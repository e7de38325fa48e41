// The host's power interface: the shutdown privilege and the request to end the system.
// Tests always put a fake here; only the real implementation talks to systemd-logind.
#pragma once

#include <QString>

namespace orvane {

// Flags of a request to end the system session, as the shell passes them.
enum ExitFlags : unsigned {
    kExitShutdown = 1,
    kExitReboot = 2,
    kExitPowerOff = 8,
};

// The result of one privilege step: 0 for success, else an error code and its text
// (the text may be empty when the system has none for the code).
struct PrivilegeStepResult {
    bool ok = true;
    unsigned long errorCode = 0;
    QString errorText;
};

class PowerControl {
public:
    virtual ~PowerControl() = default;
    // The three privilege steps: open the process's privileges, look up the shutdown
    // privilege, enable it.
    virtual PrivilegeStepResult OpenProcessToken() = 0;
    virtual PrivilegeStepResult LookupShutdownPrivilege() = 0;
    virtual PrivilegeStepResult EnableShutdownPrivilege() = 0;
    // Asks the system to reboot or power off; true when the request was accepted.
    virtual bool ExitWindows(unsigned flags) = 0;
};

}  // namespace orvane
