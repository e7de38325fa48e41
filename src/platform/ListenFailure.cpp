// Listen errors in the operator's words, from the errno the failing call left.
#include "platform/ListenFailure.h"

#include <cerrno>
#include <cstring>

namespace orvane {

QString ListenFailureLine(int port, int error, const QString& address) {
    QString reason;
    switch (error) {
        case EACCES:
        case EPERM:
            reason = QStringLiteral("permission denied");
            if (port < 1024)
                reason +=
                    QStringLiteral(" \u2014 ports below 1024 need root or CAP_NET_BIND_SERVICE");
            break;
        case EADDRINUSE:
            reason = QStringLiteral("address already in use");
            break;
        case EADDRNOTAVAIL:
            reason = QStringLiteral("address not available on this machine");
            break;
        default:
            reason = QString::fromLocal8Bit(std::strerror(error));
            if (!reason.isEmpty()) reason[0] = reason[0].toLower();
            break;
    }
    if (!address.isEmpty())
        return QStringLiteral("Port %1 on %2: %3").arg(port).arg(address, reason);
    return QStringLiteral("Port %1: %2").arg(port).arg(reason);
}

}  // namespace orvane
