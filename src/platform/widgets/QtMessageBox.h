// Message boxes on the desktop: a modal QMessageBox with the caption "Orvane".
#pragma once

#include <QPointer>

#include "platform/MessageBox.h"

class QWidget;

namespace orvane {

class QtMessageBox final : public MessageBoxService {
public:
    explicit QtMessageBox(QWidget* owner = nullptr) : m_owner(owner) {}

    // The window the boxes are centred on and modal to; none for a box of its own.
    void SetOwner(QWidget* owner) { m_owner = owner; }

    MessageAnswer Show(const QString& text, MessageIcon icon,
                       MessageButtons buttons = MessageButtons::Ok) override;

private:
    QPointer<QWidget> m_owner;
};

}  // namespace orvane
