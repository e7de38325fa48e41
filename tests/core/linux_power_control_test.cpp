// The real power interface: the capability steps run in forked children so that this
// process keeps its own sets, and every logind request goes to a fake logind on a private
// bus that the test starts itself. Nothing here can end the system.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDeadlineTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QProcess>
#include <QSemaphore>
#include <QThread>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "PrivateBus.h"
#include "TestEnvironment.h"
#include "platform/LinuxPowerControl.h"

namespace orvane {
namespace {

// ---- capabilities ------------------------------------------------------------------

struct Caps {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool GetCaps(Caps& caps) {
    return syscall(SYS_capget, &caps.header, caps.data) == 0;
}
bool SetCaps(Caps& caps) {
    return syscall(SYS_capset, &caps.header, caps.data) == 0;
}

constexpr unsigned kIdx = CAP_TO_INDEX(CAP_SYS_BOOT);
constexpr unsigned kMask = CAP_TO_MASK(CAP_SYS_BOOT);

bool BootPermittedHere() {
    Caps caps;
    return GetCaps(caps) && (caps.data[kIdx].permitted & kMask) != 0;
}

// Runs the body in a forked child and returns its exit code (0 = all checks passed), or
// -1 when it crashed or had to be killed after the time limit.
int RunInChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) _exit(body());
    int status = 0;
    const QDeadlineTimer deadline(10000);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(5000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LinuxPowerControlPrivileges, EnablingTheShutdownPrivilegeRaisesCapSysBoot) {
    if (!BootPermittedHere()) GTEST_SKIP() << "this process may not hold CAP_SYS_BOOT";
    const int code = RunInChild([] {
        Caps caps;
        if (!GetCaps(caps)) return 10;
        caps.data[kIdx].effective &= ~kMask;  // start from a lowered privilege
        if (!SetCaps(caps)) return 11;

        LinuxPowerControl power;
        if (!power.OpenProcessToken().ok) return 12;
        if (!power.LookupShutdownPrivilege().ok) return 13;
        const PrivilegeStepResult enabled = power.EnableShutdownPrivilege();
        if (!enabled.ok || enabled.errorCode != 0) return 14;

        Caps after;
        if (!GetCaps(after)) return 15;
        return (after.data[kIdx].effective & kMask) ? 0 : 16;
    });
    EXPECT_EQ(code, 0);
}

TEST(LinuxPowerControlPrivileges, WithoutCapSysBootEnablingFailsWithOperationNotPermitted) {
    const int code = RunInChild([] {
        Caps caps;
        if (!GetCaps(caps)) return 10;
        caps.data[kIdx].effective &= ~kMask;
        caps.data[kIdx].permitted &= ~kMask;
        if (!SetCaps(caps)) return 11;

        LinuxPowerControl power;
        // Reading the sets and knowing the capability still work; only raising it fails.
        if (!power.OpenProcessToken().ok) return 12;
        if (!power.LookupShutdownPrivilege().ok) return 13;
        const PrivilegeStepResult enabled = power.EnableShutdownPrivilege();
        if (enabled.ok) return 14;
        if (enabled.errorCode != EPERM) return 15;
        if (enabled.errorText != QStringLiteral("Operation not permitted")) return 16;

        Caps after;
        if (!GetCaps(after)) return 17;
        return (after.data[kIdx].effective & kMask) ? 18 : 0;
    });
    EXPECT_EQ(code, 0);
}

// ---- logind requests -----------------------------------------------------------------

struct Request {
    QString method;
    bool interactive;
};

// Stands in for logind's manager object, recording each request; it may refuse them.
class FakeLogind final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    explicit FakeLogind(bool refuse) : m_refuse(refuse) {}

    std::vector<Request> Requests() const {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

public Q_SLOTS:
    void Reboot(bool interactive) { Record(QStringLiteral("Reboot"), interactive); }
    void PowerOff(bool interactive) { Record(QStringLiteral("PowerOff"), interactive); }

private:
    void Record(const QString& method, bool interactive) {
        {
            QMutexLocker lock(&m_mutex);
            m_requests.push_back({method, interactive});
        }
        if (m_refuse) sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Not allowed"));
    }

    const bool m_refuse;
    mutable QMutex m_mutex;
    std::vector<Request> m_requests;
};

// The fake logind answers from its own thread, because the request under test blocks
// the test's thread until the answer comes.
class FakeLogindThread final : public QThread {
public:
    FakeLogindThread(QString address, bool refuse)
        : m_address(std::move(address)), m_refuse(refuse) {}
    ~FakeLogindThread() override {
        quit();
        wait(10000);
    }

