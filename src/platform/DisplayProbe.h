// Whether an X display can be opened, asked before any Qt application object exists: Qt ends
// the program when its platform cannot connect, so a stale DISPLAY must be caught first.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

namespace orvane {

struct DisplayProbeResult {
    bool usable = false;
    QString reason;  // why not, in a few words, when not usable
};

// Connects to the display (the name as DISPLAY holds it; empty means DISPLAY's own value),
// with its authorisation, and disconnects at once. A display that has not answered within the
// patience counts as unusable; the attempt is left to end on its own.
DisplayProbeResult ProbeXDisplay(const QByteArray& display,
                                 std::chrono::milliseconds patience = std::chrono::seconds(5));

}  // namespace orvane
