// A power interface that records what was asked and answers as told; it never touches
// the machine.
#pragma once

#include <vector>

#include "platform/PowerControl.h"

namespace orvane::test {

class FakePowerControl final : public PowerControl {
public:
    PrivilegeStepResult OpenProcessToken() override {
        ++openCalls;
        return openResult;
    }
    PrivilegeStepResult LookupShutdownPrivilege() override {
        ++lookupCalls;
        return lookupResult;
    }
    PrivilegeStepResult EnableShutdownPrivilege() override {
        ++enableCalls;
        return enableResult;
    }
    bool ExitWindows(unsigned flags) override {
        exitRequests.push_back(flags);
        return acceptExit;
    }

    PrivilegeStepResult openResult;
    PrivilegeStepResult lookupResult;
    PrivilegeStepResult enableResult;
    bool acceptExit = true;
    int openCalls = 0;
    int lookupCalls = 0;
    int enableCalls = 0;
    std::vector<unsigned> exitRequests;
};

}  // namespace orvane::test
