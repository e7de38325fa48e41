// A stepped OpenSSL client for the encrypted-port tests.
#include "TlsTestClient.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include "LoopbackClient.h"
#include "platform/TlsCertificate.h"

namespace orvane::test {

TlsTestClient::TlsTestClient(int fd, int maxVersion) : m_fd(fd) {
    m_context = SSL_CTX_new(TLS_client_method());
    if (maxVersion != 0) SSL_CTX_set_max_proto_version(m_context, maxVersion);
    m_ssl = SSL_new(m_context);
    SSL_set_fd(m_ssl, fd);
    SSL_set_connect_state(m_ssl);
}

TlsTestClient::~TlsTestClient() {
    Close();
    SSL_CTX_free(m_context);
}

void TlsTestClient::Close() {
    if (m_ssl != nullptr) SSL_free(m_ssl);
    m_ssl = nullptr;
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

int TlsTestClient::StepHandshake() {
    if (m_ssl == nullptr) return -1;
    const int result = SSL_do_handshake(m_ssl);
    if (result == 1) return 1;
    const int error = SSL_get_error(m_ssl, result);
    ERR_clear_error();
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? 0 : -1;
}

bool TlsTestClient::Handshake(int timeoutMs) {
    int state = 0;
    PumpUntil(
        [&] {
            state = StepHandshake();
            return state != 0;
        },
        timeoutMs, m_fd);
    return state == 1;
}

bool TlsTestClient::Write(const QByteArray& bytes, int timeoutMs) {
    long offset = 0;
    bool failed = false;
    PumpUntil(
        [&] {
            size_t sent = 0;
            while (offset < bytes.size() &&
                   SSL_write_ex(m_ssl, bytes.constData() + offset, size_t(bytes.size() - offset),
                                &sent) == 1) {
                offset += long(sent);
            }
            if (offset < bytes.size()) {
                const int error = SSL_get_error(m_ssl, 0);
                failed = error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ;
                ERR_clear_error();
                ReadAvailable();
            }
            return offset == bytes.size() || failed;
        },
        timeoutMs, m_fd);
    return offset == bytes.size();
}

bool TlsTestClient::ReadAvailable() {
    if (m_ssl == nullptr || m_ended) return false;
    char buffer[16384];
    for (int turn = 0; turn < 1000; ++turn) {
        size_t got = 0;
        if (SSL_read_ex(m_ssl, buffer, sizeof buffer, &got) == 1) {
            m_received.append(buffer, int(got));
            continue;
        }
        const int error = SSL_get_error(m_ssl, 0);
        ERR_clear_error();
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) m_ended = true;
        break;
    }
    return !m_ended;
}

bool TlsTestClient::WaitFor(const QByteArray& text, int timeoutMs) {
    return PumpUntil(
        [&] {
            ReadAvailable();
            return m_received.contains(text);
        },
        timeoutMs, m_fd);
}

bool TlsTestClient::WaitForBytes(long count, int timeoutMs) {
    return PumpUntil(
        [&] {
            ReadAvailable();
            return m_received.size() >= count;
        },
        timeoutMs, m_fd);
}

bool TlsTestClient::WaitForEnd(int timeoutMs) {
    return PumpUntil(
        [&] {
            ReadAvailable();
            return m_ended;
        },
        timeoutMs, m_fd);
}

QByteArray TlsTestClient::Take() {
    QByteArray taken;
    taken.swap(m_received);
    return taken;
}

QString TlsTestClient::PeerFingerprint() const {
    if (m_ssl == nullptr) return QString();
    X509* peer = SSL_get1_peer_certificate(m_ssl);
    const QString fingerprint = CertificateFingerprint(peer);
    X509_free(peer);
    return fingerprint;
}

}  // namespace orvane::test
