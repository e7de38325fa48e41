// One encrypted connection on a connected non-blocking descriptor, driven by the event loop:
// every step returns at once and says which readiness of the descriptor it waits for.
#pragma once

#include <QString>

struct ssl_st;

namespace orvane {

class TlsServerContext;

class TlsChannel final {
public:
    enum class Status {
        Done,       // the step finished (bytes were moved, the handshake is complete)
        WantRead,   // call again when the descriptor is readable
        WantWrite,  // call again when the descriptor is writable
        Closed,     // the peer ended the encrypted stream
        Failed,     // the connection cannot go on; FailureReason() says why
    };

    // The descriptor stays the caller's: the channel never closes it.
    TlsChannel(const TlsServerContext& context, int fd);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Continues the server handshake. A client that ends the stream half-way, or sends
    // anything that is not TLS, gives Failed.
    Status Handshake();
    bool IsEstablished() const { return m_established; }

    // Like recv/send: Done with *count > 0, or a status with *count == 0. A Write that got
    // WantRead or WantWrite must be retried with at least the same bytes (the buffer may move).
    Status Read(char* buffer, long length, long* count);
    Status Write(const char* data, long length, long* count);
    // Decrypted bytes are waiting that the descriptor will not signal again.
    bool HasBufferedInput() const;

    // Sends close_notify, without waiting for the peer's. Done, WantWrite, or Failed.
    Status Shutdown();

    // "TLS 1.3 TLS_AES_256_GCM_SHA384" once established, empty before.
    QString Description() const;
    QString FailureReason() const { return m_failure; }

    // The transport's last errno and end-of-stream, for the socket glue.
    int TransportError() const { return m_transportErrno; }
    bool TransportEnded() const { return m_transportEnded; }

private:
    Status Classify(int result, bool duringHandshake);

    ssl_st* m_ssl = nullptr;
    int m_fd;
    bool m_established = false;
    bool m_failed = false;
    int m_transportErrno = 0;
    bool m_transportEnded = false;
    QString m_failure;

    friend struct TlsChannelTransport;
};

}  // namespace orvane
