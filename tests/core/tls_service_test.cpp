// The encrypted port end to end: real TLS clients on loopback against the Telnet service,
// beside plain clients on the plain port.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include <QFile>
#include <QRandomGenerator>
#include <memory>

#include "AddressedConnection.h"
#include "FakeClock.h"
#include "ShellPrompt.h"
#include "TelnetServerFixture.h"
#include "TestEnvironment.h"
#include "TlsTestClient.h"
#include "app/OperatorTexts.h"
#include "config/DataDirectory.h"
#include "config/FileLocations.h"
#include "platform/AsyncSocket.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "platform/TlsCertificate.h"
#include "telnet/DosBridge.h"

namespace orvane::test {
namespace {

int ModeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    return int(info.st_mode & 07777);
}

// A port of 127.0.0.1 that was free a moment ago.
int FreePort() {
    AsyncListener listener;
    if (!listener.Listen(0)) return 0;
    return listener.BoundPort();
}

class TlsService : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("admin", "secret", 1, 1, 1);
        server.settings.Write(setting::TlsEnable, 1);
        server.settings.Write(setting::TlsPortNr, 0);
        server.service.SetBridgeFactory([this](BridgeEndpoint& endpoint) {
            return std::make_unique<DosBridge>(endpoint, launcher);
        });
    }
    void TearDown() override {
        server.service.StopServer();
        ChildReaper::Instance().FinishAll();
    }

    std::unique_ptr<TlsTestClient> ConnectTls(int maxVersion = 0) {
        const int fd = OpenLoopbackConnection(server.service.TlsBoundPort(), 0, true);
        if (fd < 0) return nullptr;
        auto client = std::make_unique<TlsTestClient>(fd, maxVersion);
        if (!client->Handshake()) return nullptr;
        return client;
    }

    // One short dialogue, each answer awaited before the next line; everything received.
    template <typename Client>
    QByteArray Dialogue(Client& client) {
        QByteArray transcript;
        const std::pair<QByteArray, QByteArray> steps[] = {
            {"", "Username : "},
            {"admin\r\n", "Password : "},
            {"secret\r\n", "Log out\r\n\r\n> "},
            {"help\r\n", "Log out\r\n\r\n> "},
            {"nonsense\r\n", "Unknown command\r\n\r\n> "},
            {"exit\r\n", "Goodbye!\r\n"},
        };
        for (const auto& [send, until] : steps) {
            if (!send.isEmpty()) client.Send(send);
            const bool arrived = client.WaitFor(until);
            transcript += client.Take();
            if (!arrived) return "incomplete: " + transcript;
        }
        return transcript;
    }

    std::vector<QByteArray> EntriesAbout(const QByteArray& start) const {
        std::vector<QByteArray> found;
        for (const QByteArray& what : server.Whats()) {
            if (what.startsWith(start)) found.push_back(what);
        }
        return found;
    }

    TelnetServerFixture server;
    PosixInterpreterLauncher launcher;
};

// The TLS client with the plain client's interface, for the shared dialogue.
struct TlsDialogueClient {
    TlsTestClient& tls;
    void Send(const QByteArray& bytes) { tls.Write(bytes); }
    bool WaitFor(const QByteArray& text) { return tls.WaitFor(text); }
    QByteArray Take() { return tls.Take(); }
};

