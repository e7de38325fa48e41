// Control construction shared by the configuration pages and the user dialogs.
#include "ui/PageControls.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace orvane {

QCheckBox* MakeCheckBox(const QString& text, const char* id, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(id));
    return box;
}

QLineEdit* MakeLineEdit(const char* id, QWidget* parent, bool masked) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(id));
    if (masked) edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QPushButton* MakeButton(const QString& text, const char* id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(id));
    button->setAutoDefault(false);
    return button;
}

QPlainTextEdit* MakeMultiLineEdit(const char* id, QWidget* parent) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setObjectName(QLatin1String(id));
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setTabChangesFocus(true);
    return edit;
}

}  // namespace orvane
