#include "platform/FileDialog.h"

#include "platform/Seam.h"

#include <QFileDialog>
#include <QStringList>

namespace lynx::platform {

using Handler = Seam<FileDialogHandler, struct FileDialogService>;

namespace {

// "(*.zip)|*.zip|" (description|pattern|...) becomes Qt's "(*.zip) (*.zip)".
QString qtFilter(const QString& windowsFilter)
{
    QStringList parts = windowsFilter.split('|', Qt::SkipEmptyParts);
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    return filters.join(";;");
}

} // namespace

QString GetOpenFileName(const FileDialogRequest& request)
{
    if (Handler::Current())
        return Handler::Current()(request);
    QFileDialog dialog(request.parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(qtFilter(request.filter));
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
    dialog.setNameFilter(qtFilter(request.filter));
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
