// A TLS client for tests: OpenSSL's client side on a non-blocking descriptor, stepped from
// the test while the server runs on the Qt event loop. It checks nothing of the certificate
// (as `verify=0` clients do); the test compares the fingerprint itself.
#pragma once

#include <QByteArray>
#include <QString>

struct ssl_st;
struct ssl_ctx_st;

namespace orvane::test {

class TlsTestClient final {
public:
    // Takes the descriptor (closed with the client). maxVersion 0: any version.
    explicit TlsTestClient(int fd, int maxVersion = 0);
    ~TlsTestClient();
    TlsTestClient(const TlsTestClient&) = delete;
    TlsTestClient& operator=(const TlsTestClient&) = delete;

    // One non-blocking handshake step: 1 finished, 0 waiting, -1 failed.
    int StepHandshake();
    // Pumps the event loop and steps until the handshake finished; false on failure/timeout.
    bool Handshake(int timeoutMs = 5000);
    // Writes everything, pumping the event loop while the server has no room.
    bool Write(const QByteArray& bytes, int timeoutMs = 5000);
    // Reads what has arrived (without waiting); false once the stream has ended.
    bool ReadAvailable();
    // Pumps and reads until the received text contains `text`, or `count` bytes are there.
    bool WaitFor(const QByteArray& text, int timeoutMs = 5000);
    bool WaitForBytes(long count, int timeoutMs = 10000);
    // Pumps and reads until the server ends the stream.
    bool WaitForEnd(int timeoutMs = 5000);

    QByteArray Take();
    const QByteArray& Received() const { return m_received; }
    QString PeerFingerprint() const;
    void Close();
    int Descriptor() const { return m_fd; }

private:
    ssl_ctx_st* m_context = nullptr;
    ssl_st* m_ssl = nullptr;
    int m_fd;
    bool m_ended = false;
    QByteArray m_received;
};

}  // namespace orvane::test
