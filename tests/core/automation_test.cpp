// The automation object on a private bus: creation, the empty interface, the client's hold
// on the main window, one request per run, and the bus's service file.
#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QStandardPaths>

#include "PrivateBus.h"
#include "automation/AutomationOwner.h"
#include "automation/AutomationServer.h"
#include "automation/COrvaneDlgAutoProxy.h"

namespace orvane {
namespace {

using test::CallAndWait;
using test::WaitFor;

const QString kName = QStringLiteral("Orvane.Application");
const QString kProxyPath = QStringLiteral("/Orvane/Application");

// Stands in for the main window: counts hides instead of hiding.
class FakeWindow final : public AutomationOwner {
public:
    int m_nHides = 0;

protected:
    void HideForAutomation() override { ++m_nHides; }
};

class AutomationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bus.IsRunning()) << "dbus-daemon did not start";
        m_serverConnection = m_bus.Connect();
        m_client = m_bus.Connect();
        ASSERT_TRUE(m_serverConnection.isConnected());
        ASSERT_TRUE(m_client.isConnected());
        m_server = std::make_unique<AutomationServer>(m_serverConnection);
    }

    void TearDown() override {
        // The window goes before the server, as at the end of a run.
        m_server->SetMainWindow(nullptr);
        m_window.reset();
        m_server.reset();
    }

    QDBusMessage Call(const QString& path, const QString& interface, const QString& member,
                      const QVariantList& args = {}, const QString& service = kName) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, member);
        call.setArguments(args);
        return CallAndWait(m_client, call);
    }

    QDBusMessage CreateInstance() {
        return Call(QStringLiteral("/"), QStringLiteral("Orvane.ClassFactory"),
                    QStringLiteral("CreateInstance"));
    }

    QString ServerUniqueName() const { return m_serverConnection.baseService(); }

    void StartWithWindow() {
        ASSERT_TRUE(m_server->RegisterAll());
        m_server->SetMainWindow(m_window.get());
    }

    test::PrivateBus m_bus;
    QDBusConnection m_serverConnection{QString()};
    QDBusConnection m_client{QString()};
    std::unique_ptr<AutomationServer> m_server;
    std::unique_ptr<FakeWindow> m_window = std::make_unique<FakeWindow>();
};

TEST_F(AutomationTest, ClientGetsTheApplicationObjectFromTheFactory) {
    StartWithWindow();
    const QDBusMessage reply = CreateInstance();
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_EQ(reply.arguments().size(), 1);
    EXPECT_EQ(qvariant_cast<QDBusObjectPath>(reply.arguments().at(0)).path(), kProxyPath);
    EXPECT_EQ(reply.signature(), QStringLiteral("o"));
}

TEST_F(AutomationTest, ApplicationInterfaceIsListedButEmpty) {
    StartWithWindow();
    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    const QDBusMessage reply =
        Call(kProxyPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
             QStringLiteral("Introspect"), {}, ServerUniqueName());
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const QString xml = reply.arguments().at(0).toString();
    const qsizetype start = xml.indexOf(QStringLiteral("<interface name=\"Orvane.Application\">"));
    ASSERT_GE(start, 0) << xml.toStdString();
    const qsizetype end = xml.indexOf(QStringLiteral("</interface>"), start);
    const QString body = xml.mid(start, end - start);
    EXPECT_FALSE(body.contains(QStringLiteral("<method")));
    EXPECT_FALSE(body.contains(QStringLiteral("<property")));
    EXPECT_FALSE(body.contains(QStringLiteral("<signal")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<interface name=\"Orvane.Lifetime\">")));
}

TEST_F(AutomationTest, AnyMethodOrPropertyByNameIsRefused) {
    StartWithWindow();
    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    const QString app = QStringLiteral("Orvane.Application");
    const QString unique = ServerUniqueName();

    for (const QString& member : {QStringLiteral("Quit"), QStringLiteral("Visible"),
                                  QStringLiteral("Release"), QStringLiteral("x")}) {
        const QDBusMessage reply = Call(kProxyPath, app, member, {}, unique);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << member.toStdString();
        EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
    }
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    QDBusMessage reply = Call(kProxyPath, properties, QStringLiteral("Get"),
                              {app, QStringLiteral("Visible")}, unique);
    EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"));
    reply = Call(kProxyPath, properties, QStringLiteral("Set"),
                 {app, QStringLiteral("Visible"), QVariant::fromValue(QDBusVariant(true))}, unique);
    EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"));
    reply = Call(kProxyPath, properties, QStringLiteral("GetAll"), {app}, unique);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(qdbus_cast<QVariantMap>(reply.arguments().at(0)).isEmpty());

    // Refusals leave the client's hold in place.
    EXPECT_NE(m_window->Proxy(), nullptr);
}

