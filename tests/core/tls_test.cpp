// The encrypted transport on its own: the certificate users check, the files an operator
// configures, and a channel driven step by step against a real TLS client.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <memory>

#include "TestEnvironment.h"
#include "platform/TlsCertificate.h"
#include "platform/TlsChannel.h"
#include "platform/TlsServerContext.h"

namespace orvane {
namespace {

using Status = TlsChannel::Status;

int ModeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    return int(info.st_mode & 07777);
}

QString RunOpenSsl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(20000)) return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

SelfSignedPair MakePair(const QString& hint) {
    QString reason;
    auto pair = ProvideSelfSignedPair(test::MakeTempDir(hint) + QStringLiteral("/keys"),
                                      QStringLiteral("orvane-host.example"),
                                      {QStringLiteral("127.0.0.1"), QStringLiteral("::1"),
                                       QStringLiteral("fe80::1%lo"), QStringLiteral("garbage")},
                                      &reason);
    EXPECT_TRUE(pair.has_value()) << reason.toStdString();
    return pair.value_or(SelfSignedPair{});
}

std::unique_ptr<TlsServerContext> LoadPair(const SelfSignedPair& pair) {
    QString reason;
    auto context = TlsServerContext::Load(pair.certificateFile, pair.keyFile, &reason);
    EXPECT_TRUE(context) << reason.toStdString();
    return context;
}