TEST_F(TlsService, EncryptedLoginShowsTheLoggedFingerprintAndTheSameBytesAsAPlainSession) {
    ASSERT_NE(server.Start(), 0);
    const int tlsPort = server.service.TlsBoundPort();
    ASSERT_NE(tlsPort, 0);
    ASSERT_NE(tlsPort, server.port);
    const QString fingerprint = server.service.TlsFingerprint();
    ASSERT_EQ(fingerprint.size(), 95);
    ASSERT_EQ(EntriesAbout("SHA-256 fingerprint ").size(), 1u);
    EXPECT_EQ(EntriesAbout("SHA-256 fingerprint ")[0],
              "SHA-256 fingerprint " + fingerprint.toLatin1());
    EXPECT_EQ(server.entries[0].who, "TLS port " + QByteArray::number(tlsPort));

    auto tls = ConnectTls();
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->PeerFingerprint(), fingerprint);
    TlsDialogueClient tlsClient{*tls};
    const QByteArray encrypted = Dialogue(tlsClient);

    LoopbackClient plain;
    ASSERT_TRUE(plain.Connect(server.port));
    const QByteArray clear = Dialogue(plain);
    EXPECT_TRUE(encrypted.startsWith(kGreetingBytes)) << encrypted.toStdString();
    EXPECT_EQ(encrypted.toStdString(), clear.toStdString());

    // "Logging in...", then the protocol and cipher, then the login: only for the TLS session.
    const std::vector<QByteArray> whats = server.Whats();
    const auto at = std::find(whats.begin(), whats.end(), QByteArray("Logging in..."));
    ASSERT_NE(at, whats.end());
    ASSERT_NE(at + 1, whats.end());
    EXPECT_EQ(*(at + 1), "TLS 1.3 TLS_AES_256_GCM_SHA384");
    EXPECT_EQ(EntriesAbout("TLS 1.").size(), 1u);

    // A TLS 1.2 client is served too, and named as such.
    auto older = ConnectTls(TLS1_2_VERSION);
    ASSERT_TRUE(older);
    ASSERT_TRUE(older->WaitFor("Username : "));
    EXPECT_TRUE(PumpUntil([&] { return EntriesAbout("TLS 1.2 ").size() == 1; }));
}

TEST_F(TlsService, DosOverTlsCarriesFiveMegabytesIntact) {
    ASSERT_NE(server.Start(), 0);
    auto tls = ConnectTls();
    ASSERT_TRUE(tls);
    ASSERT_TRUE(tls->WaitFor("Username : "));
    ASSERT_TRUE(tls->Write("admin\r\n"));
    ASSERT_TRUE(tls->WaitFor("Password : "));
    ASSERT_TRUE(tls->Write("secret\r\n"));
    ASSERT_TRUE(tls->WaitFor("\r\n> ")) << tls->Received().toStdString();
    ASSERT_TRUE(tls->Write("dos\r\n"));
    ASSERT_TRUE(PumpUntil(
        [&] {
            tls->ReadAvailable();
            return EndsWithShellPrompt(tls->Received());
        },
        10000));
    tls->Take();
    ASSERT_TRUE(tls->Write("head -c 5000000 /dev/zero | tr '\\0' x; echo; echo DO''NE\r\n"));
    ASSERT_TRUE(tls->WaitFor("\r\nDONE\r\n", 60000));
    const QByteArray& got = tls->Received();
    EXPECT_EQ(got.mid(got.indexOf("\r\n")).count('x'), 5000000);
    // The output buffer kept its bound while the client read: no session was left blocked.
    ASSERT_TRUE(tls->Write("exit\r\n"));
    EXPECT_TRUE(tls->WaitFor("\r\n> ", 10000));
    EXPECT_EQ(server.service.BlockedSessionCount(), 0);
}

TEST_F(TlsService, PlainTextRandomBytesAndAClientLeavingHalfWayAreClosedWithoutHoldingASlot) {
    ASSERT_NE(server.Start(), 0);
    const int tlsPort = server.service.TlsBoundPort();

    LoopbackClient typist;
    ASSERT_TRUE(typist.Connect(tlsPort));
    ASSERT_TRUE(typist.Send("admin\r\nsecret\r\n"));
    ASSERT_TRUE(typist.WaitForEnd(5000));
    // Not a byte of the session reached a client that never spoke TLS.
    EXPECT_FALSE(typist.Received().contains("Username"));

    for (int size : {3, 200, 5000}) {
        QByteArray noise(size, Qt::Uninitialized);
        for (char& c : noise) c = char(QRandomGenerator::global()->bounded(256));
        LoopbackClient garbage;
        ASSERT_TRUE(garbage.Connect(tlsPort));
        garbage.Send(noise);
        garbage.ShutdownSend();
        EXPECT_TRUE(garbage.WaitForEnd(5000)) << size;
    }

    // A real client that stops after its first handshake message holds its slot only while
    // it stays; when it goes, the slot is free again.
    {
        const int fd = OpenLoopbackConnection(tlsPort, 0, true);
        TlsTestClient halfway(fd);
        EXPECT_EQ(halfway.StepHandshake(), 0);
        ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 1; }));
    }

    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }, 5000));
    EXPECT_EQ(EntriesAbout("TLS handshake failed (").size(), 5u);
    EXPECT_EQ(EntriesAbout("Connection terminated").size(), 5u);

    // Ten at once still fit: every failed one gave its slot back.
    std::vector<std::unique_ptr<TlsTestClient>> clients;
    for (int i = 0; i < TelnetService::kMaxSessions; ++i) {
        clients.push_back(ConnectTls());
        ASSERT_TRUE(clients.back()) << i;
        ASSERT_TRUE(clients.back()->WaitFor("Username : ")) << i;
    }
    EXPECT_EQ(server.service.ConnectionCount(), TelnetService::kMaxSessions);
}

