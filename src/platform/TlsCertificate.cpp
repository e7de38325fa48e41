// Making, keeping and fingerprinting the self-signed certificate of the encrypted port.
#include "platform/TlsCertificate.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/TlsServerContext.h"

namespace orvane {
namespace {

const char kCertificateName[] = "tls-certificate.pem";
const char kKeyName[] = "tls-key.pem";
// Ten years, leap days included.
constexpr int kValidDays = 3653;

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using NamesPtr = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES_free>>;

QString OpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* text = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return text != nullptr ? QString::fromUtf8(text) : QStringLiteral("unknown error");
}

bool AddName(GENERAL_NAMES* names, int type, ASN1_STRING* value) {
    if (value == nullptr) return false;
    GENERAL_NAME* name = GENERAL_NAME_new();
    if (name == nullptr) {
        ASN1_STRING_free(value);
        return false;
    }
    GENERAL_NAME_set0_value(name, type, value);
    if (sk_GENERAL_NAME_push(names, name) == 0) {
        GENERAL_NAME_free(name);
        return false;
    }
    return true;
}

// Subject alternative names built one by one: a host name is data here, never parsed as
// the configuration syntax that a "DNS:a,IP:b" text would go through.
bool AddSubjectNames(X509* certificate, const QString& hostName, const QStringList& addresses) {
    NamesPtr names(sk_GENERAL_NAME_new_null());
    if (!names) return false;
    const QByteArray host = hostName.toUtf8();
    ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
    if (dns == nullptr || ASN1_STRING_set(dns, host.constData(), int(host.size())) != 1) {
        ASN1_IA5STRING_free(dns);
        return false;
    }
    if (!AddName(names.get(), GEN_DNS, dns)) return false;
    for (const QString& address : addresses) {
        // Scoped IPv6 addresses ("fe80::1%eth0") are named without their scope.
        const QByteArray text = address.section(QLatin1Char('%'), 0, 0).toLatin1();
        ASN1_OCTET_STRING* ip = a2i_IPADDRESS(text.constData());
        if (ip == nullptr) {
            ERR_clear_error();
            continue;
        }
        if (!AddName(names.get(), GEN_IPADD, ip)) return false;
    }
    return X509_add1_ext_i2d(certificate, NID_subject_alt_name, names.get(), 0,
                             X509V3_ADD_DEFAULT) == 1;
}

bool AddExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    if (extension == nullptr) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

X509Ptr MakeCertificate(EVP_PKEY* key, const QString& hostName, const QStringList& addresses) {
    X509Ptr certificate(X509_new());
    BignumPtr serial(BN_new());
    if (!certificate || !serial) return nullptr;
    X509* cert = certificate.get();
    // A random positive serial of 127 bits, so that a regenerated certificate never repeats one.
    if (X509_set_version(cert, X509_VERSION_3) != 1 ||
        BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) == nullptr) {
        return nullptr;
    }
    // Valid from an hour ago: a client whose clock is a little behind still accepts it.
    if (X509_gmtime_adj(X509_getm_notBefore(cert), -3600) == nullptr ||
        X509_time_adj_ex(X509_getm_notAfter(cert), kValidDays, 0, nullptr) == nullptr) {
        return nullptr;
    }
    const QByteArray commonName = hostName.left(64).toUtf8();
    X509_NAME* subject = X509_get_subject_name(cert);
    if (X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("Orvane"), -1, -1,
                                   0) != 1 ||
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.constData()),
                                   int(commonName.size()), -1, 0) != 1 ||
        X509_set_issuer_name(cert, subject) != 1 || X509_set_pubkey(cert, key) != 1) {
        return nullptr;
    }
    X509V3_CTX context;
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    if (!AddExtension(cert, &context, NID_basic_constraints, "critical,CA:FALSE") ||
        !AddExtension(cert, &context, NID_key_usage, "critical,digitalSignature") ||
        !AddExtension(cert, &context, NID_ext_key_usage, "serverAuth") ||
        !AddExtension(cert, &context, NID_subject_key_identifier, "hash") ||
        !AddSubjectNames(cert, hostName, addresses)) {
        return nullptr;
    }
    if (X509_sign(cert, key, EVP_sha256()) <= 0) return nullptr;
    return certificate;
}

