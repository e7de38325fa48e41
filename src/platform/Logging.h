// The program's diagnostic category for best-effort steps whose failure changes nothing the
// user sees (a socket option, a pipe size, a signal disposition, a service file). Off by
// default; QT_LOGGING_RULES="orvane.platform.debug=true" shows it.
#pragma once

#include <QLoggingCategory>

namespace orvane {

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

}  // namespace orvane
