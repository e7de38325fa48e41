// The open-file chooser, behind an interface so that tests can choose a file.
#pragma once

#include <QString>

class QWidget;

namespace orvane {

struct FileChooserRequest {
    QString title;
    QString filters;           // Qt filter list, e.g. "Log Files (*.log);;All Files (*.*)"
    QString defaultExtension;  // without the dot
    QString initialFolder;
    bool fileMustExist = false;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen file's full path, or an empty string when nothing was chosen.
    virtual QString ChooseFile(QWidget* owner, const FileChooserRequest& request) = 0;
};

}  // namespace orvane
