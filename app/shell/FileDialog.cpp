#include "app/shell/FileDialog.h"

#include "platform/Seam.h"

#include <QFileDialog>
#include <QStringList>

namespace lynx::platform {

using Handler = Seam<FileDialogHandler, struct FileDialogService>;

QString QtNameFilter(const QString& windowsFilter)
{
    QStringList parts = windowsFilter.split('|', Qt::SkipEmptyParts);
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        // Qt reads the patterns from the last parentheses, separated by spaces.
        const QString patterns = QStringLiteral("(") + QString(parts[i + 1]).replace(';', ' ') + QStringLiteral(")");
        QString description = parts[i].trimmed();
        // Windows shows the description alone, so it often names the
        // patterns itself: "(*.csv)", "CSV (*.csv)". Those are not repeated.
        if (QString(description).replace(';', ' ').endsWith(patterns))
            description = description.left(description.size() - patterns.size()).trimmed();
        filters << (description.isEmpty() ? patterns : description + QStringLiteral(" ") + patterns);
    }
    return filters.join(";;");
}

QString GetOpenFileName(const FileDialogRequest& request)
{
    if (Handler::Current())
        return Handler::Current()(request);
    QFileDialog dialog(request.parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QtNameFilter(request.filter));
    dialog.setOption(QFileDialog::ReadOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString GetSaveFileName(FileDialogRequest request)
{
    request.save = true;
    if (Handler::Current())
        return Handler::Current()(request);
    QFileDialog dialog(request.parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QtNameFilter(request.filter));
    dialog.selectFile(request.defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler h)
{
    return Handler::Replace(std::move(h));
}

} // namespace lynx::platform
