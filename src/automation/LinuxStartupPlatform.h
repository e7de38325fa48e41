// The start-up platform of a Linux desktop: sockets and the session bus, where automation lives.
#pragma once

#include <QStringList>
#include <memory>

#include "app/Startup.h"

namespace orvane {

class AutomationServer;

// Sockets always work on Linux; the component runtime is the D-Bus session bus.
class LinuxStartupPlatform final : public StartupPlatform {
public:
    explicit LinuxStartupPlatform(QStringList arguments);
    ~LinuxStartupPlatform() override;

    bool StartSockets() override { return true; }
    bool StartComponentRuntime() override;
    void RegisterAutomation(COrvaneApp& app) override;

    // The class factory of an automation run, or null; the main window attaches to it.
    AutomationServer* Automation() const { return m_automation.get(); }

private:
    QStringList m_arguments;
    std::unique_ptr<AutomationServer> m_automation;
};

}  // namespace orvane
