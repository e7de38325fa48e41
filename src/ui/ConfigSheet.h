// The "Server Configuration" sheet, as the main window runs it.
#pragma once

class QWidget;

namespace orvane {

class COrvaneApp;
class SoundPlayer;
class FileChooser;

// Shows the sheet modally over the owner. The Users page works on a copy of the live table;
// on OK the copy replaces the live table and is saved; on Cancel nothing is copied back.
// Returns true when the sheet closed with OK.
bool RunConfigurationSheet(QWidget* owner, COrvaneApp& app, SoundPlayer& sound,
                           FileChooser& chooser);

}  // namespace orvane
