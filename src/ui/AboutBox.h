// The small About box reached from the main window's menu.
#pragma once

#include <QDialog>

namespace orvane {

class CAboutBox final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
};

}  // namespace orvane
