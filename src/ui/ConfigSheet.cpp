// Placeholder sheet until its pages are built: OK copies the table back and saves it.
#include "ui/ConfigSheet.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QVBoxLayout>
#include <memory>

#include "app/OrvaneApp.h"

namespace orvane {

bool RunConfigurationSheet(QWidget* owner, COrvaneApp& app, SoundPlayer&, FileChooser&) {
    auto pageCopy = std::make_unique<UserTable>(app.Users());
    QDialog sheet(owner);
    sheet.setWindowTitle(QStringLiteral("Server Configuration"));
    auto* layout = new QVBoxLayout(&sheet);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &sheet, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &sheet, &QDialog::reject);
    if (sheet.exec() != QDialog::Accepted) return false;
    app.Users() = *pageCopy;
    app.SaveUserDatabase();
    return true;
}

}  // namespace orvane
