// The application object.
#include "app/OrvaneApp.h"

namespace orvane {

COrvaneApp::COrvaneApp(const QString& programPath, SettingsStore& settings,
                       MessageBoxService& messages)
    : m_locations(FileLocations::ForProgram(programPath)),
      m_settings(settings),
      m_messages(messages),
      m_database(m_locations.DataFilePath(), messages) {}

}  // namespace orvane
