// SIGPIPE ignored for the whole process.
#include "platform/ProcessSignals.h"

#include <signal.h>

#include <cerrno>
#include <cstring>

#include "platform/Logging.h"

namespace orvane {

bool IgnoreBrokenPipeSignal() {
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGPIPE, &action, nullptr) == 0) return true;
    qCDebug(lcPlatform, "SIGPIPE not ignored: %s", std::strerror(errno));
    return false;
}

}  // namespace orvane