TEST_F(AutomationTest, WhileHeldClosingTheWindowOnlyHidesIt) {
    StartWithWindow();
    EXPECT_TRUE(m_window->MayClose());
    EXPECT_EQ(m_window->m_nHides, 0);

    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    ASSERT_NE(m_window->Proxy(), nullptr);
    EXPECT_EQ(m_window->Proxy(), m_server->Proxy());
    EXPECT_EQ(m_window->Proxy()->Owner(), m_window.get());
    EXPECT_FALSE(m_window->MayClose());
    EXPECT_FALSE(m_window->MayClose());
    EXPECT_EQ(m_window->m_nHides, 2);
}

TEST_F(AutomationTest, ReleaseLetsTheNextCloseEndTheProgram) {
    StartWithWindow();
    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    const QString unique = ServerUniqueName();

    // Another client cannot end someone else's hold.
    QDBusConnection stranger = m_bus.Connect();
    QDBusMessage release = QDBusMessage::createMethodCall(
        unique, kProxyPath, QStringLiteral("Orvane.Lifetime"), QStringLiteral("Release"));
    EXPECT_EQ(CallAndWait(stranger, release).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
    EXPECT_NE(m_window->Proxy(), nullptr);

    const QDBusMessage reply =
        Call(kProxyPath, QStringLiteral("Orvane.Lifetime"), QStringLiteral("Release"), {}, unique);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(m_window->Proxy(), nullptr);
    EXPECT_TRUE(m_window->MayClose());
    EXPECT_EQ(m_window->m_nHides, 0);

    // The object is gone from the bus once the event loop has run.
    EXPECT_TRUE(WaitFor([&] { return m_server->Proxy() == nullptr; }));
    const QDBusMessage again =
        Call(kProxyPath, QStringLiteral("Orvane.Lifetime"), QStringLiteral("Release"), {}, unique);
    EXPECT_EQ(again.type(), QDBusMessage::ErrorMessage);
}

TEST_F(AutomationTest, ClientLeavingTheBusEndsItsHold) {
    StartWithWindow();
    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    ASSERT_NE(m_window->Proxy(), nullptr);

    const QString clientName = m_client.name();
    m_client = QDBusConnection(QString());
    m_bus.Disconnect(clientName);
    EXPECT_TRUE(WaitFor([&] { return m_window->Proxy() == nullptr; }));
    EXPECT_TRUE(m_window->MayClose());
    EXPECT_TRUE(WaitFor([&] { return m_server->Proxy() == nullptr; }));
}

TEST_F(AutomationTest, RunGivesUpItsNameAfterServingOneClient) {
    StartWithWindow();
    QDBusConnectionInterface* bus = m_client.interface();
    EXPECT_EQ(bus->serviceOwner(kName).value(), ServerUniqueName());

    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(WaitFor([&] { return !bus->isServiceRegistered(kName).value(); }));
    EXPECT_TRUE(m_server->HasServed());

    // A request that still reaches this run is refused and leaves the first hold alone.
    const QDBusMessage second = Call(QStringLiteral("/"), QStringLiteral("Orvane.ClassFactory"),
                                     QStringLiteral("CreateInstance"), {}, ServerUniqueName());
    EXPECT_EQ(second.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(m_window->Proxy(), m_server->Proxy());
}

TEST_F(AutomationTest, SecondRunCannotClaimATakenName) {
    ASSERT_TRUE(m_server->RegisterAll());
    AutomationServer other(m_bus.Connect());
    EXPECT_FALSE(other.RegisterAll());
}

TEST_F(AutomationTest, WindowDestroyedFirstLeavesTheProxyDetached) {
    StartWithWindow();
    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    COrvaneDlgAutoProxy* proxy = m_server->Proxy();
    ASSERT_NE(proxy, nullptr);

    m_server->SetMainWindow(nullptr);
    m_window.reset();
    EXPECT_EQ(proxy->Owner(), nullptr);

    // Releasing afterwards must not reach the destroyed window.
    const QDBusMessage reply = Call(kProxyPath, QStringLiteral("Orvane.Lifetime"),
                                    QStringLiteral("Release"), {}, ServerUniqueName());
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(WaitFor([&] { return m_server->Proxy() == nullptr; }));
}

TEST_F(AutomationTest, RequestBeforeTheWindowExistsGivesADetachedObject) {
    ASSERT_TRUE(m_server->RegisterAll());
    ASSERT_EQ(CreateInstance().type(), QDBusMessage::ReplyMessage);
    ASSERT_NE(m_server->Proxy(), nullptr);
    EXPECT_EQ(m_server->Proxy()->Owner(), nullptr);
}

TEST(AutomationBusless, NoBusMeansNoAutomationButNoFailure) {
    AutomationServer server(QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/orvane-bus"), QStringLiteral("orvane-no-bus")));
    EXPECT_FALSE(server.RegisterAll());
    QDBusConnection::disconnectFromBus(QStringLiteral("orvane-no-bus"));
}

TEST(AutomationSwitches, BusStartedRunsAreRecognised) {
    const QString prog = QStringLiteral("/opt/orv/orvane");
    EXPECT_TRUE(IsAutomationRun({prog, QStringLiteral("-Automation")}));
    EXPECT_TRUE(IsAutomationRun({prog, QStringLiteral("/automation")}));
    EXPECT_TRUE(IsAutomationRun({prog, QStringLiteral("-EMBEDDING")}));
    EXPECT_TRUE(IsAutomationRun({prog, QStringLiteral("x"), QStringLiteral("/Embedding")}));

    EXPECT_FALSE(IsAutomationRun({prog}));
    EXPECT_FALSE(IsAutomationRun({}));
    EXPECT_FALSE(IsAutomationRun({prog, QStringLiteral("Automation")}));
    EXPECT_FALSE(IsAutomationRun({prog, QStringLiteral("--Automation")}));
    EXPECT_FALSE(IsAutomationRun({prog, QStringLiteral("-Automations")}));
    EXPECT_FALSE(IsAutomationRun({prog, QStringLiteral("-")}));
    // The program's own path is not a switch.
    EXPECT_FALSE(IsAutomationRun({QStringLiteral("/Automation")}));
}

QString ReadServiceFile() {
    QFile file(ServiceFilePath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

TEST(AutomationServiceFile, NormalStartRewritesTheServiceFile) {
    const QString expectedPath = qEnvironmentVariable("XDG_DATA_HOME") +
                                 QStringLiteral("/dbus-1/services/Orvane.Application.service");
    EXPECT_EQ(ServiceFilePath(), expectedPath);

    QFile::remove(expectedPath);
    ASSERT_TRUE(UpdateRegistryAll(QStringLiteral("/opt/orv/orvane")));
    QString text = ReadServiceFile();
    EXPECT_TRUE(text.contains(QStringLiteral("[D-BUS Service]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nName=Orvane.Application\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=/opt/orv/orvane -Automation\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("{9DD32FA7-B6EA-11D2-806B-00105AA8A7D8}")));
    EXPECT_TRUE(text.contains(QStringLiteral("{9DD32FA9-B6EA-11D2-806B-00105AA8A7D8}")));

    // Every start writes it anew, whatever was there.
    QFile stale(expectedPath);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("[D-BUS Service]\nName=Orvane.Application\nExec=/old/place/orvane\n");
    stale.close();
    ASSERT_TRUE(UpdateRegistryAll(QStringLiteral("/usr/libexec/orvane/orvane")));
    text = ReadServiceFile();
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=/usr/libexec/orvane/orvane -Automation\n")));
    EXPECT_FALSE(text.contains(QStringLiteral("/old/place")));
    EXPECT_EQ(text.count(QStringLiteral("Exec=")), 1);
}

TEST(AutomationServiceFile, ProgramPathWithBlanksStaysOneWord) {
    ASSERT_TRUE(UpdateRegistryAll(QStringLiteral("/opt/my tools/it's/orvane")));
    EXPECT_TRUE(ReadServiceFile().contains(
        QStringLiteral("\nExec='/opt/my tools/it'\\''s/orvane' -Automation\n")));
}

TEST(AutomationServiceFile, PathWithALineBreakIsNotWritten) {
    ASSERT_TRUE(UpdateRegistryAll(QStringLiteral("/opt/orv/orvane")));
    EXPECT_FALSE(UpdateRegistryAll(QStringLiteral("/opt/x\nExec=/bin/evil/orvane")));
    EXPECT_FALSE(ReadServiceFile().contains(QStringLiteral("evil")));
}

}  // namespace
}  // namespace orvane
