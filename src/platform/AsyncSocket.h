// Non-blocking TCP sockets on the Qt event loop: the listener and the connection a
// session talks through, in clear or encrypted. Notifications arrive on the GUI thread as the
// kernel reports them.
#pragma once

#include <netinet/in.h>

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <cerrno>
#include <memory>

#include "platform/PeerAddress.h"

class QTimer;

namespace orvane {

class TlsChannel;
class TlsServerContext;

// Receives a connection's notifications. A handler returns to the event loop without
// waiting; the socket touches nothing of its own after calling one, so a handler may let
// its session be retired.
class AsyncSocketHandler {
public:
    virtual ~AsyncSocketHandler() = default;
    // Bytes are waiting to be received.
    virtual void OnReceive(int errorCode) = 0;
    // The peer ended its stream (errorCode 0: it may still read) or the connection failed.
    virtual void OnClose(int errorCode) = 0;
    // The kernel takes bytes again.
    virtual void OnSendReady() = 0;
    // An encrypted connection finished its handshake; description as TlsChannel gives it.
    virtual void OnSecured(const QString& description) { (void)description; }
    // An encrypted connection's handshake failed (the reason is for the log); nothing more
    // will be received. Unless handled otherwise, it ends like a closed connection.
    virtual void OnHandshakeFailed(const QString& reason) {
        (void)reason;
        OnClose(ECONNABORTED);
    }
};

// One connected stream socket; the object owns the descriptor and closes it when destroyed.
class AsyncConnection final : public QObject {
    Q_OBJECT
public:
    AsyncConnection(int fd, AsyncSocketHandler& handler, QObject* parent = nullptr);
    ~AsyncConnection() override;
    AsyncConnection(const AsyncConnection&) = delete;
    AsyncConnection& operator=(const AsyncConnection&) = delete;

    // Both return the byte count, or -1 with errno set (EAGAIN when they cannot proceed).
    // They never block; Receive of 0 bytes means the peer closed.
    long Send(const char* data, long length);
    long Receive(char* buffer, long length);
    // Ends the send direction: the peer sees the end of the stream, receiving goes on.
    bool ShutdownSend();
    // Closes the descriptor now; no notification follows.
    void Close();

    // Makes this an encrypted connection: the server handshake runs on the same notifiers,
    // and until it has finished Send and Receive report EAGAIN (output waits in the caller's
    // buffer as for a full kernel). From then on they carry the plain bytes.
    void StartTls(const TlsServerContext& context);
    bool IsEncrypted() const { return m_tls != nullptr; }
    // "TLS 1.3 TLS_AES_256_GCM_SHA384" once the handshake has finished, empty otherwise.
    QString TlsDescription() const;

    // While off, no receive or close notification is delivered.
    void SetReceiveNotifications(bool on);
    // While on, OnSendReady is delivered whenever the kernel takes bytes.
    void SetSendNotifications(bool on);
    // While on, received bytes are read and dropped here (the close is still reported):
    // for a session that reads nothing more but must still notice the peer leaving.
    void SetDiscardInput(bool on) { m_discardInput = on; }

    int Descriptor() const { return m_fd; }

private:
    void HandleReadable();
    void HandleWritable();
    void UpdateNotifiers();
    void ReportClose(int error);
    void StepHandshake();
    void ReadTlsRecord();
    void QueueTlsRead();
    bool HasTlsInput() const;

    int m_fd;
    AsyncSocketHandler& m_handler;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    bool m_receiveOn = true;
    bool m_discardInput = false;
    bool m_closeReported = false;
    bool m_sendWanted = false;

    // Encrypted connections only. Decrypted bytes leave the kernel before the handler asks
    // for them, so the readiness the notifier would give is re-created from the event loop.
    std::unique_ptr<TlsChannel> m_tls;
    QByteArray m_tlsInput;
    bool m_tlsNeedsWrite = false;  // a handshake or read step waits for writable
    bool m_sendNeedsRead = false;  // a write step waits for readable
    bool m_tlsReadQueued = false;
    bool m_tlsTaken = false;  // the handler took bytes since it was last told of some
};

// The listening socket: SO_REUSEADDR, non-blocking, on every IPv4 address or on the one
// address asked for.
class AsyncListener final : public QObject {
    Q_OBJECT
public:
    // How long the listener stops watching after the process ran out of descriptors.
    static constexpr int kDescriptorBackoffMs = 1000;

    explicit AsyncListener(QObject* parent = nullptr);
    ~AsyncListener() override;
    AsyncListener(const AsyncListener&) = delete;
    AsyncListener& operator=(const AsyncListener&) = delete;

    // Creates, binds and listens; false (and nothing left open) on any failure, with the
    // reason in FailureReason. An empty address is every IPv4 address; "::" is every IPv4
    // and IPv6 address on one socket; any other IPv4 or IPv6 literal binds that one only.
    bool Listen(int port);
    bool Listen(const QString& address, int port);
    QString FailureReason() const { return m_failureReason; }
    int BoundPort() const;
    // The bound address and port as "0.0.0.0:2323" ("[::]:2323" for IPv6); empty when closed.
    QString BoundAddress() const;
    // Takes one pending connection: its non-blocking descriptor, or -1. The peer of either
    // family; an IPv4 client of a dual-stack socket comes back as plain IPv4.
    int Accept(PeerAddress* peer);
    int Accept(sockaddr_in* peer);
    // False while backing off after accept ran out of descriptors.
    bool IsWatching() const;

signals:
    // A connection is waiting to be accepted.
    void acceptReady();

private:
    int AcceptInto(sockaddr* peer, socklen_t* length);
    bool Fail(int fd, const QString& reason);

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_backoff = nullptr;
    QString m_failureReason;
};

// Lets the kernel notice a client whose network vanished: keepalive probes after 60 s of
// silence, every 10 s, 6 of them, and at most 120 s of unacknowledged output.
void ApplyKeepAlive(int fd);

// Sets one integer socket option. These are best-effort: a failure changes nothing a user
// would see, so it only goes to the platform's diagnostic category.
void SetSocketOption(int fd, int level, int name, int value, const char* what);

}  // namespace orvane