    bool StartAndRegister() {
        start();
        return m_ready.tryAcquire(1, 10000) && m_registered;
    }
    std::vector<Request> Requests() const {
        return m_fake ? m_fake->Requests() : std::vector<Request>{};
    }

protected:
    void run() override {
        const QString name = QStringLiteral("fake-logind");
        {
            QDBusConnection bus = QDBusConnection::connectToBus(m_address, name);
            m_fake = std::make_unique<FakeLogind>(m_refuse);
            m_registered = bus.isConnected() &&
                           bus.registerObject(QStringLiteral("/org/freedesktop/login1"),
                                              m_fake.get(), QDBusConnection::ExportAllSlots) &&
                           bus.registerService(QStringLiteral("org.freedesktop.login1"));
            m_ready.release();
            if (m_registered) exec();
            bus.unregisterService(QStringLiteral("org.freedesktop.login1"));
            bus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        }
        QDBusConnection::disconnectFromBus(name);
    }

private:
    const QString m_address;
    const bool m_refuse;
    QSemaphore m_ready;
    bool m_registered = false;
    std::unique_ptr<FakeLogind> m_fake;
};

class LinuxPowerControlRequests : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_bus = new test::PrivateBus; }
    static void TearDownTestSuite() {
        delete s_bus;
        s_bus = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_bus->IsRunning()) << "could not start a private bus"; }

    static test::PrivateBus* s_bus;
};
test::PrivateBus* LinuxPowerControlRequests::s_bus = nullptr;

TEST_F(LinuxPowerControlRequests, RebootAsksLogindToRebootWithoutPrompting) {
    FakeLogindThread logind(s_bus->Address(), false);
    ASSERT_TRUE(logind.StartAndRegister());
    LinuxPowerControl power(s_bus->Address());

    EXPECT_TRUE(power.ExitWindows(kExitReboot));

    const auto requests = logind.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, QStringLiteral("Reboot"));
    EXPECT_FALSE(requests[0].interactive);
}

TEST_F(LinuxPowerControlRequests, ShutdownWithOrWithoutPowerOffAsksLogindToPowerOff) {
    FakeLogindThread logind(s_bus->Address(), false);
    ASSERT_TRUE(logind.StartAndRegister());
    LinuxPowerControl power(s_bus->Address());

    EXPECT_TRUE(power.ExitWindows(kExitShutdown));
    EXPECT_TRUE(power.ExitWindows(kExitShutdown | kExitPowerOff));

    const auto requests = logind.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const Request& request : requests) {
        EXPECT_EQ(request.method, QStringLiteral("PowerOff"));
        EXPECT_FALSE(request.interactive);
    }
}

TEST_F(LinuxPowerControlRequests, RequestThatLogindRejectsIsReportedAsRefused) {
    FakeLogindThread logind(s_bus->Address(), true);
    ASSERT_TRUE(logind.StartAndRegister());
    LinuxPowerControl power(s_bus->Address());

    EXPECT_FALSE(power.ExitWindows(kExitReboot));
    EXPECT_EQ(logind.Requests().size(), 1u);
}

TEST_F(LinuxPowerControlRequests, BusWithoutLogindRefusesTheRequest) {
    LinuxPowerControl power(s_bus->Address());
    EXPECT_FALSE(power.ExitWindows(kExitShutdown));
}

TEST_F(LinuxPowerControlRequests, RequestWithoutShutdownOrRebootFlagAsksNothing) {
    FakeLogindThread logind(s_bus->Address(), false);
    ASSERT_TRUE(logind.StartAndRegister());
    LinuxPowerControl power(s_bus->Address());

    EXPECT_FALSE(power.ExitWindows(0));
    EXPECT_TRUE(logind.Requests().empty());
}

TEST(LinuxPowerControlSystemBus, UnreachableSystemBusRefusesTheRequest) {
    // The test entry point points the system bus nowhere; never go on without that.
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_NE(address, nullptr);
    ASSERT_STREQ(address, "unix:path=/nonexistent");

    LinuxPowerControl power;
    EXPECT_FALSE(power.ExitWindows(kExitReboot));
}

}  // namespace
}  // namespace orvane

#include "linux_power_control_test.moc"
