// The loopback server fixture.
#include "TelnetServerFixture.h"

#include <QFile>

#include "TestEnvironment.h"
#include "TestUsers.h"

namespace orvane::test {

namespace {
QString NewDirectory() {
    return MakeTempDir(QStringLiteral("telnet"));
}
}  // namespace

TelnetServerFixture::TelnetServerFixture(Clock* clock)
    : directory(NewDirectory()),
      logFile(directory + QStringLiteral("/activity.log")),
      settings(directory + QStringLiteral("/Orvane.conf")),
      app(directory + QStringLiteral("/orvane"), settings, messages),
      log(settings, app.Locations()),
      service(settings, app.Locations(), app.Users(), log, ServerServices{sound, power, clock}) {
    settings.Write(setting::PortNr, 0);
    settings.Write(setting::ListenAddress, QStringLiteral("127.0.0.1"));
    settings.Write(setting::ReverseDNS, 0);
    settings.Write(setting::LogFile, logFile);
    QObject::connect(&log, &ActivityLog::entryAdded,
                     [this](const ActivityEntry& entry) { entries.push_back(entry); });
    QObject::connect(&service, &TelnetService::connectionCountChanged,
                     [this](int count) { countChanges.push_back(count); });
}

TelnetServerFixture::~TelnetServerFixture() {
    service.StopServer();
    // Let retired sessions be destroyed before the objects they use go.
    PumpFor(5);
}

void TelnetServerFixture::AddUser(const char* name, const char* password, int canLogin, int canDos,
                                  int canShutdown, const char* greeting) {
    AppendUser(app.Users(), MakeUser(name, password, canLogin, canDos, canShutdown, greeting));
}

int TelnetServerFixture::Start() {
    if (!service.StartServer()) return 0;
    port = service.BoundPort();
    return port;
}

std::unique_ptr<LoopbackClient> TelnetServerFixture::Connect() {
    auto client = std::make_unique<LoopbackClient>();
    if (!client->Connect(port)) return nullptr;
    if (!client->WaitFor("Username : ")) return nullptr;
    client->Take();
    return client;
}

bool TelnetServerFixture::Login(LoopbackClient& client, const char* name, const char* password) {
    if (!client.Send(QByteArray(name) + "\r")) return false;
    if (!client.WaitFor("Password : ")) return false;
    if (!client.Send(QByteArray(password) + "\r")) return false;
    return client.WaitFor("\r\n> ");
}

QByteArray TelnetServerFixture::LogFileContents() const {
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

std::vector<QByteArray> TelnetServerFixture::Whats() const {
    std::vector<QByteArray> whats;
    for (const ActivityEntry& entry : entries) whats.push_back(entry.what);
    return whats;
}

}  // namespace orvane::test
