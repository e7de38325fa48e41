// The real reason a port could not be listened on, for the line under the start-failure text.
#pragma once

#include <QString>

namespace orvane {

// "Port 23: permission denied — ports below 1024 need root or CAP_NET_BIND_SERVICE",
// "Port 2323: address already in use", and for any other error its system text. A listen
// address other than every address is named: "Port 2323 on 192.0.2.7: ...".
QString ListenFailureLine(int port, int error, const QString& address = {});

}  // namespace orvane
