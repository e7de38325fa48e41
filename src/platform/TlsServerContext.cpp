// The server's TLS context from PEM files, with failure reasons an operator can act on.
#include "platform/TlsServerContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QFile>

#include "platform/TlsCertificate.h"

namespace orvane {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// A key protected by a pass phrase must fail here, not stop the server to ask on a terminal.
int NoPassPhrase(char*, int, int, void*) {
    return -1;
}

QString LastOpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* text = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return text != nullptr ? QString::fromUtf8(text) : QStringLiteral("unknown error");
}

bool ReadWholeFile(const QString& path, const QString& what, QByteArray* contents,
                   QString* reason) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason =
            QStringLiteral("cannot read the %1 file %2: %3").arg(what, path, file.errorString());
        return false;
    }
    *contents = file.readAll();
    return true;
}

std::unique_ptr<BIO, BioFree> MemoryBio(const QByteArray& bytes) {
    return std::unique_ptr<BIO, BioFree>(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

}  // namespace

TlsServerContext::TlsServerContext(ssl_ctx_st* context, QString fingerprint)
    : m_context(context), m_fingerprint(std::move(fingerprint)) {}

TlsServerContext::~TlsServerContext() {
    SSL_CTX_free(m_context);
}

std::unique_ptr<TlsServerContext> TlsServerContext::Load(const QString& certificateFile,
                                                         const QString& keyFile, QString* reason) {
    ERR_clear_error();
    QByteArray certificateBytes;
    QByteArray keyBytes;
    if (!ReadWholeFile(certificateFile, QStringLiteral("certificate"), &certificateBytes, reason) ||
        !ReadWholeFile(keyFile, QStringLiteral("key"), &keyBytes, reason)) {
        return nullptr;
    }

    auto certificateBio = MemoryBio(certificateBytes);
    std::unique_ptr<X509, X509Free> certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, NoPassPhrase, nullptr));
    if (!certificate) {
        *reason = QStringLiteral("the file %1 holds no PEM certificate (%2)")
                      .arg(certificateFile, LastOpenSslReason());
        return nullptr;
    }
    auto keyBio = MemoryBio(keyBytes);
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassPhrase, nullptr));
    if (!key) {
        *reason = QStringLiteral("the file %1 holds no unencrypted PEM private key (%2)")
                      .arg(keyFile, LastOpenSslReason());
        return nullptr;
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        ERR_clear_error();
        *reason = QStringLiteral("the key in %1 does not match the certificate in %2")
                      .arg(keyFile, certificateFile);
        return nullptr;
    }

    std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_server_method()));
    if (!context) {
        *reason = QStringLiteral("TLS is not available (%1)").arg(LastOpenSslReason());
        return nullptr;
    }
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Client-side renegotiation is a known way to make a server do expensive work for free;
    // a Telnet session never needs it. An end of stream without close_notify is how many
    // Telnet clients leave, so it reads as an ordinary close.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_TICKET |
                                 SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Writes behave like send(): a part may be taken, and a retry may come from a moved buffer
    // (the session's output buffer grows and shifts between tries).
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_cipher_list(ctx, "ECDHE+AESGCM:ECDHE+CHACHA20:!aNULL");

    if (SSL_CTX_use_certificate(ctx, certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
        *reason = QStringLiteral("the certificate in %1 cannot be used (%2)")
                      .arg(certificateFile, LastOpenSslReason());
        return nullptr;
    }
    // The rest of the certificate file is the chain a client may need.
    while (X509* extra = PEM_read_bio_X509(certificateBio.get(), nullptr, NoPassPhrase, nullptr)) {
        if (SSL_CTX_add0_chain_cert(ctx, extra) != 1) X509_free(extra);
    }
    ERR_clear_error();
    if (SSL_CTX_check_private_key(ctx) != 1) {
        *reason = QStringLiteral("the key in %1 does not match the certificate in %2")
                      .arg(keyFile, certificateFile);
        ERR_clear_error();
        return nullptr;
    }
    QString fingerprint = CertificateFingerprint(certificate.get());
    return std::unique_ptr<TlsServerContext>(
        new TlsServerContext(context.release(), std::move(fingerprint)));
}

}  // namespace orvane
