// The display probe: one xcb connection on a thread of its own, so that a display behind a
// silent network cannot hold the start for longer than the patience.
#include "platform/DisplayProbe.h"

#include <xcb/xcb.h>

#include <future>
#include <memory>
#include <thread>

namespace orvane {

namespace {

QString ConnectionProblem(int error) {
    switch (error) {
        case XCB_CONN_CLOSED_PARSE_ERR:
            return QStringLiteral("the display name cannot be read");
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return QStringLiteral("the display has no such screen");
        case XCB_CONN_ERROR:
            return QStringLiteral("no display server answers there, or it refused the connection");
        default:
            return QStringLiteral("the connection to the display failed (xcb error %1)").arg(error);
    }
}

DisplayProbeResult Probe(const QByteArray& display) {
    int screen = 0;
    xcb_connection_t* connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screen);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);  // also frees a connection that failed
    if (error == 0) return {true, {}};
    return {false, ConnectionProblem(error)};
}

}  // namespace

DisplayProbeResult ProbeXDisplay(const QByteArray& display, std::chrono::milliseconds patience) {
    auto promise = std::make_shared<std::promise<DisplayProbeResult>>();
    std::future<DisplayProbeResult> answer = promise->get_future();
    std::thread([promise, display] { promise->set_value(Probe(display)); }).detach();
    if (answer.wait_for(patience) != std::future_status::ready)
        return {false, QStringLiteral("the display did not answer")};
    return answer.get();
}

}  // namespace orvane
