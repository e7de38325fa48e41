// CAP_SYS_BOOT through capget/capset and the reboot/power-off request through logind.
#include "platform/LinuxPowerControl.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QAtomicInteger>
#include <QDBusConnection>
#include <QDBusMessage>
#include <cerrno>
#include <cstring>
#include <utility>

namespace orvane {

namespace {

// The raw system calls keep the program free of a library for four lines of work; the
// glibc headers do not declare them.
struct CapabilitySets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

constexpr unsigned kBootIndex = CAP_TO_INDEX(CAP_SYS_BOOT);
constexpr unsigned kBootMask = CAP_TO_MASK(CAP_SYS_BOOT);

bool ReadCapabilities(CapabilitySets& sets) {
    return syscall(SYS_capget, &sets.header, sets.data) == 0;
}

PrivilegeStepResult Success() {
    return {};
}

PrivilegeStepResult FailureFromErrno() {
    const int code = errno;
    PrivilegeStepResult result;
    result.ok = false;
    result.errorCode = static_cast<unsigned long>(code);
    result.errorText = QString::fromLocal8Bit(std::strerror(code));
    return result;
}

QString NextConnectionName() {
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("orvane-power-%1").arg(counter.fetchAndAddRelaxed(1));
}

}  // namespace

LinuxPowerControl::LinuxPowerControl(QString busAddress) : m_busAddress(std::move(busAddress)) {}

PrivilegeStepResult LinuxPowerControl::OpenProcessToken() {
    CapabilitySets sets;
    return ReadCapabilities(sets) ? Success() : FailureFromErrno();
}

PrivilegeStepResult LinuxPowerControl::LookupShutdownPrivilege() {
    // CAP_SYS_BOOT is a compile-time constant: there is nothing to look up and nothing to
    // fail, whichever kernel runs the program.
    return Success();
}

PrivilegeStepResult LinuxPowerControl::EnableShutdownPrivilege() {
    CapabilitySets sets;
    if (!ReadCapabilities(sets)) return FailureFromErrno();
    sets.data[kBootIndex].effective |= kBootMask;
    // The kernel refuses with EPERM when CAP_SYS_BOOT is not in the permitted set, so a
    // success here means the capability really is in force (no partial success).
    if (syscall(SYS_capset, &sets.header, sets.data) != 0) return FailureFromErrno();
    return Success();
}

bool LinuxPowerControl::ExitWindows(unsigned flags) {
    QString method;
    if (flags & kExitReboot) {
        method = QStringLiteral("Reboot");
    } else if (flags & (kExitShutdown | kExitPowerOff)) {
        method = QStringLiteral("PowerOff");
    } else {
        return false;  // logging off is not something this server asks for
    }

    // A connection of our own for each request: the shared system-bus connection would
    // remember a failed first attempt for the rest of the run.
    const QString name = NextConnectionName();
    bool accepted = false;
    {
        QDBusConnection bus = m_busAddress
                                  ? QDBusConnection::connectToBus(*m_busAddress, name)
                                  : QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
        if (bus.isConnected()) {
            QDBusMessage request = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), method);
            // Not interactive: there is nobody at this desk to answer an authentication prompt.
            request << false;
            const QDBusMessage reply = bus.call(request, QDBus::Block, kCallTimeoutMs);
            accepted = reply.type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return accepted;
}

}  // namespace orvane