TEST(TlsCertificateTest, GeneratedPairIsPrivateNamesTheMachineAndIsKeptAcrossStarts) {
    const SelfSignedPair first = MakePair(QStringLiteral("gen"));
    ASSERT_TRUE(first.created);
    EXPECT_EQ(ModeOf(QFileInfo(first.keyFile).path()), 0700);
    EXPECT_EQ(ModeOf(first.keyFile), 0600);

    const QString text =
        RunOpenSsl({QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-text"),
                    QStringLiteral("-in"), first.certificateFile});
    EXPECT_TRUE(text.contains(QStringLiteral("prime256v1"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("CN = orvane-host.example")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("DNS:orvane-host.example, IP Address:127.0.0.1, "
                                     "IP Address:0:0:0:0:0:0:0:1, IP Address:FE80:0:0:0:0:0:0:1")))
        << text.toStdString();
    const QString endDate = RunOpenSsl(
        {QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-checkend"),
         QString::number(3652LL * 86400 - 7200), QStringLiteral("-in"), first.certificateFile});
    EXPECT_TRUE(endDate.contains(QStringLiteral("will not expire"))) << endDate.toStdString();

    // The fingerprint reads as the openssl tool prints it, so users can compare by eye.
    QString reason;
    const QString fingerprint = CertificateFileFingerprint(first.certificateFile, &reason);
    const QString printed = RunOpenSsl({QStringLiteral("x509"), QStringLiteral("-noout"),
                                        QStringLiteral("-fingerprint"), QStringLiteral("-sha256"),
                                        QStringLiteral("-in"), first.certificateFile});
    EXPECT_EQ(fingerprint.size(), 32 * 3 - 1);
    EXPECT_EQ(printed.trimmed(), QStringLiteral("sha256 Fingerprint=") + fingerprint);
    EXPECT_EQ(LoadPair(first)->Fingerprint(), fingerprint);

    // A later start finds the pair and keeps it, and takes back a key opened up meanwhile.
    ::chmod(QFile::encodeName(first.keyFile).constData(), 0644);
    auto again = ProvideSelfSignedPair(QFileInfo(first.keyFile).path(), QStringLiteral("other"), {},
                                       &reason);
    ASSERT_TRUE(again.has_value()) << reason.toStdString();
    EXPECT_FALSE(again->created);
    EXPECT_EQ(CertificateFileFingerprint(again->certificateFile, &reason), fingerprint);
    EXPECT_EQ(ModeOf(again->keyFile), 0600);

    // Half a pair is made whole again; a pair that is there but broken is reported, not replaced.
    QFile::remove(first.certificateFile);
    auto remade =
        ProvideSelfSignedPair(QFileInfo(first.keyFile).path(), QStringLiteral("h"), {}, &reason);
    ASSERT_TRUE(remade.has_value());
    EXPECT_TRUE(remade->created);
    QFile broken(remade->keyFile);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a key\n");
    broken.close();
    EXPECT_FALSE(
        ProvideSelfSignedPair(QFileInfo(first.keyFile).path(), QStringLiteral("h"), {}, &reason));
    EXPECT_TRUE(reason.contains(remade->keyFile)) << reason.toStdString();
}

TEST(TlsCertificateTest, ConfiguredFilesThatCannotBeUsedAreRefusedWithTheReason) {
    const SelfSignedPair one = MakePair(QStringLiteral("one"));
    const SelfSignedPair other = MakePair(QStringLiteral("other"));
    QString reason;

    EXPECT_FALSE(
        TlsServerContext::Load(QStringLiteral("/nonexistent/cert.pem"), one.keyFile, &reason));
    EXPECT_TRUE(
        reason.startsWith(QStringLiteral("cannot read the certificate file "
                                         "/nonexistent/cert.pem")))
        << reason.toStdString();

    EXPECT_FALSE(TlsServerContext::Load(one.certificateFile, other.keyFile, &reason));
    EXPECT_EQ(reason, QStringLiteral("the key in %1 does not match the certificate in %2")
                          .arg(other.keyFile, one.certificateFile));

    // The two files swapped: neither holds what its place asks for.
    EXPECT_FALSE(TlsServerContext::Load(one.keyFile, one.certificateFile, &reason));
    EXPECT_TRUE(
        reason.startsWith(QStringLiteral("the file %1 holds no PEM certificate").arg(one.keyFile)))
        << reason.toStdString();

    // A key with a pass phrase fails at once instead of asking on the terminal.
    const QString locked = QFileInfo(one.keyFile).path() + QStringLiteral("/locked.pem");
    RunOpenSsl({QStringLiteral("pkey"), QStringLiteral("-in"), one.keyFile,
                QStringLiteral("-aes256"), QStringLiteral("-passout"), QStringLiteral("pass:x"),
                QStringLiteral("-out"), locked});
    ASSERT_TRUE(QFile::exists(locked));
    EXPECT_FALSE(TlsServerContext::Load(one.certificateFile, locked, &reason));
    EXPECT_TRUE(reason.startsWith(
        QStringLiteral("the file %1 holds no unencrypted PEM private key").arg(locked)))
        << reason.toStdString();
}

// A TLS client in the test process over a socket pair; both ends non-blocking, stepped in turn.
class TlsChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pair = MakePair(QStringLiteral("chan"));
        m_context = LoadPair(m_pair);
        ASSERT_TRUE(m_context);
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        m_serverFd = fds[0];
        m_clientFd = fds[1];
        m_channel = std::make_unique<TlsChannel>(*m_context, m_serverFd);
    }

    void TearDown() override {
        m_channel.reset();
        if (m_client != nullptr) SSL_free(m_client);
        if (m_clientContext != nullptr) SSL_CTX_free(m_clientContext);
        if (m_serverFd >= 0) ::close(m_serverFd);
        if (m_clientFd >= 0) ::close(m_clientFd);
    }

    void StartClient(int maxVersion = 0) {
        m_clientContext = SSL_CTX_new(TLS_client_method());
        if (maxVersion != 0) {
            SSL_CTX_set_min_proto_version(m_clientContext, 0);
            SSL_CTX_set_max_proto_version(m_clientContext, maxVersion);
            SSL_CTX_set_security_level(m_clientContext, 0);
            SSL_CTX_set_cipher_list(m_clientContext, "ALL:@SECLEVEL=0");
        }
        m_client = SSL_new(m_clientContext);
        SSL_set_fd(m_client, m_clientFd);
        SSL_set_connect_state(m_client);
    }

    // Steps both handshakes until each side has finished or failed; the server's last status.
    Status Handshake() {
        Status server = Status::WantRead;
        bool clientDone = false;
        for (int turn = 0; turn < 200; ++turn) {
            if (!clientDone) {
                const int r = SSL_do_handshake(m_client);
                clientDone = r == 1 || (SSL_get_error(m_client, r) != SSL_ERROR_WANT_READ &&
                                        SSL_get_error(m_client, r) != SSL_ERROR_WANT_WRITE);
            }
            server = m_channel->Handshake();
            if (clientDone && server != Status::WantRead && server != Status::WantWrite) break;
        }
        ERR_clear_error();
        return server;
    }

    // Reads on the server side until `count` bytes arrived or nothing moves any more.
    QByteArray ServerRead(long count) {
        QByteArray got;
        char buffer[16384];
        for (int turn = 0; turn < 10000 && got.size() < count; ++turn) {
            long n = 0;
            const Status status = m_channel->Read(buffer, sizeof buffer, &n);
            if (status == Status::Done) {
                got.append(buffer, n);
            } else if (status != Status::WantRead) {
                break;
            } else {
                PumpClient();
            }
        }
        return got;
    }

    // Moves the server's data to the client while letting the client write what it holds.
    void PumpClient() {
        char buffer[16384];
        size_t n = 0;
        while (SSL_read_ex(m_client, buffer, sizeof buffer, &n) == 1)
            m_clientReceived.append(buffer, int(n));
        ERR_clear_error();
    }

    SelfSignedPair m_pair;
    std::unique_ptr<TlsServerContext> m_context;
    std::unique_ptr<TlsChannel> m_channel;
    SSL_CTX* m_clientContext = nullptr;
    SSL* m_client = nullptr;
    int m_serverFd = -1;
    int m_clientFd = -1;
    QByteArray m_clientReceived;
};