TEST_F(TlsService, TlsOnlyLeavesThePlainPortClosedAndShareTheTenSlots) {
    const int plainPort = FreePort();
    ASSERT_NE(plainPort, 0);
    server.settings.Write(setting::PortNr, plainPort);
    server.settings.Write(setting::TlsOnly, 1);
    ASSERT_TRUE(server.service.StartServer());
    EXPECT_EQ(server.service.BoundPort(), 0);
    EXPECT_TRUE(server.service.IsListening());
    EXPECT_LT(OpenLoopbackConnection(plainPort, 0, false), 0);
    auto tls = ConnectTls();
    ASSERT_TRUE(tls);
    EXPECT_TRUE(tls->WaitFor("Username : "));
    server.service.StopServer();
    EXPECT_FALSE(server.service.IsListening());

    // Both ports: the slots are shared, so the eleventh client is turned away on either.
    server.settings.Write(setting::TlsOnly, 0);
    server.settings.Write(setting::PortNr, 0);
    ASSERT_NE(server.Start(), 0);
    std::vector<std::unique_ptr<LoopbackClient>> plain;
    for (int i = 0; i < 5; ++i) {
        plain.push_back(server.Connect());
        ASSERT_TRUE(plain.back());
    }
    std::vector<std::unique_ptr<TlsTestClient>> encrypted;
    for (int i = 0; i < 5; ++i) {
        encrypted.push_back(ConnectTls());
        ASSERT_TRUE(encrypted.back());
        ASSERT_TRUE(encrypted.back()->WaitFor("Username : "));
    }
    EXPECT_EQ(server.service.ConnectionCount(), 10);
    const int fd = OpenLoopbackConnection(server.service.TlsBoundPort(), 0, true);
    TlsTestClient eleventh(fd);
    EXPECT_FALSE(eleventh.Handshake(3000));
    LoopbackClient eleventhPlain;
    ASSERT_TRUE(eleventhPlain.Connect(server.port));
    EXPECT_TRUE(eleventhPlain.WaitForEnd());
    EXPECT_TRUE(eleventhPlain.Received().isEmpty());
}

