// The open-file chooser on QFileDialog.
#pragma once

#include "platform/FileChooser.h"

namespace orvane {

class QtFileChooser final : public FileChooser {
public:
    QString ChooseFile(QWidget* owner, const FileChooserRequest& request) override;
};

}  // namespace orvane
