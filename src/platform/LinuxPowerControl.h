// The power interface on Linux: CAP_SYS_BOOT stands for the shutdown privilege and
// systemd-logind on the system bus carries out the reboot or power-off request.
#pragma once

#include <QString>
#include <optional>

#include "platform/PowerControl.h"

namespace orvane {

class LinuxPowerControl final : public PowerControl {
public:
    // Talks to logind on the system bus, found as libdbus finds it (DBUS_SYSTEM_BUS_ADDRESS
    // or the well-known socket) at the moment of each request.
    LinuxPowerControl() = default;
    // Talks to logind on the bus at this address instead; tests point it at a private bus.
    explicit LinuxPowerControl(QString busAddress);

    PrivilegeStepResult OpenProcessToken() override;
    PrivilegeStepResult LookupShutdownPrivilege() override;
    PrivilegeStepResult EnableShutdownPrivilege() override;
    bool ExitWindows(unsigned flags) override;

    // How long a request may wait for logind's answer before it counts as refused.
    static constexpr int kCallTimeoutMs = 10000;

private:
    std::optional<QString> m_busAddress;
};

}  // namespace orvane