TEST_F(TlsService, ConfiguredFilesAreUsedOrRefusedWithTheReasonAndTheGeneratedPairIsKept) {
    // Generated at the first start in the private data directory, and kept.
    ASSERT_NE(server.Start(), 0);
    const QString directory = UserDataDirectory();
    const QString generated = SelfSignedCertificatePath(directory);
    const QString fingerprint = server.service.TlsFingerprint();
    QString reason;
    EXPECT_EQ(CertificateFileFingerprint(generated, &reason), fingerprint);
    EXPECT_EQ(ModeOf(directory), 0700);
    EXPECT_EQ(ModeOf(directory + QStringLiteral("/tls-key.pem")), 0600);
    server.service.StopServer();
    ASSERT_NE(server.Start(), 0);
    EXPECT_EQ(server.service.TlsFingerprint(), fingerprint);
    EXPECT_EQ(EntriesAbout("SHA-256 fingerprint " + fingerprint.toLatin1()).size(), 2u);
    server.service.StopServer();

    // A certificate of its own with the generated key: refused, and the message says why.
    const QString other = MakeTempDir(QStringLiteral("other-pair"));
    const auto pair = ProvideSelfSignedPair(other, QStringLiteral("elsewhere"), {}, &reason);
    ASSERT_TRUE(pair);
    server.settings.Write(setting::TlsCertFile, pair->certificateFile);
    server.settings.Write(setting::TlsKeyFile, directory + QStringLiteral("/tls-key.pem"));
    EXPECT_EQ(server.service.StartServer(), 0);
    EXPECT_FALSE(server.service.IsListening());
    EXPECT_EQ(server.service.BoundPort(), 0);
    const QString expected =
        QStringLiteral("the key in %1 does not match the certificate in %2")
            .arg(directory + QStringLiteral("/tls-key.pem"), pair->certificateFile);
    EXPECT_EQ(server.service.StartFailure(), expected);
    EXPECT_EQ(StartFailedMessage(server.service.StartFailure()),
              QString::fromLatin1(kStartFailedText) + QStringLiteral("\n\n") + expected);

    // A file that cannot be read names itself.
    server.settings.Write(setting::TlsKeyFile, other + QStringLiteral("/missing.pem"));
    EXPECT_EQ(server.service.StartServer(), 0);
    EXPECT_TRUE(server.service.StartFailure().startsWith(
        QStringLiteral("cannot read the key file ") + other + QStringLiteral("/missing.pem")));

    // The matching pair is served, with its own fingerprint.
    server.settings.Write(setting::TlsKeyFile, pair->keyFile);
    ASSERT_NE(server.Start(), 0);
    EXPECT_TRUE(server.service.StartFailure().isEmpty());
    auto tls = ConnectTls();
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->PeerFingerprint(), CertificateFileFingerprint(pair->certificateFile, &reason));
    EXPECT_NE(tls->PeerFingerprint(), fingerprint);
}

TEST(TlsDoor, AClientStoppingMidHandshakeIsFreedByTheLoginTimeoutAndFailedHandshakesCostPenalties) {
    FakeClock clock;
    TelnetServerFixture server{&clock};
    server.AddUser("admin", "secret");
    server.settings.Write(setting::TlsEnable, 1);
    server.settings.Write(setting::TlsPortNr, 0);
    ASSERT_NE(server.Start(), 0);
    const int tlsPort = server.service.TlsBoundPort();
    const auto count = [&](const char* what) {
        int n = 0;
        for (const QByteArray& text : server.Whats()) n += text == what ? 1 : 0;
        return n;
    };

    // Its first handshake message, then nothing: the slot is held until the login timeout.
    TlsTestClient halfway(ConnectFrom("127.0.0.2", "127.0.0.1", tlsPort));
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 1; }));
    EXPECT_EQ(halfway.StepHandshake(), 0);
    PumpFor(20);
    clock.Advance(120'000);
    ASSERT_TRUE(PumpUntil([&] { return count("Login timed out") == 1; }));
    clock.Advance(10'000);
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
    // The timeout put the address in a penalty, on both ports alike.
    LoopbackClient refused;
    ASSERT_TRUE(refused.ConnectFrom("127.0.0.2", "127.0.0.1", server.port));
    EXPECT_TRUE(refused.WaitForEnd());
    EXPECT_TRUE(refused.Received().isEmpty());
    EXPECT_EQ(count("Refused: login penalty"), 1);

    // Plain text to the encrypted port counts like a failed-login lock for its address.
    LoopbackClient typist;
    ASSERT_TRUE(typist.ConnectFrom("127.0.0.3", "127.0.0.1", tlsPort));
    ASSERT_TRUE(typist.Send("admin\r\n"));
    ASSERT_TRUE(typist.WaitForEnd());
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
    TlsTestClient after(ConnectFrom("127.0.0.3", "127.0.0.1", tlsPort));
    EXPECT_FALSE(after.Handshake(3000));
    EXPECT_EQ(count("Refused: login penalty"), 2);
}

}  // namespace
}  // namespace orvane::test