TEST_F(TlsChannelTest, ClientSeesTheCertificateAndDataCrossesIntactBothWays) {
    StartClient();
    ASSERT_EQ(Handshake(), Status::Done) << m_channel->FailureReason().toStdString();
    EXPECT_EQ(m_channel->Description(), QStringLiteral("TLS 1.3 TLS_AES_256_GCM_SHA384"));
    X509* peer = SSL_get1_peer_certificate(m_client);
    EXPECT_EQ(CertificateFingerprint(peer), m_context->Fingerprint());
    X509_free(peer);

    // Client to server: what was sent arrives, byte for byte.
    const QByteArray typed("Username : \r\n\xff\xfb\x01", 16);
    ASSERT_EQ(SSL_write(m_client, typed.constData(), int(typed.size())), typed.size());
    EXPECT_EQ(ServerRead(typed.size()), typed);

    // Server to client: four megabytes of random bytes, more than the socket holds, so the
    // writer meets WantWrite and carries on where it stopped.
    QByteArray output(4 << 20, Qt::Uninitialized);
    QRandomGenerator(15).fillRange(reinterpret_cast<quint32*>(output.data()), output.size() / 4);
    long offset = 0;
    int blocked = 0;
    for (int turn = 0; turn < 100000 && offset < output.size(); ++turn) {
        long n = 0;
        const Status status =
            m_channel->Write(output.constData() + offset, output.size() - offset, &n);
        if (status == Status::Done) {
            offset += n;
        } else {
            ASSERT_EQ(status, Status::WantWrite);
            ++blocked;
            PumpClient();
        }
    }
    for (int turn = 0; turn < 1000 && m_clientReceived.size() < output.size(); ++turn) PumpClient();
    EXPECT_GT(blocked, 0);
    EXPECT_EQ(m_clientReceived.size(), output.size());
    EXPECT_TRUE(m_clientReceived == output);

    // The client says goodbye properly: the server reads the end, then closes in turn.
    SSL_shutdown(m_client);
    char buffer[64];
    long n = 0;
    EXPECT_EQ(m_channel->Read(buffer, sizeof buffer, &n), Status::Closed);
    EXPECT_EQ(m_channel->Shutdown(), Status::Done);
}

