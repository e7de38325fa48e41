// Process-wide signal dispositions, set once at start-up before any socket or pipe exists.
#pragma once

namespace orvane {

// A write to a socket or pipe whose reader has gone must come back as EPIPE, not end the
// server. False when the disposition could not be set (logged in orvane.platform).
bool IgnoreBrokenPipeSignal();

}  // namespace orvane
