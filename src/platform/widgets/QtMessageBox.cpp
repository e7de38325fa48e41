// Shows the operator's message boxes with QMessageBox.
#include "platform/widgets/QtMessageBox.h"

#include <QMessageBox>

namespace orvane {

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Stop:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MessageAnswer QtMessageBox::Show(const QString& text, MessageIcon icon, MessageButtons buttons) {
    const bool question = buttons == MessageButtons::YesNo;
    QMessageBox box(ToQtIcon(icon), QStringLiteral("Orvane"), text,
                    question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    m_owner.data());
    // The texts carry user names and file paths; a name like "<b>" must show as typed.
    box.setTextFormat(Qt::PlainText);
    if (question) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    box.exec();
    if (!question) return MessageAnswer::Ok;
    return box.clickedButton() == box.button(QMessageBox::Yes) ? MessageAnswer::Yes
                                                               : MessageAnswer::No;
}

}  // namespace orvane