TEST_F(TlsChannelTest, OlderProtocolsAndRenegotiationAreRefused) {
    StartClient(TLS1_1_VERSION);
    EXPECT_EQ(Handshake(), Status::Failed);
    EXPECT_FALSE(m_channel->FailureReason().isEmpty());
    EXPECT_TRUE(m_channel->Description().isEmpty());

    // A TLS 1.2 client is served, but cannot renegotiate.
    TearDown();
    SetUp();
    StartClient(TLS1_2_VERSION);
    ASSERT_EQ(Handshake(), Status::Done) << m_channel->FailureReason().toStdString();
    EXPECT_EQ(m_channel->Description(),
              QStringLiteral("TLS 1.2 TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384"));
    ASSERT_EQ(SSL_renegotiate(m_client), 1);
    bool renegotiated = false;
    for (int turn = 0; turn < 50; ++turn) {
        const int r = SSL_do_handshake(m_client);
        if (r == 1 && turn > 0) renegotiated = SSL_renegotiate_pending(m_client) == 0;
        char buffer[64];
        long n = 0;
        m_channel->Read(buffer, sizeof buffer, &n);
        if (r <= 0 && SSL_get_error(m_client, r) != SSL_ERROR_WANT_READ) break;
    }
    ERR_clear_error();
    EXPECT_FALSE(renegotiated);
}

TEST_F(TlsChannelTest, PlainTextRandomBytesAndAClientLeavingHalfWayFailCleanly) {
    // Someone types at the encrypted port with a plain Telnet client.
    ASSERT_EQ(::write(m_clientFd, "root\r\n", 6), 6);
    EXPECT_EQ(m_channel->Handshake(), Status::Failed);
    EXPECT_FALSE(m_channel->FailureReason().isEmpty());
    long n = 0;
    char buffer[64];
    EXPECT_EQ(m_channel->Read(buffer, sizeof buffer, &n), Status::Failed);
    EXPECT_EQ(m_channel->Write("x", 1, &n), Status::Failed);
    EXPECT_EQ(m_channel->Shutdown(), Status::Failed);

    // Random bytes, in several sizes.
    for (int size : {1, 5, 300, 70000}) {
        TearDown();
        SetUp();
        QByteArray noise(size, Qt::Uninitialized);
        for (char& c : noise) c = char(QRandomGenerator::global()->bounded(256));
        noise[0] = char(0x16);  // looks like a handshake record, to get past the first byte
        const long written = ::write(m_clientFd, noise.constData(), size_t(noise.size()));
        EXPECT_GT(written, 0);
        Status status = Status::WantRead;
        for (int turn = 0; turn < 100 && status == Status::WantRead; ++turn) {
            status = m_channel->Handshake();
            if (status == Status::WantRead && turn == 50) ::shutdown(m_clientFd, SHUT_WR);
        }
        EXPECT_EQ(status, Status::Failed) << size;
    }

    // A client that sends its hello and then stops: the server waits (the login timeout's
    // business), and when it goes away the handshake fails.
    TearDown();
    SetUp();
    StartClient();
    EXPECT_EQ(SSL_do_handshake(m_client), -1);
    EXPECT_EQ(m_channel->Handshake(), Status::WantRead);
    EXPECT_EQ(m_channel->Handshake(), Status::WantRead);
    ::shutdown(m_clientFd, SHUT_WR);
    EXPECT_EQ(m_channel->Handshake(), Status::Failed);
    EXPECT_EQ(m_channel->FailureReason(), QStringLiteral("the client left during the handshake"));
}

TEST_F(TlsChannelTest, WritingToAClientThatHasGoneFailsWithoutASignal) {
    StartClient();
    ASSERT_EQ(Handshake(), Status::Done);
    ::close(m_clientFd);
    m_clientFd = -1;
    const QByteArray data(65536, 'x');
    Status status = Status::Done;
    long n = 0;
    for (int turn = 0; turn < 100 && status == Status::Done; ++turn) {
        status = m_channel->Write(data.constData(), data.size(), &n);
    }
    EXPECT_EQ(status, Status::Failed);
    EXPECT_EQ(m_channel->TransportError(), EPIPE);
}

}  // namespace
}  // namespace orvane
