// The session's side of a `dos` bridge: where the interpreter's output goes and how the
// bridge tells the session that it has ended.
#pragma once

namespace orvane {

class BridgeEndpoint {
public:
    virtual ~BridgeEndpoint() = default;
    // Queues bytes for the client. Returns 0 when the connection failed (not when it is
    // merely closing: a closing session drops the bytes and returns 1).
    virtual int SendBuffer(const char* data, int length) = 0;
    // True while the session's output buffer is at its limit: the bridge stops reading the
    // interpreter until ResumeOutput() is called on it.
    virtual bool OutputBufferFull() const = 0;
    // The bridge has ended, for any reason, after its closing text was queued: the session
    // sends "\r\n> " and returns to its command state. Called exactly once per bridge,
    // possibly from inside DosBridge::Start() (when the interpreter could not start).
    virtual void BridgeEnded() = 0;
};

}  // namespace orvane