// Writes next to the final name and renames, so a crash never leaves half a file behind.
bool WritePem(const QString& path, mode_t mode, const std::function<int(BIO*)>& write,
              QString* reason) {
    const QByteArray final = QFile::encodeName(path);
    const QByteArray temporary = final + ".new";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        *reason =
            QStringLiteral("cannot write %1: %2").arg(path, QString::fromUtf8(strerror(errno)));
        return false;
    }
    // The umask may only narrow the mode; the key must never be wider than asked either.
    ::fchmod(fd, mode);
    BioPtr bio(BIO_new_fd(fd, BIO_NOCLOSE));
    const bool written = bio && write(bio.get()) == 1 && BIO_flush(bio.get()) == 1;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!written || !synced || ::rename(temporary.constData(), final.constData()) != 0) {
        *reason = QStringLiteral("cannot write %1: %2")
                      .arg(path, written ? QString::fromUtf8(strerror(errno)) : OpenSslReason());
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

bool PrepareDirectory(const QString& directory, QString* reason) {
    if (!QDir().mkpath(directory)) {
        *reason = QStringLiteral("cannot create the directory %1").arg(directory);
        return false;
    }
    // The key lives here: nobody else may even list the directory.
    if (::chmod(QFile::encodeName(directory).constData(), 0700) != 0) {
        *reason = QStringLiteral("cannot protect the directory %1: %2")
                      .arg(directory, QString::fromUtf8(strerror(errno)));
        return false;
    }
    return true;
}

}  // namespace

QString CertificateFingerprint(const x509_st* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) {
        ERR_clear_error();
        return QString();
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex(':').toUpper());
}

QString CertificateFileFingerprint(const QString& file, QString* reason) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot read the certificate file %1: %2")
                      .arg(file, input.errorString());
        return QString();
    }
    const QByteArray bytes = input.readAll();
    BioPtr bio(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
    X509Ptr certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!certificate) {
        *reason =
            QStringLiteral("the file %1 holds no PEM certificate (%2)").arg(file, OpenSslReason());
        return QString();
    }
    return CertificateFingerprint(certificate.get());
}

QString SelfSignedCertificatePath(const QString& directory) {
    return QDir(directory).filePath(QLatin1String(kCertificateName));
}

QStringList LocalHostAddresses() {
    QStringList addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        const QString text = address.toString().section(QLatin1Char('%'), 0, 0);
        if (!addresses.contains(text)) addresses.append(text);
    }
    return addresses;
}

std::optional<SelfSignedPair> ProvideSelfSignedPair(const QString& directory,
                                                    const QString& hostName,
                                                    const QStringList& addresses, QString* reason) {
    ERR_clear_error();
    SelfSignedPair pair;
    pair.certificateFile = SelfSignedCertificatePath(directory);
    pair.keyFile = QDir(directory).filePath(QLatin1String(kKeyName));
    if (!PrepareDirectory(directory, reason)) return std::nullopt;

    if (QFileInfo::exists(pair.certificateFile) && QFileInfo::exists(pair.keyFile)) {
        // A pair that is there but broken is reported, not replaced: replacing it would
        // silently change the fingerprint users have learnt to trust.
        if (!TlsServerContext::Load(pair.certificateFile, pair.keyFile, reason)) {
            return std::nullopt;
        }
        if (::chmod(QFile::encodeName(pair.keyFile).constData(), 0600) != 0) {
            *reason = QStringLiteral("cannot protect the key file %1: %2")
                          .arg(pair.keyFile, QString::fromUtf8(strerror(errno)));
            return std::nullopt;
        }
        return pair;
    }

    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr certificate =
        key ? MakeCertificate(
                  key.get(), hostName.isEmpty() ? QStringLiteral("localhost") : hostName, addresses)
            : nullptr;
    if (!certificate) {
        *reason = QStringLiteral("cannot make a certificate (%1)").arg(OpenSslReason());
        return std::nullopt;
    }
    // The key first: a certificate without its key would make the next start try again
    // anyway, while a certificate that is there always has its key beside it.
    EVP_PKEY* rawKey = key.get();
    X509* rawCertificate = certificate.get();
    if (!WritePem(
            pair.keyFile, 0600,
            [rawKey](BIO* bio) {
                return PEM_write_bio_PrivateKey(bio, rawKey, nullptr, nullptr, 0, nullptr, nullptr);
            },
            reason) ||
        !WritePem(
            pair.certificateFile, 0644,
            [rawCertificate](BIO* bio) { return PEM_write_bio_X509(bio, rawCertificate); },
            reason)) {
        return std::nullopt;
    }
    pair.created = true;
    return pair;
}

}  // namespace orvane
