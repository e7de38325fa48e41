// QFileDialog with the request's title, filters, default extension, folder and existence rule.
#include "platform/widgets/QtFileChooser.h"

#include <QFileDialog>

namespace orvane {

QString QtFileChooser::ChooseFile(QWidget* owner, const FileChooserRequest& request) {
    QFileDialog dialog(owner, request.title, request.initialFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A file that need not exist still has to lie in an existing folder, as the chooser's
    // "path must exist" rule asks.
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters.split(QStringLiteral(";;"), Qt::SkipEmptyParts));
    dialog.setDefaultSuffix(request.defaultExtension);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

}  // namespace orvane
