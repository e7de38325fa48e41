// Weak stand-ins for the bridge's out-of-line members so that the core library links while
// the bridge's own source is not in this tree. Any real definition replaces them at link
// time; none of them runs, because no bridge can be made without that source.
// Delete this file once src/telnet/DosBridge.cpp is present.
#include "telnet/DosBridge.h"

namespace orvane {

__attribute__((weak)) DosBridge::~DosBridge() = default;
__attribute__((weak)) void DosBridge::Start() {}
__attribute__((weak)) void DosBridge::WriteToInterpreter(const char*, int) {}
__attribute__((weak)) void DosBridge::ResumeOutput() {}
__attribute__((weak)) void DosBridge::ClientClosed() {}
__attribute__((weak)) bool DosBridge::IsRunning() const {
    return false;
}

}  // namespace orvane
