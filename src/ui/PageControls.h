// The controls the pages and dialogs are built from, each named by its id in ControlIds.h.
#pragma once

#include <QString>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace orvane {

QCheckBox* MakeCheckBox(const QString& text, const char* id, QWidget* parent);
// A masked field shows dots for what is typed (the password fields).
QLineEdit* MakeLineEdit(const char* id, QWidget* parent, bool masked = false);
// Never the default button: Enter in a field means the dialog's OK.
QPushButton* MakeButton(const QString& text, const char* id, QWidget* parent);
// Several lines, unwrapped; Tab leaves the field instead of typing a tab.
QPlainTextEdit* MakeMultiLineEdit(const char* id, QWidget* parent);

}  // namespace orvane
