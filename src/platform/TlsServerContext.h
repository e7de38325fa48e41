// The server side of encrypted connections: one context made from a certificate and its key,
// from which every TLS connection of a server run is made.
#pragma once

#include <QString>
#include <memory>

struct ssl_ctx_st;

namespace orvane {

class TlsServerContext final {
public:
    // Reads a PEM certificate (further certificates in the file form its chain) and its PEM
    // private key. Only TLS 1.2 and 1.3 are offered, without renegotiation or compression.
    // On failure: nullptr and, in *reason, a sentence naming the file and what is wrong.
    static std::unique_ptr<TlsServerContext> Load(const QString& certificateFile,
                                                  const QString& keyFile, QString* reason);
    ~TlsServerContext();
    TlsServerContext(const TlsServerContext&) = delete;
    TlsServerContext& operator=(const TlsServerContext&) = delete;

    // The certificate's SHA-256 fingerprint, "AB:CD:..." (what clients show to compare).
    const QString& Fingerprint() const { return m_fingerprint; }
    ssl_ctx_st* Native() const { return m_context; }

private:
    TlsServerContext(ssl_ctx_st* context, QString fingerprint);

    ssl_ctx_st* m_context;
    QString m_fingerprint;
};

}  // namespace orvane
