// The non-blocking connection when it is encrypted: the handshake and the data run on the
// event loop's notifiers, and a caller that buffers output as for a full kernel needs no
// other change.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <memory>

#include "LoopbackClient.h"
#include "TestEnvironment.h"
#include "TlsTestClient.h"
#include "platform/AsyncSocket.h"
#include "platform/TlsCertificate.h"
#include "platform/TlsServerContext.h"

namespace orvane {
namespace {

// Buffers what the kernel does not take and reads everything offered, like a session.
class BufferingHandler final : public AsyncSocketHandler {
public:
    void Attach(AsyncConnection& connection) { m_connection = &connection; }

    void Queue(const QByteArray& bytes) {
        m_pending.append(bytes);
        Flush();
    }
    void Flush() {
        while (!m_pending.isEmpty()) {
            const long sent = m_connection->Send(m_pending.constData(), m_pending.size());
            if (sent < 0) {
                if (errno != EAGAIN) sendFailed = true;
                m_connection->SetSendNotifications(!sendFailed);
                return;
            }
            m_pending.remove(0, sent);
        }
        m_connection->SetSendNotifications(false);
    }

    void OnReceive(int) override {
        ++receiveCalls;
        if (ignoreInput) return;
        char buffer[100];
        for (long got; (got = m_connection->Receive(buffer, sizeof buffer)) > 0;) {
            received.append(buffer, int(got));
        }
    }
    void OnClose(int) override { ++closeCalls; }
    void OnSendReady() override { Flush(); }
    void OnSecured(const QString& description) override { secured = description; }
    void OnHandshakeFailed(const QString& reason) override { failure = reason; }

    QByteArray received;
    QString secured;
    QString failure;
    int receiveCalls = 0;
    int closeCalls = 0;
    bool sendFailed = false;
    bool ignoreInput = false;

private:
    AsyncConnection* m_connection = nullptr;
    QByteArray m_pending;
};

class AsyncTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString reason;
        auto pair = ProvideSelfSignedPair(test::MakeTempDir(QStringLiteral("async-tls")),
                                          QStringLiteral("localhost"), {}, &reason);
        ASSERT_TRUE(pair) << reason.toStdString();
        m_context = TlsServerContext::Load(pair->certificateFile, pair->keyFile, &reason);
        ASSERT_TRUE(m_context) << reason.toStdString();
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        m_connection = std::make_unique<AsyncConnection>(fds[0], m_handler);
        m_handler.Attach(*m_connection);
        m_connection->StartTls(*m_context);
        m_clientFd = fds[1];
    }

    std::unique_ptr<TlsServerContext> m_context;
    BufferingHandler m_handler;
    std::unique_ptr<AsyncConnection> m_connection;
    int m_clientFd = -1;
};

TEST_F(AsyncTlsTest, OutputQueuedBeforeTheHandshakeAndFiveMegabytesArriveIntact) {
    test::TlsTestClient client(m_clientFd);
    // The greeting is written at once, as for any connection; it waits for the handshake.
    m_handler.Queue("Please wait...\r\nUsername : ");
    EXPECT_TRUE(m_connection->TlsDescription().isEmpty());
    ASSERT_TRUE(client.Handshake());
    EXPECT_EQ(client.PeerFingerprint(), m_context->Fingerprint());
    ASSERT_TRUE(client.WaitFor("Username : "));
    EXPECT_EQ(client.Take(), QByteArray("Please wait...\r\nUsername : "));
    EXPECT_EQ(m_handler.secured, QStringLiteral("TLS 1.3 TLS_AES_256_GCM_SHA384"));
    EXPECT_EQ(m_connection->TlsDescription(), m_handler.secured);

    // More than one handler read's worth arrives, in order, though the handler reads little.
    QByteArray typed;
    for (int i = 0; i < 300; ++i) typed += "line " + QByteArray::number(i) + "\r\n";
    ASSERT_TRUE(client.Write(typed));
    ASSERT_TRUE(test::PumpUntil([&] { return m_handler.received.size() >= typed.size(); }));
    EXPECT_EQ(m_handler.received, typed);

    QByteArray output(5 << 20, Qt::Uninitialized);
    QRandomGenerator(15).fillRange(reinterpret_cast<quint32*>(output.data()), output.size() / 4);
    m_handler.Queue(output);
    ASSERT_TRUE(client.WaitForBytes(output.size(), 60000));
    EXPECT_TRUE(client.Received() == output);
    EXPECT_FALSE(m_handler.sendFailed);

    // The client leaves: one close, and output after it fails instead of waiting.
    client.Close();
    ASSERT_TRUE(test::PumpUntil([&] { return m_handler.closeCalls > 0; }));
    test::PumpFor(50);
    EXPECT_EQ(m_handler.closeCalls, 1);
    m_handler.Queue(QByteArray(300000, 'x'));
    EXPECT_TRUE(test::PumpUntil([&] { return m_handler.sendFailed; }));
}

TEST_F(AsyncTlsTest, InputWaitsWhileReceivingIsOffAndIsNotOfferedForEverWhenIgnored) {
    test::TlsTestClient client(m_clientFd);
    ASSERT_TRUE(client.Handshake());
    ASSERT_TRUE(test::PumpUntil([&] { return !m_handler.secured.isEmpty(); }));

    m_connection->SetReceiveNotifications(false);
    ASSERT_TRUE(client.Write("dir\r\n"));
    test::PumpFor(100);
    EXPECT_TRUE(m_handler.received.isEmpty());
    m_connection->SetReceiveNotifications(true);
    ASSERT_TRUE(test::PumpUntil([&] { return m_handler.received == "dir\r\n"; }));

    // A handler that takes nothing is told again only when something new happens.
    m_handler.ignoreInput = true;
    const int before = m_handler.receiveCalls;
    ASSERT_TRUE(client.Write("x"));
    test::PumpFor(200);
    EXPECT_GE(m_handler.receiveCalls, before + 1);
    EXPECT_LE(m_handler.receiveCalls, before + 3);
}

TEST_F(AsyncTlsTest, PlainTextEndsInAHandshakeFailureWithNothingReceived) {
    ASSERT_EQ(::write(m_clientFd, "root\r\n", 6), 6);
    ASSERT_TRUE(test::PumpUntil([&] { return !m_handler.failure.isEmpty(); }));
    test::PumpFor(50);
    EXPECT_EQ(m_handler.receiveCalls, 0);
    EXPECT_TRUE(m_handler.secured.isEmpty());
    m_handler.Queue("Please wait...");
    EXPECT_TRUE(m_handler.sendFailed);
    ::close(m_clientFd);
}

}  // namespace
}  // namespace orvane
