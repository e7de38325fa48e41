// The Linux start-up platform: the session bus decides whether automation runs.
#include "automation/LinuxStartupPlatform.h"

#include <QDBusConnection>

#include "app/OrvaneApp.h"
#include "automation/AutomationServer.h"
#include "platform/Logging.h"

namespace orvane {

LinuxStartupPlatform::LinuxStartupPlatform(QStringList arguments)
    : m_arguments(std::move(arguments)) {}

LinuxStartupPlatform::~LinuxStartupPlatform() = default;

bool LinuxStartupPlatform::StartComponentRuntime() {
    return QDBusConnection::sessionBus().isConnected();
}

void LinuxStartupPlatform::RegisterAutomation(COrvaneApp& app) {
    if (IsAutomationRun(m_arguments)) {
        m_automation = std::make_unique<AutomationServer>();
        m_automation->RegisterAll();
    } else {
        // Best effort: without the file the bus cannot start the program, which the
        // running program does not need.
        if (!UpdateRegistryAll(app.Locations().ProgramPath()))
            qCDebug(lcPlatform, "automation service file not updated");
    }
}

}  // namespace orvane
