// The certificate an encrypted port shows when the operator configured none: a self-signed
// one made once and kept, and the fingerprint by which a user recognises it.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct x509_st;

namespace orvane {

// The SHA-256 fingerprint as colon-separated upper-case hex pairs ("AB:CD:...").
QString CertificateFingerprint(const x509_st* certificate);
// The same for the first certificate of a PEM file; empty with *reason when it cannot.
QString CertificateFileFingerprint(const QString& file, QString* reason);

// The machine's own addresses (loopback included), as the certificate names them.
QStringList LocalHostAddresses();

// Where the generated certificate of `directory` is (whether it exists yet or not).
QString SelfSignedCertificatePath(const QString& directory);

struct SelfSignedPair {
    QString certificateFile;
    QString keyFile;
    bool created = false;
};

// The generated pair in `directory`: made when either file is missing (an ECDSA P-256 key
// and a certificate valid for ten years naming `hostName` and `addresses`), reused as it is
// otherwise, so that its fingerprint stays the one users have checked. The directory is
// kept at mode 0700 and the key at 0600. nullopt with *reason when it cannot be made, or
// when the pair there cannot be used.
std::optional<SelfSignedPair> ProvideSelfSignedPair(const QString& directory,
                                                    const QString& hostName,
                                                    const QStringList& addresses, QString* reason);

}  // namespace orvane
