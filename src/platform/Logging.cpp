// The diagnostic category: debug messages only, which Qt leaves off unless a rule enables them.
#include "platform/Logging.h"

namespace orvane {

Q_LOGGING_CATEGORY(lcPlatform, "orvane.platform", QtInfoMsg)

}  // namespace orvane
