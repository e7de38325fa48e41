// TLS over a non-blocking socket without threads: OpenSSL's state machine reads and writes
// through a small transport of our own, and each call reports what it is waiting for.
#include "platform/TlsChannel.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/TlsServerContext.h"

namespace orvane {

// The transport under the channel: recv/send on the descriptor. OpenSSL's own socket
// transport writes with write(), which would raise SIGPIPE when the client has gone.
struct TlsChannelTransport {
    static TlsChannel* Of(BIO* bio) { return static_cast<TlsChannel*>(BIO_get_data(bio)); }

    static int Write(BIO* bio, const char* data, size_t length, size_t* written) {
        TlsChannel* channel = Of(bio);
        BIO_clear_retry_flags(bio);
        const ssize_t sent = ::send(channel->m_fd, data, length, MSG_NOSIGNAL);
        if (sent >= 0) {
            *written = size_t(sent);
            return 1;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            BIO_set_retry_write(bio);
        } else {
            channel->m_transportErrno = errno;
        }
        return 0;
    }

    static int Read(BIO* bio, char* buffer, size_t length, size_t* got) {
        TlsChannel* channel = Of(bio);
        BIO_clear_retry_flags(bio);
        const ssize_t n = ::recv(channel->m_fd, buffer, length, 0);
        if (n > 0) {
            *got = size_t(n);
            return 1;
        }
        if (n == 0) {
            channel->m_transportEnded = true;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            BIO_set_retry_read(bio);
        } else {
            channel->m_transportErrno = errno;
        }
        return 0;
    }

    static long Control(BIO* bio, int command, long, void*) {
        switch (command) {
            case BIO_CTRL_FLUSH:
                return 1;
            case BIO_CTRL_EOF:
                return Of(bio)->m_transportEnded ? 1 : 0;
            default:
                return 0;
        }
    }

    static int Create(BIO* bio) {
        BIO_set_init(bio, 1);
        return 1;
    }

    static const BIO_METHOD* Method() {
        struct MethodFree {
            void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
        };
        static const std::unique_ptr<BIO_METHOD, MethodFree> method = [] {
            BIO_METHOD* m =
                BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "orvane-socket");
            BIO_meth_set_write_ex(m, Write);
            BIO_meth_set_read_ex(m, Read);
            BIO_meth_set_ctrl(m, Control);
            BIO_meth_set_create(m, Create);
            return std::unique_ptr<BIO_METHOD, MethodFree>(m);
        }();
        return method.get();
    }
};

TlsChannel::TlsChannel(const TlsServerContext& context, int fd) : m_fd(fd) {
    m_ssl = SSL_new(context.Native());
    BIO* bio = m_ssl != nullptr ? BIO_new(TlsChannelTransport::Method()) : nullptr;
    if (bio == nullptr) {
        m_failed = true;
        m_failure = QStringLiteral("out of memory");
        return;
    }
    BIO_set_data(bio, this);
    SSL_set_bio(m_ssl, bio, bio);
    SSL_set_accept_state(m_ssl);
}

TlsChannel::~TlsChannel() {
    SSL_free(m_ssl);
}

TlsChannel::Status TlsChannel::Classify(int result, bool duringHandshake) {
    const int error = SSL_get_error(m_ssl, result);
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return Status::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Status::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            if (!duringHandshake) return Status::Closed;
            m_failure = QStringLiteral("the client left during the handshake");
            break;
        case SSL_ERROR_SYSCALL:
            if (m_transportErrno != 0) {
                m_failure = QString::fromUtf8(strerror(m_transportErrno));
            } else if (!duringHandshake) {
                ERR_clear_error();
                return Status::Closed;
            } else {
                m_failure = QStringLiteral("the client left during the handshake");
            }
            break;
        default: {
            const unsigned long code = ERR_peek_last_error();
            const char* text = code != 0 ? ERR_reason_error_string(code) : nullptr;
            m_failure = text != nullptr ? QString::fromUtf8(text) : QStringLiteral("TLS error");
            break;
        }
    }
    ERR_clear_error();
    // After a fatal error OpenSSL must not be asked for anything more, close_notify included.
    m_failed = true;
    return Status::Failed;
}

TlsChannel::Status TlsChannel::Handshake() {
    if (m_failed) return Status::Failed;
    if (m_established) return Status::Done;
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    if (result == 1) {
        m_established = true;
        return Status::Done;
    }
    return Classify(result, true);
}

TlsChannel::Status TlsChannel::Read(char* buffer, long length, long* count) {
    *count = 0;
    if (m_failed) return Status::Failed;
    if (!m_established) {
        const Status step = Handshake();
        if (step != Status::Done) return step;
    }
    ERR_clear_error();
    size_t got = 0;
    const int result = SSL_read_ex(m_ssl, buffer, size_t(length), &got);
    if (result == 1) {
        *count = long(got);
        return Status::Done;
    }
    return Classify(result, false);
}

TlsChannel::Status TlsChannel::Write(const char* data, long length, long* count) {
    *count = 0;
    if (m_failed) return Status::Failed;
    if (!m_established) {
        const Status step = Handshake();
        if (step != Status::Done) return step;
    }
    if (length <= 0) return Status::Done;
    ERR_clear_error();
    size_t sent = 0;
    const int result = SSL_write_ex(m_ssl, data, size_t(length), &sent);
    if (result == 1) {
        *count = long(sent);
        return Status::Done;
    }
    return Classify(result, false);
}

bool TlsChannel::HasBufferedInput() const {
    return !m_failed && m_ssl != nullptr && SSL_pending(m_ssl) > 0;
}

TlsChannel::Status TlsChannel::Shutdown() {
    if (m_failed || !m_established) return m_failed ? Status::Failed : Status::Done;
    ERR_clear_error();
    const int result = SSL_shutdown(m_ssl);
    // 0: our close_notify is out; the peer's is not awaited, the socket closes next.
    if (result >= 0) return Status::Done;
    const Status status = Classify(result, false);
    return status == Status::WantRead || status == Status::Closed ? Status::Done : status;
}

QString TlsChannel::Description() const {
    if (!m_established) return QString();
    // "TLSv1.3" is written "TLS 1.3" for people; the cipher by its registered name.
    QString protocol = QString::fromLatin1(SSL_get_version(m_ssl));
    protocol.replace(QLatin1String("TLSv"), QLatin1String("TLS "));
    const SSL_CIPHER* cipher = SSL_get_current_cipher(m_ssl);
    const char* name = cipher != nullptr ? SSL_CIPHER_standard_name(cipher) : nullptr;
    if (name == nullptr && cipher != nullptr) name = SSL_CIPHER_get_name(cipher);
    return name != nullptr ? protocol + QLatin1Char(' ') + QString::fromLatin1(name) : protocol;
}

}  // namespace orvane
